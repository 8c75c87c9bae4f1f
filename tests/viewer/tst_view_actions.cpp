// The viewer's keyboard navigation, window placement and titles on real windows over the
// built-in simulator, and one channel in process: the grab press against the source's
// presence and the source detection entry, and a start the source refuses.

#include "../display/DisplayTestSupport.h"

#include "Channel.h"
#include "ChannelTitle.h"
#include "ToolWindowPlacer.h"
#include "ViewActions.h"
#include "ViewerOptions.h"
#include "WindowCascade.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "frame/VexoDisplayQt4.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/ManualFrameSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QDockWidget>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>

using namespace vexo::core;

namespace {

boost::shared_ptr<DisplayScene> simulatorScene(const FrameFormat& format)
{
    SimulatorSource::Settings settings;
    settings.format = format;
    return DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), 2);
}

// A window with the host's view actions, shown and active so that its shortcuts apply.
struct ShownWindow
{
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
    boost::shared_ptr<DisplayScene> scene;

    explicit ShownWindow(int board) : window(Qt4DisplaySceneVisualizer::create(nullptr, board, 0))
    {
        window->resize(760, 520);
    }
    ~ShownWindow()
    {
        if (scene)
            scene->detachVisualizer(window.get());
    }
    bool show(const boost::shared_ptr<DisplayScene>& withScene)
    {
        scene = withScene;
        new ViewActions(window.get());
        window->show();
        QApplication::setActiveWindow(window.get());
        return QTest::qWaitForWindowActive(window.get());
    }
    template <typename T>
    T* child(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
};

// A source that can be told to refuse its next starts, as a camera that is gone does.
class RefusingSource : public ManualFrameSource
{
public:
    using ManualFrameSource::ManualFrameSource;
    bool start() override { return !refuse.load() && ManualFrameSource::start(); }
    std::string problem() const override { return "the camera was unplugged"; }
    std::atomic<bool> refuse{false};
};

// A shown channel of four buffers over a 32 x 16 source that says whether it is connected.
std::unique_ptr<Channel> shownChannel(bool connected, RefusingSource** source)
{
    *source = new RefusingSource(FrameFormat{32, 16, 8, true});
    FrameSource::Status status;
    status.connected = connected;
    (*source)->setStatus(status);
    ViewerOptions options;
    options.bufferCount = 4;
    std::unique_ptr<Channel> channel(new Channel(options, std::unique_ptr<FrameSource>(*source), 0, 0));
    channel->window()->show();
    return channel;
}

// A row of the keys table: the keys typed at a zoom step, the step and the bars' moves
// they give, in arrow steps (a tenth of a page) and in pages, and the hex/dec switch.
struct Keys
{
    QKeySequence keys;
    int fromStep, toStep;
    QPoint arrows = {}, pages = {};
    bool hexToggles = false;
    const char* focus = "hexDecButton"; // the widget that has the keyboard focus
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
    void fitPicksLargestWholeStep_data();
    void fitPicksLargestWholeStep();
    void keys_data();
    void keys();
    void placement();
    void titleFollowsFormat();
    void channelGrab_data();
    void channelGrab();
    void refusedStartIsTold();

private:
    QTemporaryDir config;
};

void TestViewActions::fitPicksLargestWholeStep_data()
{
    // The frame, in parts of the canvas: width times, divided by and plus, the same for the height.
    QTest::addColumn<QVector<int>>("frame");
    QTest::addColumn<int>("step");
    QTest::newRow("exact at 1:1") << QVector<int>{1, 1, 0, 1, 1, 0} << 6;
    QTest::newRow("exact at 1:2, width") << QVector<int>{2, 1, 0, 1, 2, 0} << 5;
    QTest::newRow("a column too wide for 1:2") << QVector<int>{2, 1, 1, 1, 2, 0} << 4;
    QTest::newRow("exact at 1:4, height") << QVector<int>{1, 2, 0, 4, 1, 0} << 4;
    QTest::newRow("a line too high for 1:4") << QVector<int>{1, 2, 0, 4, 1, 1} << 3;
    // Both bars shown at 1:1 take room the fitted frame needs back.
    QTest::newRow("exact at 1:2, both bars shown") << QVector<int>{2, 1, 0, 2, 1, 0} << 5;
    QTest::newRow("exact at 2:1") << QVector<int>{1, 2, 0, 1, 2, 0} << 7;
    QTest::newRow("a column too wide for 2:1") << QVector<int>{1, 2, 1, 1, 2, 0} << 6;
    QTest::newRow("tiny frame, largest step") << QVector<int>{0, 1, 4, 0, 1, 4} << 12;
    QTest::newRow("too wide even at 1:64") << QVector<int>{64, 1, 1, 0, 1, 1} << 0;
}

void TestViewActions::fitPicksLargestWholeStep()
{
    QFETCH(QVector<int>, frame);
    QFETCH(int, step);
    // Without a scene the bars are hidden and the canvas has all the room there is.
    ShownWindow w(1);
    QVERIFY(w.show(nullptr));
    auto* canvas = w.child<QWidget>("canvasWidget");
    auto* horizontal = w.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = w.child<QScrollBar>("verticalScrollBar");
    QTRY_VERIFY(canvas->width() >= 256 && canvas->height() >= 256);
    const QSize area = canvas->size();
    const QSize size(area.width() * frame[0] / frame[1] + frame[2], area.height() * frame[3] / frame[4] + frame[5]);
    w.scene = simulatorScene({size.width(), size.height(), 8, true});
    w.scene->attachVisualizer(w.window.get());
    if (size.width() > area.width() || size.height() > area.height()) {
        // As the user finds it: the bars are laid out and the window has measured again.
        QTRY_VERIFY(canvas->size() != area);
        QTRY_COMPARE(QSize(w.scene->view().canvasWidth, w.scene->view().canvasHeight), canvas->size());
    }
    QTest::keySequence(w.window.get(), QKeySequence(Qt::CTRL + Qt::Key_F));
    QTRY_VERIFY(horizontal->isHidden() && vertical->isHidden() && canvas->size() == area);
    QCOMPARE(w.child<QSpinBox>("zoomValueSpinBox")->value(), step);
    QCOMPARE(w.scene->view().zoomStep, step);
}

void TestViewActions::keys_data()
{
    QTest::addColumn<Keys>("row");
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

void TestViewActions::keys()
{
    QFETCH(Keys, row);
    ShownWindow w(2);
    QVERIFY(w.show(simulatorScene({2048, 2048, 8, true})));
    w.scene->attachVisualizer(w.window.get());
    auto* zoom = w.child<QSpinBox>("zoomValueSpinBox");
    auto* horizontal = w.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = w.child<QScrollBar>("verticalScrollBar");
    auto* hex = w.child<QPushButton>("hexDecButton");
    zoom->setValue(row.fromStep);
    const QPoint from(100, 100);
    if (!horizontal->isHidden()) {
        horizontal->setValue(from.x());
        vertical->setValue(from.y());
    }
    const bool hexBefore = hex->isChecked();
    auto* focused = w.child<QWidget>(row.focus);
    focused->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), focused);

    // As typed: to the focus widget, which a button keeps after it was clicked.
    QTest::keySequence(focused, row.keys);
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(zoom->value(), row.toStep);
    QCOMPARE(w.scene->view().zoomStep, row.toStep);
    QTRY_COMPARE(hex->isChecked(), hexBefore != row.hexToggles);
    if (row.fromStep != row.toStep || horizontal->isHidden())
        return;
    const auto expected = [](QScrollBar* bar, int from, int single, int page) {
        return qBound(bar->minimum(), from + single * std::max(1, bar->pageStep() / 10) + page * bar->pageStep(),
                      bar->maximum());
    };
    const QPoint at(expected(horizontal, from.x(), row.arrows.x(), row.pages.x()),
                    expected(vertical, from.y(), row.arrows.y(), row.pages.y()));
    QCOMPARE(QPoint(horizontal->value(), vertical->value()), at);
    QCOMPARE(QPoint(w.scene->view().offsetX, w.scene->view().offsetY), at); // the scene scrolled with the bars
}

void TestViewActions::placement()
{
    // The first window stays where it was put (by the window manager, or here); the others
    // step away from it, whether added before or after it is shown.
    WindowCascade cascade;
    QWidget first, second, third;
    for (QWidget* w : {&first, &second, &third})
        w->resize(200, 150);
    first.move(60, 50);
    cascade.add(&first);
    cascade.add(&second);
    second.show();
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    cascade.add(&third);
    third.show();
    const QPoint origin = first.frameGeometry().topLeft();
    QCOMPARE(origin, QPoint(60, 50));
    const QPoint step(WindowCascade::step, WindowCascade::step);
    QTRY_COMPARE(second.frameGeometry().topLeft(), origin + step);
    QTRY_COMPARE(third.frameGeometry().topLeft(), origin + 2 * step);

    // The tool windows open to the right of their window, kept on the screen. The form is
    // wider than the test screen, so a small widget stands in for the channel window.
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 3, 0));
    QWidget anchor;
    anchor.setGeometry(10, 10, 200, 150);
    new ToolWindowPlacer(&anchor, 3, 0);
    anchor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&anchor));
    const QRect screen = anchor.screen()->availableGeometry();
    const auto onScreen = [&screen](const QRect& r) {
        return r.left() >= screen.left() && r.top() >= screen.top()
               && (r.right() <= screen.right() || r.left() == screen.left())
               && (r.bottom() <= screen.bottom() || r.top() == screen.top());
    };
    auto* profileButton = window->findChild<QPushButton*>("lineProfileButton");
    profileButton->click();
    QDockWidget* profile = nullptr;
    QDockWidget* histogram = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowTitle() == QLatin1String("Line Profile - Device 3, DMA 0"))
            profile = qobject_cast<QDockWidget*>(top);
        if (top->windowTitle() == QLatin1String("Line Histogram - Device 3, DMA 0"))
            histogram = qobject_cast<QDockWidget*>(top);
    }
    QVERIFY(profile && histogram);
    QTRY_VERIFY(profile->isVisible());
    QVERIFY(onScreen(profile->frameGeometry()));
    QCOMPARE(profile->frameGeometry().left(), anchor.frameGeometry().right() + 1);
    // Near the screen's right edge it is pulled back onto the screen.
    anchor.move(screen.right() - 250, 10);
    window->findChild<QPushButton*>("lineHistogramButton")->click();
    QTRY_VERIFY(histogram->isVisible());
    QVERIFY(onScreen(histogram->frameGeometry()));
    QVERIFY(histogram->frameGeometry().width() > 250); // else the case is not made
    QCOMPARE(histogram->frameGeometry().right(), screen.right());
    // Shown again, it stays where the user left it.
    profile->move(30, 40);
    profileButton->click();
    QTRY_VERIFY(!profile->isVisible());
    profileButton->click();
    QTRY_VERIFY(profile->isVisible());
    QCOMPARE(profile->pos(), QPoint(30, 40));
    profile->hide();
    histogram->hide();
}

void TestViewActions::titleFollowsFormat()
{
    auto scene = simulatorScene({320, 160, 12, true});
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 4, 1));
    scene->attachVisualizer(window.get());
    new ChannelTitle(window.get(), scene, "Display - Device 4, DMA 1");
    QCOMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - simulator Mono12 320 x 160"));
    // Changed while idle, as a settings dialog does: the window does not say, the title follows.
    QVERIFY(scene->setFormat({64, 48, 8, false}));
    QTRY_COMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - simulator RGB8 64 x 48"));
    scene->detachVisualizer(window.get());
}

void TestViewActions::channelGrab_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("detectionDisabled");
    QTest::addColumn<bool>("warned");
    QTest::newRow("source present") << true << false << false;
    QTest::newRow("no source") << false << false << true;
    QTest::newRow("no source, detection disabled") << false << true << false;
}

void TestViewActions::channelGrab()
{
    QFETCH(bool, connected);
    QFETCH(bool, detectionDisabled);
    QFETCH(bool, warned);
    RefusingSource* source = nullptr;
    const std::unique_ptr<Channel> channel = shownChannel(connected, &source);
    Qt4DisplaySceneVisualizer* window = channel->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // The entry the warning names, in the host's menu; it is remembered in the configuration.
    const auto entries = window->menuBar()->findChildren<QAction*>();
    const auto entry = std::find_if(entries.begin(), entries.end(),
                                    [](QAction* a) { return a->text() == QLatin1String("Disable Source Detection"); });
    QVERIFY(entry != entries.end());
    (*entry)->setChecked(detectionDisabled);

    DialogAnswerer answerer;
    answerer.buttons << QMessageBox::Ok;
    auto* grab = window->findChild<QPushButton*>("grabInfiniteButton");
    auto* stop = window->findChild<QPushButton*>("stopButton");
    QVERIFY(grab->isEnabled());
    QTest::mouseClick(grab, Qt::LeftButton);
    if (warned) {
        QTRY_COMPARE(answerer.transcript.size(), 1);
        QVERIFY2(answerer.transcript.first().startsWith("warning \"No source detected.\""),
                 qPrintable(answerer.transcript.first()));
        QVERIFY(!channel->scene()->isGrabbing());
        return;
    }
    QTRY_VERIFY(channel->scene()->isGrabbing());
    QCOMPARE(answerer.transcript, QStringList());
    // The host keeps the buttons: only stop is on while grabbing, the grab buttons come
    // back after the stop.
    QTRY_VERIFY(stop->isEnabled());
    QVERIFY(!grab->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QTRY_VERIFY(grab->isEnabled());
    QVERIFY(!channel->scene()->isGrabbing());
}

// The status bar says why; the frames the ring keeps are the scene's own test.
void TestViewActions::refusedStartIsTold()
{
    RefusingSource* source = nullptr;
    const std::unique_ptr<Channel> channel = shownChannel(true, &source);
    Qt4DisplaySceneVisualizer* window = channel->window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* single = window->findChild<QPushButton*>("grabSingleButton");
    source->pushFrame([](FrameBuffer&) {});
    QTest::mouseClick(single, Qt::LeftButton);
    QTRY_COMPARE(window->findChild<QSlider*>("frameBufferSlider")->maximum(), 1);
    QTRY_VERIFY(single->isEnabled());
    source->refuse = true;
    QTest::mouseClick(single, Qt::LeftButton);
    QTRY_VERIFY(window->statusBar()->currentMessage().contains("cannot grab: the camera was unplugged"));
    QVERIFY(!channel->scene()->isGrabbing());
}

QTEST_MAIN(TestViewActions)
#include "tst_view_actions.moc"
