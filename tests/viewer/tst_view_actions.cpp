// The viewer's keyboard navigation, window placement and titles, on real windows over the
// built-in simulator.

#include "ChannelTitle.h"
#include "ToolWindowPlacer.h"
#include "ViewActions.h"
#include "WindowCascade.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QDockWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <algorithm>

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

    explicit ShownWindow(int board)
        : window(Qt4DisplaySceneVisualizer::create(nullptr, board, 0))
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

} // namespace

class TestViewActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VexoDisplayQt4Init(); }
    void cleanupTestCase() { VexoDisplayQt4Deinit(); }
    void fitPicksLargestWholeStep_data();
    void fitPicksLargestWholeStep();
    void keys_data();
    void keys();
    void placement();
    void titleFollowsFormat();
};

void TestViewActions::fitPicksLargestWholeStep_data()
{
    // The frame, in parts of the canvas: numerator, denominator and a few pixels more.
    QTest::addColumn<int>("wMul");
    QTest::addColumn<int>("wDiv");
    QTest::addColumn<int>("wAdd");
    QTest::addColumn<int>("hMul");
    QTest::addColumn<int>("hDiv");
    QTest::addColumn<int>("hAdd");
    QTest::addColumn<int>("step");
    QTest::newRow("exact at 1:1") << 1 << 1 << 0 << 1 << 1 << 0 << 6;
    QTest::newRow("exact at 1:2, width") << 2 << 1 << 0 << 1 << 2 << 0 << 5;
    QTest::newRow("a column too wide for 1:2") << 2 << 1 << 1 << 1 << 2 << 0 << 4;
    QTest::newRow("exact at 1:4, height") << 1 << 2 << 0 << 4 << 1 << 0 << 4;
    QTest::newRow("a line too high for 1:4") << 1 << 2 << 0 << 4 << 1 << 1 << 3;
    // Both bars shown at 1:1 take room the fitted frame needs back.
    QTest::newRow("exact at 1:2, both bars shown") << 2 << 1 << 0 << 2 << 1 << 0 << 5;
    QTest::newRow("exact at 2:1") << 1 << 2 << 0 << 1 << 2 << 0 << 7;
    QTest::newRow("a column too wide for 2:1") << 1 << 2 << 1 << 1 << 2 << 0 << 6;
    QTest::newRow("tiny frame, largest step") << 0 << 1 << 4 << 0 << 1 << 4 << 12;
    QTest::newRow("too wide even at 1:64") << 64 << 1 << 1 << 0 << 1 << 1 << 0;
}

void TestViewActions::fitPicksLargestWholeStep()
{
    QFETCH(int, wMul);
    QFETCH(int, wDiv);
    QFETCH(int, wAdd);
    QFETCH(int, hMul);
    QFETCH(int, hDiv);
    QFETCH(int, hAdd);
    QFETCH(int, step);

    // Without a scene the bars are hidden and the canvas has all the room there is.
    ShownWindow w(1);
    QVERIFY(w.show(nullptr));
    auto* canvas = w.child<QWidget>("canvasWidget");
    auto* horizontal = w.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = w.child<QScrollBar>("verticalScrollBar");
    QTRY_VERIFY(canvas->width() >= 256 && canvas->height() >= 256);
    const QSize area = canvas->size();

    const QSize frame(area.width() * wMul / wDiv + wAdd, area.height() * hMul / hDiv + hAdd);
    w.scene = simulatorScene({frame.width(), frame.height(), 8, true});
    w.scene->attachVisualizer(w.window.get());
    if (frame.width() > area.width() || frame.height() > area.height()) {
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
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("fromStep");
    QTest::addColumn<int>("toStep");
    QTest::addColumn<QPoint>("singleSteps"); // the bars' moves, in arrow steps (a tenth of a page)
    QTest::addColumn<QPoint>("pageSteps");   // and in pages
    QTest::addColumn<bool>("hexToggles");
    QTest::addColumn<QString>("focus"); // the widget that has the keyboard focus
    const QKeySequence zoomIn(QKeySequence::ZoomIn);
    const QKeySequence zoomOut(QKeySequence::ZoomOut);
    const QPoint none;
    const QString button = QStringLiteral("hexDecButton");
    QTest::newRow("1:1 from 1:4") << QKeySequence(Qt::CTRL + Qt::Key_0) << 4 << 6 << none << none << false << button;
    QTest::newRow("1:1 from 64:1") << QKeySequence(Qt::CTRL + Qt::Key_0) << 12 << 6 << none << none << false << button;
    QTest::newRow("zoom in") << zoomIn << 6 << 7 << none << none << false << button;
    QTest::newRow("zoom in stops at 12") << zoomIn << 12 << 12 << none << none << false << button;
    QTest::newRow("zoom out") << zoomOut << 6 << 5 << none << none << false << button;
    QTest::newRow("zoom out stops at 0") << zoomOut << 0 << 0 << none << none << false << button;
    QTest::newRow("right") << QKeySequence(Qt::Key_Right) << 6 << 6 << QPoint(1, 0) << none << false << button;
    QTest::newRow("left") << QKeySequence(Qt::Key_Left) << 6 << 6 << QPoint(-1, 0) << none << false << button;
    QTest::newRow("down") << QKeySequence(Qt::Key_Down) << 6 << 6 << QPoint(0, 1) << none << false << button;
    QTest::newRow("up") << QKeySequence(Qt::Key_Up) << 6 << 6 << QPoint(0, -1) << none << false << button;
    QTest::newRow("page right") << QKeySequence(Qt::SHIFT + Qt::Key_Right) << 6 << 6 << none << QPoint(1, 0) << false
                                << button;
    QTest::newRow("page up, stops at 0") << QKeySequence(Qt::SHIFT + Qt::Key_Up) << 6 << 6 << none << QPoint(0, -1)
                                         << false << button;
    QTest::newRow("page down at 8:1") << QKeySequence(Qt::SHIFT + Qt::Key_Down) << 9 << 9 << none << QPoint(0, 1)
                                      << false << button;
    QTest::newRow("Ctrl+S stays the window's") << QKeySequence(Qt::CTRL + Qt::Key_S) << 6 << 6 << none << none << true
                                               << button;
    QTest::newRow("up in the zoom box zooms") << QKeySequence(Qt::Key_Up) << 6 << 7 << none << none << false
                                              << QStringLiteral("zoomValueSpinBox");
}

void TestViewActions::keys()
{
    QFETCH(QKeySequence, keys);
    QFETCH(int, fromStep);
    QFETCH(int, toStep);
    QFETCH(QPoint, singleSteps);
    QFETCH(QPoint, pageSteps);
    QFETCH(bool, hexToggles);
    QFETCH(QString, focus);

    ShownWindow w(2);
    QVERIFY(w.show(simulatorScene({2048, 2048, 8, true})));
    w.scene->attachVisualizer(w.window.get());
    auto* zoom = w.child<QSpinBox>("zoomValueSpinBox");
    auto* horizontal = w.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = w.child<QScrollBar>("verticalScrollBar");
    auto* hex = w.child<QPushButton>("hexDecButton");
    zoom->setValue(fromStep);
    const QPoint from(100, 100);
    if (!horizontal->isHidden()) {
        horizontal->setValue(from.x());
        vertical->setValue(from.y());
    }
    const bool hexBefore = hex->isChecked();
    auto* focused = w.window->findChild<QWidget*>(focus);
    focused->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), focused);

    // As typed: to the focus widget, which a button keeps after it was clicked.
    QTest::keySequence(focused, keys);
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(zoom->value(), toStep);
    QCOMPARE(w.scene->view().zoomStep, toStep);
    QTRY_COMPARE(hex->isChecked(), hexBefore != hexToggles);
    if (fromStep != toStep || horizontal->isHidden())
        return;
    const auto expected = [](QScrollBar* bar, int from, int single, int page) {
        return qBound(bar->minimum(), from + single * std::max(1, bar->pageStep() / 10) + page * bar->pageStep(),
                      bar->maximum());
    };
    const QPoint at(expected(horizontal, from.x(), singleSteps.x(), pageSteps.x()),
                    expected(vertical, from.y(), singleSteps.y(), pageSteps.y()));
    QCOMPARE(QPoint(horizontal->value(), vertical->value()), at);
    // The scene scrolled with the bars.
    QCOMPARE(QPoint(w.scene->view().offsetX, w.scene->view().offsetY), at);
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
    new ChannelTitle(window.get(), scene, QStringLiteral("Display - Device 4, DMA 1"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - simulator Mono12 320 x 160"));
    // Changed while idle, as a settings dialog does: the window does not say, the title follows.
    QVERIFY(scene->setFormat({64, 48, 8, false}));
    QTRY_COMPARE(window->windowTitle(), QStringLiteral("Display - Device 4, DMA 1 - simulator RGB8 64 x 48"));
    scene->detachVisualizer(window.get());
}

QTEST_MAIN(TestViewActions)
#include "tst_view_actions.moc"
