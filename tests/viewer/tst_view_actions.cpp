// The viewer's keyboard navigation and window placement on real windows over the
// simulator, and one channel in process: its title, the grab press against the source's
// presence and the source detection entry, and a start the source refuses.

#include "../display/DisplayTestSupport.h"
#include "../runtime/RuntimeTestSupport.h"

#include "Channel.h"
#include "ChannelTitle.h"
#include "RecordBar.h"
#include "ToolWindowPlacer.h"
#include "ViewActions.h"
#include "ViewerOptions.h"
#include "WindowCascade.h"

#include "frame/VexoDisplayQt4.h"

#include "vexo-lib-display/SimulatorSource.h"

#include <QTemporaryDir>
#include <QtTest>
#include <QtWidgets>

using namespace vexo::core;

namespace {

// A row of the keys table: the keys typed at a zoom step, the step and the bars' moves
// they give, in arrow steps (a tenth of a page) and in pages, and the hex/dec switch. Rows
// that fit the frame give its size in parts of the canvas: width times, divided by and
// plus, the same for the height; else it is 2048 x 2048.
struct Keys
{
    QKeySequence keys;
    int fromStep, toStep;
    QPoint arrows = {}, pages = {};
    bool hexToggles = false;
    const char* focus = "hexDecButton"; // the widget that has the keyboard focus
    QVector<int> frame = {};
};

} // namespace

Q_DECLARE_METATYPE(Keys)

class TestViewActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(config.filePath("config.ini")));
        VexoDisplayQt4Init();
    }
    void cleanupTestCase() { VexoDisplayQt4Deinit(); }

    void keys_data()
    {
        QTest::addColumn<Keys>("row");
        const auto fit = [](const char* name, const QVector<int>& frame, int step) {
            QTest::newRow(name) << Keys{QKeySequence(Qt::CTRL + Qt::Key_F), 6, step, {}, {}, false, "hexDecButton", frame};
        };
        fit("fit, exact at 1:1", {1, 1, 0, 1, 1, 0}, 6);
        fit("fit, exact at 1:2, width", {2, 1, 0, 1, 2, 0}, 5);
        fit("fit, a column too wide for 1:2", {2, 1, 1, 1, 2, 0}, 4);
        fit("fit, exact at 1:4, height", {1, 2, 0, 4, 1, 0}, 4);
        fit("fit, a line too high for 1:4", {1, 2, 0, 4, 1, 1}, 3);
        // Both bars shown at 1:1 take room the fitted frame needs back.
        fit("fit, exact at 1:2, both bars shown", {2, 1, 0, 2, 1, 0}, 5);
        fit("fit, exact at 2:1", {1, 2, 0, 1, 2, 0}, 7);
        fit("fit, a column too wide for 2:1", {1, 2, 1, 1, 2, 0}, 6);
        fit("fit, tiny frame, largest step", {0, 1, 4, 0, 1, 4}, 12);
        fit("fit, too wide even at 1:64", {64, 1, 1, 0, 1, 1}, 0);
        const QKeySequence zoomIn(QKeySequence::ZoomIn), zoomOut(QKeySequence::ZoomOut);
        QTest::newRow("1:1 from 1:4") << Keys{Qt::CTRL + Qt::Key_0, 4, 6};
        QTest::newRow("zoom in") << Keys{zoomIn, 6, 7};
        QTest::newRow("zoom in stops at 12") << Keys{zoomIn, 12, 12};
        QTest::newRow("zoom out") << Keys{zoomOut, 6, 5};
        QTest::newRow("zoom out stops at 0") << Keys{zoomOut, 0, 0};
        QTest::newRow("right") << Keys{Qt::Key_Right, 6, 6, {1, 0}};
        QTest::newRow("left") << Keys{Qt::Key_Left, 6, 6, {-1, 0}};
        QTest::newRow("down") << Keys{Qt::Key_Down, 6, 6, {0, 1}};
        // Left from 100 ends at 0 whatever the step: only up shows the step back is one.
        QTest::newRow("up") << Keys{Qt::Key_Up, 6, 6, {0, -1}};
        QTest::newRow("page right") << Keys{Qt::SHIFT + Qt::Key_Right, 6, 6, {}, {1, 0}};
        QTest::newRow("page up, stops at 0") << Keys{Qt::SHIFT + Qt::Key_Up, 6, 6, {}, {0, -1}};
        QTest::newRow("page down at 8:1") << Keys{Qt::SHIFT + Qt::Key_Down, 9, 9, {}, {0, 1}};
        QTest::newRow("Ctrl+S stays the window's") << Keys{Qt::CTRL + Qt::Key_S, 6, 6, {}, {}, true};
        QTest::newRow("up in the zoom box zooms") << Keys{Qt::Key_Up, 6, 7, {}, {}, false, "zoomValueSpinBox"};
    }

    // On a window with the host's view actions, shown and active so that its shortcuts apply.
    void keys()
    {
        QFETCH(Keys, row);
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 1, 0));
        window->resize(760, 520);
        new ViewActions(window.get());
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto* canvas = window->findChild<QWidget*>("canvasWidget");
        auto* horizontal = window->findChild<QScrollBar*>("horizontalScrollBar");
        auto* vertical = window->findChild<QScrollBar*>("verticalScrollBar");
        auto* zoom = window->findChild<QSpinBox*>("zoomValueSpinBox");
        auto* hex = window->findChild<QPushButton*>("hexDecButton");
        auto* focused = window->findChild<QWidget*>(row.focus);
        // Without a scene the bars are hidden and the canvas has all the room there is.
        QTRY_VERIFY(canvas->width() >= 256 && canvas->height() >= 256);
        const QSize area = canvas->size();
        const QVector<int>& f = row.frame;
        const QSize size = f.isEmpty() ? QSize(2048, 2048)
                                       : QSize(area.width() * f[0] / f[1] + f[2], area.height() * f[3] / f[4] + f[5]);
        const auto scene = simulatorScene({size.width(), size.height(), 8, true}, 3);
        scene->attachVisualizer(window.get());
        const auto detach = qScopeGuard([&] { scene->detachVisualizer(window.get()); });
        if (!f.isEmpty() && (size.width() > area.width() || size.height() > area.height())) {
            // As the user finds it: the bars are laid out and the window has measured again.
            QTRY_VERIFY(canvas->size() != area);
            QTRY_COMPARE(QSize(scene->view().canvasWidth, scene->view().canvasHeight), canvas->size());
        }
        zoom->setValue(row.fromStep);
        const bool hexBefore = hex->isChecked(); // remembered from window to window
        if (f.isEmpty() && !horizontal->isHidden())
            horizontal->setValue(100), vertical->setValue(100);
        focused->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), focused);

        // As typed: to the focus widget, which a button keeps after it was clicked.
        QTest::keySequence(focused, row.keys);
        if (!f.isEmpty()) // the fitted frame needs no bars, and the canvas is as large as at first
            QTRY_VERIFY(horizontal->isHidden() && vertical->isHidden() && canvas->size() == area);
        QCOMPARE(QApplication::focusWidget(), focused);
        QCOMPARE(QPoint(zoom->value(), scene->view().zoomStep), QPoint(row.toStep, row.toStep)); // box, scene
        QTRY_COMPARE(hex->isChecked(), hexBefore != row.hexToggles);
        if (row.fromStep != row.toStep || horizontal->isHidden())
            return;
        const auto expected = [](QScrollBar* bar, int single, int page) {
            return qBound(bar->minimum(), 100 + single * std::max(1, bar->pageStep() / 10) + page * bar->pageStep(), bar->maximum());
        };
        const QPoint at(expected(horizontal, row.arrows.x(), row.pages.x()), expected(vertical, row.arrows.y(), row.pages.y()));
        // The scene scrolled with the bars.
        QCOMPARE((QVector<QPoint>{{horizontal->value(), vertical->value()}, {scene->view().offsetX, scene->view().offsetY}}),
                 (QVector<QPoint>{at, at}));
    }

    void placement()
    {
        // The first window stays where it was put (by the window manager, or here); the others
        // step away from it, whether added before or after it is shown.
        WindowCascade cascade;
        QWidget first, second, third;
        first.move(60, 50);
        cascade.add(&first);
        cascade.add(&second);
        second.show();
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        cascade.add(&third);
        third.show();
        const QPoint at(60, 50), step(WindowCascade::step, WindowCascade::step);
        const auto corners = [&] { return QVector<QPoint>{first.frameGeometry().topLeft(), second.frameGeometry().topLeft(),
                                                           third.frameGeometry().topLeft()}; };
        QTRY_COMPARE(corners(), (QVector<QPoint>{at, at + step, at + 2 * step}));

        // The tool windows open to the right of their window, kept on the screen. The form is
        // wider than the test screen, so a small widget stands in for the channel window.
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 3, 0));
        QWidget anchor;
        anchor.setGeometry(10, 10, 200, 150);
        new ToolWindowPlacer(&anchor, 3, 0);
        anchor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&anchor));
        const QRect screen = anchor.screen()->availableGeometry();
        auto& d = VisualizerInspector::d(window.get());
        QWidget *profile = d.lineProfileDialog->window(), *histogram = d.lineHistogramDialog->window();
        const auto onScreen = [&screen](const QRect& r) { // or as much as fits, from the top left
            return r.left() >= screen.left() && r.top() >= screen.top() && (r.right() <= screen.right() || r.left() == screen.left())
                   && (r.bottom() <= screen.bottom() || r.top() == screen.top());
        };
        auto* profileButton = window->findChild<QPushButton*>("lineProfileButton");
        profileButton->click();
        QTRY_VERIFY(profile->isVisible());
        QVERIFY(onScreen(profile->frameGeometry()) && profile->frameGeometry().left() == anchor.frameGeometry().right() + 1);
        // Near the screen's right edge it is pulled back onto the screen; below the other one,
        // as far as the screen lets it. Wider than what is left of the screen, else the case is not made.
        anchor.move(screen.right() - 250, 10);
        window->findChild<QPushButton*>("lineHistogramButton")->click();
        QTRY_VERIFY(histogram->isVisible());
        QVERIFY(histogram->frameGeometry().width() > 250 && onScreen(histogram->frameGeometry()));
        QCOMPARE(histogram->frameGeometry().right(), screen.right());
        // Shown again, it stays where the user left it.
        profile->move(30, 40);
        profileButton->click();
        QTRY_VERIFY(!profile->isVisible());
        profileButton->click();
        QTRY_VERIFY(profile->isVisible());
        QCOMPARE(profile->pos(), QPoint(30, 40));
    }

    // One channel in process, its source there, refusing, gone and ignored: only stop is on
    // while grabbing; the grab buttons come back after a stop, or after a single grab that
    // ends by itself. The title names the channel, the source and its format.
    // The Record button: on at once with a folder given, the running count, off, and on
    // again into a new folder beside the first recording.
    void recordControl()
    {
        QTemporaryDir dir;
        ViewerOptions options;
        options.recordFolder = dir.filePath("run");
        auto* source = new RefusingSource(FrameFormat{32, 16, 8, true});
        source->setStatus({true});
        Channel channel(options, std::unique_ptr<FrameSource>(source), 0, 0);
        auto* button = channel.window()->findChild<QToolButton*>("recordButton");
        auto* count = channel.window()->findChild<QLabel*>("recordCountLabel");
        QVERIFY(button && count);
        QVERIFY(button->isChecked());
        QSignalSpy ended(channel.recordBar(), &RecordBar::recordingEnded);
        channel.scene()->startGrabbing(-1);
        const auto recordFrames = [&](int n) {
            for (int i = 0; i < n; ++i)
                source->pushFrame([](FrameBuffer& b) { b.setComplete(); });
        };
        recordFrames(3);
        QTRY_COMPARE(count->text(), QStringLiteral("recording: 3 frames"));
        button->click();
        QTRY_COMPARE(ended.count(), 1);
        QVERIFY(!button->isChecked());
        QCOMPARE(count->text(), QStringLiteral("recorded 3 frames"));

        button->click();
        QVERIFY(button->isChecked());
        recordFrames(1);
        QTRY_COMPARE(count->text(), QStringLiteral("recording: 1 frame"));
        button->click();
        QTRY_COMPARE(ended.count(), 2);
        channel.scene()->stopGrabbing();
        const QStringList runs = QDir(options.recordFolder).entryList({"run-*"}, QDir::Dirs);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(QDir(options.recordFolder + "/" + runs[0]).entryList(QDir::Files), QStringList{"frame00000.tif"});
        QCOMPARE(QDir(options.recordFolder).entryList(QDir::Files),
                 (QStringList{"frame00000.tif", "frame00001.tif", "frame00002.tif"}));
    }

    void channelGrab()
    {
        auto* source = new RefusingSource(FrameFormat{32, 16, 8, true});
        source->setStatus({true});
        Channel channel(ViewerOptions(), std::unique_ptr<FrameSource>(source), 4, 1);
        Qt4DisplaySceneVisualizer* window = channel.window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - Mono8 32 x 16"));
        const SimulatorSource::Settings simulated{{320, 160, 12, true}, 0};
        QCOMPARE(ChannelTitle::describe(SimulatorSource(simulated), simulated.format), QStringLiteral("simulator Mono12 320 x 160"));
        DialogAnswerer answerer;
        answerer.buttons << QMessageBox::Ok;
        auto* infinite = window->findChild<QPushButton*>("grabInfiniteButton");
        auto* single = window->findChild<QPushButton*>("grabSingleButton");
        auto* stop = window->findChild<QPushButton*>("stopButton");
        const auto idle = [&] { return infinite->isEnabled() && single->isEnabled() && !stop->isEnabled(); };
        const auto grabAndStop = [&] {
            const std::uint64_t before = channel.scene()->statistics().framesAcquired;
            source->pushFrame([](FrameBuffer&) {});
            QTest::mouseClick(infinite, Qt::LeftButton);
            QTRY_VERIFY(stop->isEnabled());
            QVERIFY(!infinite->isEnabled() && channel.scene()->isGrabbing());
            QTRY_COMPARE(channel.scene()->statistics().framesAcquired, before + 1);
            QTest::mouseClick(stop, Qt::LeftButton);
            QTRY_VERIFY(idle() && !channel.scene()->isGrabbing());
        };
        grabAndStop();
        source->pushFrame([](FrameBuffer&) {});
        QSignalSpy told(window, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated);
        QTest::mouseClick(single, Qt::LeftButton);
        QTRY_COMPARE(told.count(), 2); // the single grab's start and end
        QVERIFY(idle() && !channel.scene()->isGrabbing());
        // Refused: the buttons the host set while the start was under way are put right.
        source->refuse = true;
        source->held = true;
        QTest::mouseClick(single, Qt::LeftButton);
        QTRY_VERIFY(source->starting.load());
        emit window->grabButtonStatusUpdated();
        QVERIFY(stop->isEnabled());
        source->held = false;
        QTRY_VERIFY(window->statusBar()->currentMessage().contains("cannot grab: the camera 127.0.0.1 was lost"));
        QVERIFY(idle() && !channel.scene()->isGrabbing() && answerer.transcript.isEmpty());
        // Gone while it delivered: the grab ends, and the status bar says what the source said.
        source->refuse = false;
        const std::uint64_t acquired = channel.scene()->statistics().framesAcquired;
        source->pushFrame([](FrameBuffer&) {});
        QTest::mouseClick(infinite, Qt::LeftButton);
        QTRY_COMPARE(channel.scene()->statistics().framesAcquired, acquired + 1);
        source->fail = true;
        source->setStatus({false});
        source->pushFrame([](FrameBuffer&) {});
        QTRY_COMPARE(window->statusBar()->currentMessage(), QStringLiteral("the simulator is gone: the camera 127.0.0.1 was lost"));
        QTRY_VERIFY(idle());
        source->fail = false;
        source->setStatus({true});
        // Gone: the host passes it on, and a grab press is refused with a warning that names
        // the entry of the host's menu which turns that off (remembered in the configuration).
        source->refuse = false;
        source->setStatus({false});
        QTRY_VERIFY(!VisualizerInspector::d(window).sourcesDetected);
        QTest::mouseClick(infinite, Qt::LeftButton);
        QTRY_COMPARE(answerer.transcript.size(), 1);
        QVERIFY2(answerer.transcript.first().startsWith("warning \"No source detected.\""), qPrintable(answerer.transcript.first()));
        QVERIFY(!channel.scene()->isGrabbing());
        for (QAction* entry : window->menuBar()->findChildren<QAction*>())
            if (entry->text() == QLatin1String("Disable Source Detection"))
                entry->setChecked(true);
        grabAndStop();
        QCOMPARE(answerer.transcript.size(), 1);
        // Changed while idle, as a settings dialog does: the window does not say, the title follows.
        QVERIFY(channel.scene()->setFormat({64, 48, 8, false}));
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - RGB8 64 x 48"));
    }

private:
    QTemporaryDir config;
};

QTEST_MAIN(TestViewActions)
#include "tst_view_actions.moc"
