// The window on the built-in simulator, driven through its own controls.

#include "DisplayTestSupport.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

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
        int choices = 0; // buffer choices the scene heard of; outlives the scene's observer
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
        click("stopButton");
        QTRY_VERIFY(!scene->isGrabbing());
        auto* slider = window->findChild<QSlider*>("frameBufferSlider");
        auto* spinBox = window->findChild<QSpinBox*>("frameBufferSpinBox");
        QTRY_COMPARE(slider->maximum(), ringSize);
        QCOMPARE(QList<int>({slider->minimum(), slider->value(), spinBox->minimum(), spinBox->maximum(), spinBox->value()}),
                 QList<int>({1, ringSize, 1, ringSize, ringSize}));
        QVERIFY(window->hasValidBuffersOrIsAcquisitionRunning());
        // The newest buffer is shown once the scene has rendered it again.
        auto group = scene->frameBufferGroup();
        const auto newest = group->buffer(group->frameCounter() - 1);
        QTRY_COMPARE(d.currentFrameBuffer.lock(), newest);
        QTest::mouseMove(canvas, QPoint(37, 23)); // 1:1, no offset: image pixel (37, 23)
        QTRY_COMPARE(text("positionLabel"), QStringLiteral("(37, 23)"));
        const std::uint64_t expected = SimulatorSource::patternValue(settings, 37, 23, newest->frameIndex(), 0);
        QCOMPARE(text("dataLabel") + ' ' + text("frameIndexLabel"),
                 QStringLiteral("0x%1 %2").arg(expected, 3, 16, QLatin1Char('0')).arg(newest->frameIndex()));
        // The two selectors follow each other, and the scene hears of each choice once.
        scene->setCallObserver([&choices](const SceneCall& c) {
            if (c.operation == SceneCall::SetBuffer)
                ++choices;
        });
        slider->setValue(1); // buffer 1 is the oldest stored frame
        QCOMPARE(spinBox->value(), 1);
        QTRY_COMPARE(d.currentFrameBuffer.lock(), group->buffer(group->frameCounter() - ringSize));
        spinBox->setValue(4);
        QCOMPARE(QList<int>({slider->value(), choices}), QList<int>({4, 2}));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
