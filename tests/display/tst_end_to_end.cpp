// The window on the built-in simulator: grab, stop, browse, zoom and read a pixel, all
// through the window's own controls.

#include "DisplayTestSupport.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>

#include <memory>

using namespace vexo::core;

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void grabStopBrowseZoomRead();
    void firstGrabFillsCanvas_data();
    void firstGrabFillsCanvas();
};

void TestEndToEnd::grabStopBrowseZoomRead()
{
    SimulatorSource::Settings settings;
    settings.format = {320, 160, 12, true};
    settings.framesPerSecond = 200;
    const int ringSize = 8;
    auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), ringSize);
    std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
    scene->attachVisualizer(window.get());
    window->resize(900, 400);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto& d = VisualizerInspector::d(window.get());
    auto* fps = d.acquisitionFpsLabel;

    QTest::mouseClick(window->findChild<QPushButton*>("grabInfiniteButton"), Qt::LeftButton);
    QTRY_VERIFY(d.renderedFrames >= 5);
    // While frames come in, the acquisition rate is shown as a number.
    QTRY_VERIFY(fps->isEnabled());
    QVERIFY2(QRegularExpression(QStringLiteral("^Acquisition FPS: <b>\\d+\\.\\d\\d</b>$")).match(fps->text()).hasMatch(),
             qPrintable(fps->text()));
    QVERIFY(!VisualizerInspector::canvasPixmap(window.get()).isNull());

    QTest::mouseClick(window->findChild<QPushButton*>("stopButton"), Qt::LeftButton);
    QTRY_VERIFY(!scene->isGrabbing());
    auto* slider = window->findChild<QSlider*>("frameBufferSlider");
    QTRY_COMPARE(slider->maximum(), ringSize);
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->value(), ringSize);
    QVERIFY(window->findChild<QPushButton*>("saveFrameButton")->isEnabled());

    // The newest buffer is shown once the scene has rendered it again.
    auto group = scene->frameBufferGroup();
    const auto newest = group->buffer(group->frameCounter() - 1);
    QTRY_COMPARE(d.currentFrameBuffer.lock(), newest);
    auto* canvas = window->findChild<QWidget*>("canvasWidget");
    const QPoint at(37, 23); // 1:1, no offset: image pixel (37, 23)
    QTest::mouseMove(canvas, at);
    QTRY_COMPARE(window->findChild<QLabel*>("positionLabel")->text(), QStringLiteral("(37, 23)"));
    const std::uint64_t expected = SimulatorSource::patternValue(settings, at.x(), at.y(), newest->frameIndex(), 0);
    QCOMPARE(window->findChild<QLabel*>("dataLabel")->text(), QStringLiteral("0x%1").arg(expected, 3, 16, QLatin1Char('0')));
    QCOMPARE(window->findChild<QLabel*>("frameIndexLabel")->text(), QString::number(newest->frameIndex()));

    // Browsing to buffer 1 shows the oldest stored frame.
    slider->setValue(1);
    const auto oldest = group->buffer(group->frameCounter() - ringSize);
    QTRY_COMPARE(d.currentFrameBuffer.lock(), oldest);

    // A wheel step over the canvas zooms the scene in.
    const QPointF onWindow = canvas->mapTo(window.get(), at);
    QWheelEvent wheel(onWindow, window->mapToGlobal(onWindow.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.get(), &wheel);
    QCOMPARE(scene->view().zoomStep, 7);
    QTRY_COMPARE(d.frameZoomValue, 7);
    scene->detachVisualizer(window.get());
}

void TestEndToEnd::firstGrabFillsCanvas_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::addColumn<bool>("resizedBeforeShow");
    QTest::newRow("form's own size") << QSize() << false;
    QTest::newRow("small, before show") << QSize(420, 260) << true;
    QTest::newRow("large, before show") << QSize(1400, 900) << true;
    QTest::newRow("resized after show") << QSize(800, 600) << false;
}

// The layout sizes the canvas after the window's own resize event: the scene must still
// work with the canvas's real size, from the first frame on.
void TestEndToEnd::firstGrabFillsCanvas()
{
    QFETCH(QSize, windowSize);
    QFETCH(bool, resizedBeforeShow);
    SimulatorSource::Settings settings;
    settings.format = {2048, 1536, 8, true}; // larger than any canvas here, at 1:1
    auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(new SimulatorSource(settings)), 4);
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
    QTest::mouseClick(window->findChild<QPushButton*>("grabSingleButton"), Qt::LeftButton);
    QTRY_VERIFY(d.renderedFrames >= 1);
    QCOMPARE(VisualizerInspector::canvasPixmap(window.get()).size(), canvas->size());
    QTRY_VERIFY(!scene->isGrabbing());
    scene->detachVisualizer(window.get());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
