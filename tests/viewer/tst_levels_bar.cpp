// The levels tool bar over a scene (what it shows and what an edit sets), and one channel
// with levels set: the canvas follows them, the readout and the saved file keep raw values.

#include "../display/DisplayTestSupport.h"
#include "../runtime/RuntimeTestSupport.h"

#include "Channel.h"
#include "LevelsBar.h"
#include "ViewerOptions.h"

#include "frame/VexoDisplayQt4.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QTemporaryDir>
#include <QtTest>
#include <QtWidgets>

#include <memory>

using namespace vexo::core;

Q_DECLARE_METATYPE(DisplayLevels)

namespace {

QString describe(const DisplayLevels& l)
{
    const char* modes[] = {"default", "manual", "auto"};
    return QStringLiteral("%1 %2,%3").arg(modes[int(l.mode)]).arg(l.minimum).arg(l.maximum);
}

} // namespace

class TestLevelsBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(config.filePath("config.ini")));
        VexoDisplayQt4Init();
    }
    void cleanupTestCase() { VexoDisplayQt4Deinit(); }

    // Edits: "min=N", "max=N" type into a spin box, "auto" clicks the button.
    void bar_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<DisplayLevels>("initial");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("levels"); // the scene's afterwards
        QTest::addColumn<QString>("shown"); // auto checked, Min, Max, their top, the range in use

        const DisplayLevels plain;
        QTest::newRow("default, 12 bits") << 12 << plain << "" << "default 0,65535" << "0 0 4095 4095 in use 0 .. 4095";
        QTest::newRow("manual from the command line")
            << 12 << DisplayLevels::manual(0, 400) << "" << "manual 0,400" << "0 0 400 4095 in use 0 .. 400";
        QTest::newRow("max typed") << 12 << plain << "max=400" << "manual 0,400" << "0 0 400 4095 in use 0 .. 400";
        QTest::newRow("min typed above max: one wide")
            << 12 << DisplayLevels::manual(0, 400) << "min=500" << "manual 500,400" << "0 500 501 4095 in use 500 .. 501";
        QTest::newRow("10 bits") << 10 << plain << "max=1000" << "manual 0,1000" << "0 0 1000 1023 in use 0 .. 1000";
        // Not yet measured (nothing rendered): Auto shows the default range until it is.
        QTest::newRow("auto on") << 12 << plain << "auto" << "auto 0,65535" << "1 0 4095 4095 in use 0 .. 4095";
        QTest::newRow("auto off keeps the range shown")
            << 12 << DisplayLevels::automatic() << "auto" << "manual 0,4095" << "0 0 4095 4095 in use 0 .. 4095";
        QTest::newRow("typing ends auto")
            << 12 << DisplayLevels::automatic() << "max=300" << "manual 0,300" << "0 0 300 4095 in use 0 .. 300";
    }
    void bar()
    {
        QFETCH(int, bits);
        QFETCH(DisplayLevels, initial);
        QFETCH(QString, edits);
        QFETCH(QString, levels);
        QFETCH(QString, shown);

        const auto scene = DisplayScene::create(FrameFormat{64, 8, bits, true}, 3);
        scene->setDisplayLevels(initial);
        QMainWindow window;
        auto* bar = new LevelsBar(scene, &window);
        window.addToolBar(bar);
        auto* autoButton = bar->findChild<QToolButton*>("levelsAuto");
        auto* minimum = bar->findChild<QSpinBox*>("levelsMinimum");
        auto* maximum = bar->findChild<QSpinBox*>("levelsMaximum");
        for (const QString& edit : edits.split(' ', Qt::SkipEmptyParts)) {
            if (edit == QLatin1String("auto")) {
                autoButton->click();
                continue;
            }
            QSpinBox* box = edit.startsWith("min") ? minimum : maximum;
            box->selectAll();
            QTest::keyClicks(box, edit.section('=', 1));
        }
        QCOMPARE(describe(scene->displayLevels()), levels);
        const QString got = QStringLiteral("%1 %2 %3 %4 %5")
                                .arg(int(autoButton->isChecked()))
                                .arg(minimum->value())
                                .arg(maximum->value())
                                .arg(maximum->maximum())
                                .arg(bar->findChild<QLabel*>("levelsInUse")->text().trimmed());
        QCOMPARE(got, shown);
    }

    // Values 10 x column + 5 on a 12-bit frame shown with levels 0,400: columns from 40 on
    // are white on the canvas (the plain scaling would not pass 635 >> 4 = 39), yet the
    // readout and the saved frame give the values as acquired. Then Auto, from the bar: the
    // range measured (5 .. 635) is shown, and showing it leaves Auto on.
    void readoutAndSavedFrameRaw()
    {
        ViewerOptions options;
        options.levels = DisplayLevels::manual(0, 400);
        auto* source = new ManualFrameSource(FrameFormat{64, 8, 12, true});
        source->setStatus({true});
        Channel channel(options, std::unique_ptr<FrameSource>(source), 0, 0);
        Qt4DisplaySceneVisualizer* window = channel.window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(window->findChild<LevelsBar*>("levelsBar"));
        source->pushFrame([](FrameBuffer& b) {
            for (int y = 0; y < b.height(); ++y)
                for (int x = 0; x < b.width(); ++x)
                    b.line(y)[x] = std::uint16_t(10 * x + 5);
        });
        QTest::mouseClick(window->findChild<QPushButton*>("grabSingleButton"), Qt::LeftButton);
        QTRY_COMPARE(window->findChild<QLabel*>("frameIndexLabel")->text(), QStringLiteral("0"));
        const auto brightest = [window] {
            const QImage shown = VisualizerInspector::canvasPixmap(window).toImage();
            int most = 0;
            for (int x = 0; x < shown.width(); ++x)
                most = std::max(most, qRed(shown.pixel(x, 0)));
            return most;
        };
        QTRY_COMPARE(brightest(), 255);

        window->findChild<QPushButton*>("hexDecButton")->setChecked(false);
        int checked = 0;
        for (int cx = 0; cx < 400; ++cx) {
            window->notifyCanvasMousePosition(QPoint(cx, 1));
            const QString position = window->findChild<QLabel*>("positionLabel")->text();
            const QRegularExpressionMatch m = QRegularExpression("^\\((\\d+), (\\d+)\\)$").match(position);
            if (!m.hasMatch())
                continue;
            const int x = m.captured(1).toInt();
            if (x < 45)
                continue;
            QCOMPARE(window->findChild<QLabel*>("dataLabel")->text(), QString::number(10 * x + 5));
            ++checked;
        }
        QVERIFY(checked > 0);

        QTemporaryDir dir;
        DialogAnswerer answerer;
        answerer.fileNames << dir.filePath("frame.tif");
        QVERIFY(QMetaObject::invokeMethod(window, "saveFrameButtonClicked"));
        const TiffImage saved = readTiff(dir.filePath("frame.tif").toStdString());
        QCOMPARE(saved.samples.size(), std::size_t(64 * 8));
        for (const int x : {0, 20, 40, 63})
            QCOMPARE(int(saved.samples[3 * 64 + x]), 10 * x + 5);

        window->findChild<QToolButton*>("levelsAuto")->click();
        QTRY_COMPARE(window->findChild<QLabel*>("levelsInUse")->text().trimmed(), QStringLiteral("in use 5 .. 635"));
        QCOMPARE(window->findChild<QSpinBox*>("levelsMinimum")->value(), 5);
        QVERIFY(channel.scene()->displayLevels() == DisplayLevels::automatic());
    }

private:
    QTemporaryDir config;
};

QTEST_MAIN(TestLevelsBar)
#include "tst_levels_bar.moc"
