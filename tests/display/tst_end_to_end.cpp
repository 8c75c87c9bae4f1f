// The window on the built-in simulator, driven through its own controls.

#include "DisplayTestSupport.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSlider>
#include <QtTest>

using namespace vexo::core;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void firstGrabFillsCanvas_data()
    {
        // readPixel: grab, stop, read a pixel and browse
        columns<QSize, bool, bool>("windowSize", "resizedBeforeShow", "readPixel");
        QTest::newRow("form's own size") << QSize() << false << false;
        QTest::newRow("small, before show") << QSize(420, 260) << true << false;
        QTest::newRow("large, before show") << QSize(1400, 900) << true << false;
        QTest::newRow("resized after show") << QSize(800, 600) << false << false;
        QTest::newRow("grab, stop, browse, read") << QSize(900, 400) << true << true;
    }

    // The layout sizes the canvas after the window's own resize event: the scene must
    // still work with the canvas's real size, from the first frame on.
    void firstGrabFillsCanvas()
    {
        const auto [windowSize, resizedBeforeShow, readPixel] = fetch<QSize, bool, bool>("windowSize", "resizedBeforeShow", "readPixel");
        SimulatorSource::Settings settings;
        settings.format = readPixel ? FrameFormat{320, 160, 12, true} : FrameFormat{2048, 1536, 8, true};
        settings.framesPerSecond = 200;
        const int ringSize = readPixel ? 8 : 4;
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), ringSize);
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
        scene->attachVisualizer(window.get());
        if (resizedBeforeShow)
            window->resize(windowSize);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        if (!resizedBeforeShow && windowSize.isValid())
            window->resize(windowSize);
        auto* canvas = window->findChild<QWidget*>("canvasWidget");
        QTRY_COMPARE(QSize(scene->view().canvasWidth, scene->view().canvasHeight), canvas->size());
        QVERIFY(canvas->width() > 100 && canvas->height() > 30);
        auto& d = VisualizerInspector::d(window.get());
        const auto click = [&](const char* name) { QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton); };
        const auto text = [&](const char* name) { return window->findChild<QLabel*>(name)->text(); };
        const auto finish = qScopeGuard([&] { scene->detachVisualizer(window.get()); });
        if (!readPixel) {
            click("grabSingleButton");
            QTRY_VERIFY(d.renderedFrames >= 1);
            QCOMPARE(VisualizerInspector::canvasPixmap(window.get()).size(), canvas->size());
            QTRY_VERIFY(!scene->isGrabbing());
            return;
        }
        click("grabInfiniteButton");
        QTRY_VERIFY(d.renderedFrames >= 5);
        QTRY_VERIFY(d.acquisitionFpsLabel->isEnabled()); // while frames come in the rate is a number
        QVERIFY(QRegularExpression(QStringLiteral("^Acquisition FPS: <b>\\d+\\.\\d\\d</b>$")).match(d.acquisitionFpsLabel->text()).hasMatch());
        click("stopButton");
        QTRY_VERIFY(!scene->isGrabbing());
        auto* slider = window->findChild<QSlider*>("frameBufferSlider");
        QTRY_COMPARE(slider->maximum(), ringSize);
        QVERIFY(window->findChild<QPushButton*>("saveFrameButton")->isEnabled());
        // The newest buffer is shown once the scene has rendered it again.
        auto group = scene->frameBufferGroup();
        const auto newest = group->buffer(group->frameCounter() - 1);
        QTRY_COMPARE(d.currentFrameBuffer.lock(), newest);
        QTest::mouseMove(canvas, QPoint(37, 23)); // 1:1, no offset: image pixel (37, 23)
        QTRY_COMPARE(text("positionLabel"), QStringLiteral("(37, 23)"));
        const std::uint64_t expected = SimulatorSource::patternValue(settings, 37, 23, newest->frameIndex(), 0);
        QCOMPARE(text("dataLabel") + ' ' + text("frameIndexLabel"),
                 QStringLiteral("0x%1 %2").arg(expected, 3, 16, QLatin1Char('0')).arg(newest->frameIndex()));
        slider->setValue(1); // buffer 1 is the oldest stored frame
        QTRY_COMPARE(d.currentFrameBuffer.lock(), group->buffer(group->frameCounter() - ringSize));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
