// The window's tool windows, zoom and scrolling, driven through its own inputs, the pixel
// readout, and the zoom step and pixel value types they rest on. Run from
// tst_window_at_work's main.

#include "DisplayTestSupport.h"

#include "display/SceneEventTypes.h"
#include "frame/PixelValue.h"

#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/ZoomStep.h"

using namespace vexo::core;
using Geometry = DisplaySceneFrame::Geometry;
Q_DECLARE_METATYPE(Geometry)

class TestWindowView : public QObject
{
    Q_OBJECT

private slots:
    // The tool windows belong to the window's parent, so they float on their own and
    // outlive a hidden window; the scene is visible while the window or either tool is.
    void toolWindows()
    {
        QWidget host;
        auto scene = DisplayScene::create({64, 32, 8, true});
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(&host, 3, 12));
        // The event types are registered once per process, not per window; Qt hands them out downwards.
        const int lastType = SceneEventTypes::frameBuffersAdded;
        std::unique_ptr<Qt4DisplaySceneVisualizer> second(Qt4DisplaySceneVisualizer::create(nullptr, 0, 1));
        QCOMPARE(QList<int>({SceneEventTypes::frameBuffersAdded, QEvent::registerEventType()}),
                 QList<int>({SceneEventTypes::sceneFrameChanged - 6, lastType - 1}));
        auto& d = VisualizerInspector::d(window.get());
        QCOMPARE(d.lineProfileDock->windowTitle() + '|' + d.lineHistogramDock->windowTitle(),
                 QStringLiteral("Line Profile - Device 3, DMA 12|Line Histogram - Device 3, DMA 12"));
        for (QDockWidget* dock : {d.lineProfileDock, d.lineHistogramDock})
            QVERIFY(dock->parentWidget() == &host && dock->isFloating() && dock->isHidden());
        scene->attachVisualizer(window.get());
        QList<int> visible;
        scene->setCallObserver([&](const SceneCall& c) {
            if (c.operation == SceneCall::SetVisualizerVisible)
                visible << int(c.a);
        });
        for (const char* button : {"lineProfileButton", "lineHistogramButton", "lineProfileButton", "lineHistogramButton"})
            QTest::mouseClick(window->findChild<QPushButton*>(button), Qt::LeftButton);
        host.show();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(visible, QList<int>({1, 1, 1, 0, 1})); // 0: both tools hidden again, the window not yet shown
        // Closing: either the window closes, or it asks its owner and stays.
        QSignalSpy asked(window.get(), &Qt4DisplaySceneVisualizer::closeRequested);
        QSignalSpy askedWithData(window.get(), &Qt4DisplaySceneVisualizer::closeRequestedWithData);
        window->enableCloseEventSignal(true);
        QVERIFY(!window->close() && window->isVisible());
        window->enableCloseEventSignal(false);
        QVERIFY(window->close() && !window->isVisible() && asked.count() == 1 && askedWithData.count() == 1);
        QCOMPARE(askedWithData.first(), QVariantList({3, 12}));
        QCOMPARE(visible.last(), 0);
        scene->detachVisualizer(window.get());
        const QList<QPointer<QWidget>> released = {d.lineProfileDock, d.lineHistogramDock, d.lineProfileDialog,
                                                   d.lineHistogramDialog};
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(released.count(nullptr), 4);
    }

    // Steps as window and scene pass them, clamped to the range, one step out and in, and
    // lengths 1, 3, 65 between image and canvas pixels: shifts by the distance from 1:1,
    // truncated.
    void zoomStepMapping()
    {
        for (int step = ZoomStep::minimum - 1; step <= ZoomStep::maximum + 1; ++step) {
            const int s = std::clamp(step, 0, 12);
            const ZoomStep zoom(step);
            QVERIFY2(zoom.value() == s && zoom.zoomedOut().value() == std::max(s - 1, 0)
                         && zoom.zoomedIn().value() == std::min(s + 1, 12),
                     qPrintable(QString::number(step)));
            for (int length : {0, 1, 3, 65}) {
                const int toCanvas = s < 6 ? length >> (6 - s) : length << (s - 6);
                const int toImage = s < 6 ? length << (6 - s) : length >> (s - 6);
                QVERIFY2(zoom.imageToCanvas(length) == toCanvas && zoom.canvasToImage(length) == toImage,
                         qPrintable(QStringLiteral("step %1, length %2").arg(step).arg(length)));
            }
        }
    }

    // An image 1000 pixels wide on a canvas of 800: the spin box text and scroll bar at
    // each zoom step, and the zoom buttons at the ends of the range.
    void zoomSteps_data()
    {
        // bar: "page step/maximum", or "hidden"
        // buttons: zoom in, zoom out, pixel values: 1 enabled
        columns<int, QString, QString>("step", "bar", "buttons");
        QTest::newRow("1:64") << 0 << "hidden" << "100";
        QTest::newRow("32:1") << 11 << "25/975" << "111";
        QTest::newRow("64:1") << 12 << "12/988" << "011"; // the page truncated
    }

    void zoomSteps()
    {
        const auto [step, bar, buttons] = fetch<int, QString, QString>("step", "bar", "buttons");
        WindowRig rig({1000, 10, 8, true});
        rig.d().canvasWidth = 800;
        rig.d().canvasHeight = 600;
        auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
        horizontal->show();
        horizontal->setValue(0);
        auto* spinBox = rig.child<QSpinBox>("zoomValueSpinBox");
        spinBox->setValue(step);
        QCOMPARE(spinBox->text(), QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(horizontal->isHidden() ? QStringLiteral("hidden")
                                        : QStringLiteral("%1/%2").arg(horizontal->pageStep()).arg(horizontal->maximum()),
                 bar);
        QCOMPARE(horizontal->value(), 0);
        QCOMPARE(rig.last(SceneCall::SetZoomFactor)->a, std::int64_t(step));
        QCOMPARE(enabled(rig.window.get(), {"zoomInButton", "zoomOutButton", "rgbOverlayButton"}), buttons);
        const bool up = buttons[0] == '1'; // a button press moves one step
        QTest::mouseClick(rig.child<QPushButton>(up ? "zoomInButton" : "zoomOutButton"), Qt::LeftButton);
        QCOMPARE(rig.d().zoomStep.value(), up ? step + 1 : step - 1);
    }

    void wheelZoomAboutPoint_data()
    {
        // at: canvas point under the mouse; call: the scene's new zoom step and offset, or
        // "none" when nothing happens
        columns<int, QPoint, QPointF, bool, QString>("startStep", "angle", "at", "written", "call");
        QTest::newRow("6 to 7") << 6 << QPoint(0, 120) << QPointF(100, 50) << true << "7 (50, 25)";
        QTest::newRow("6 to 7, fractions truncated") << 6 << QPoint(0, 120) << QPointF(100.75, 50.75) << true << "7 (50, 25)";
        QTest::newRow("6 to 5") << 6 << QPoint(0, -120) << QPointF(100, 50) << true << "5 (0, 0)";
        QTest::newRow("larger horizontal out") << 6 << QPoint(-120, 10) << QPointF(100, 50) << true << "5 (0, 0)";
        QTest::newRow("larger horizontal in") << 6 << QPoint(120, -10) << QPointF(100, 50) << true << "7 (50, 25)";
        QTest::newRow("unwritten pixel") << 6 << QPoint(0, 120) << QPointF(100, 50) << false << "7 (0, 0)";
        QTest::newRow("at 12, zero delta") << 12 << QPoint() << QPointF(10, 10) << true << "none";
        QTest::newRow("at 0, toward") << 0 << QPoint(0, -120) << QPointF(10, 10) << true << "none";
    }

    void wheelZoomAboutPoint()
    {
        const auto [startStep, angle, onCanvas, written, expected] =
            fetch<int, QPoint, QPointF, bool, QString>("startStep", "angle", "at", "written", "call");
        WindowRig rig({2000, 2000, 8, true}, 1, true);
        auto gray = testBuffer(2000, 2000, 8);
        if (!written)
            gray->setLastValidPixel(10, 0); // only the first line is in
        rig.grabbingWith(gray);
        auto* spinBox = rig.child<QSpinBox>("zoomValueSpinBox");
        spinBox->setValue(startStep);
        rig.show(gray, SceneRenderer::geometryFor(startStep, 0, 0));
        rig.calls.clear();
        QSignalSpy zoomSignal(spinBox, SIGNAL(valueChanged(int)));
        // The wheel arrives at the window; the test hands it over in window coordinates.
        const QPointF at = rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint()) + onCanvas;
        QWheelEvent wheel(at, rig.window->mapToGlobal(at.toPoint()), QPoint(), angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.window.get(), &wheel);
        const auto call = rig.last(SceneCall::SetZoomFactorAndOffset);
        QCOMPARE(call ? QStringLiteral("%1 (%2, %3)").arg(call->a).arg(call->b).arg(call->c) : QStringLiteral("none"), expected);
        QCOMPARE(rig.d().zoomStep.value(), call ? int(call->a) : startStep);
        if (!call)
            return;
        // Neither the spin box nor the scroll bars told the scene on their own.
        QVERIFY(zoomSignal.isEmpty() && rig.count(SceneCall::SetZoomFactor) == 0 && rig.count(SceneCall::SetOffset) == 0);
        QCOMPARE(QList<int>({spinBox->value(), rig.child<QScrollBar>("horizontalScrollBar")->value()}),
                 QList<int>({int(call->a), int(call->b)}));
    }

    void dragCarriesRemainder_data()
    {
        // carried: canvas pixels kept for the next move
        columns<int, int, int, int>("zoom", "move", "scrolled", "carried");
        QTest::newRow("4:1, 7 pixels") << 8 << 7 << 1 << 3;
        QTest::newRow("4:1, -7 pixels") << 8 << -7 << -1 << -3;
        QTest::newRow("1:2, 7 pixels") << 5 << 7 << 14 << 0;
    }

    // The same move along both axes: the two bars must follow alike.
    void dragCarriesRemainder()
    {
        const auto [zoom, move, scrolled, carried] = fetch<int, int, int, int>("zoom", "move", "scrolled", "carried");
        WindowRig rig({4000, 4000, 8, true}, 1, true);
        rig.d().frameZoomValue = zoom;
        const QList<QScrollBar*> bars{rig.child<QScrollBar>("horizontalScrollBar"), rig.child<QScrollBar>("verticalScrollBar")};
        const auto values = [&] { return QList<int>({bars[0]->value(), bars[1]->value()}); };
        for (QScrollBar* bar : bars) {
            bar->show();
            bar->setRange(0, 1000);
            bar->setValue(500);
        }
        QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier,
                          rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint(100, 100)));
        const auto moveTo = [&](int at) {
            QMouseEvent e(QEvent::MouseMove, QPointF(at, at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            rig.window->notifyMouseMoveEvent(&e);
        };
        moveTo(100 + move);
        QCOMPARE(values(), QList<int>({500 - scrolled, 500 - scrolled})); // dragging right moves the view left
        QCOMPARE(rig.d().dragPosition, QPoint(100 + move - carried, 100 + move - carried));
        // A step past the bars' ends leaves them where they are.
        for (QScrollBar* bar : bars)
            bar->setValue(0);
        moveTo(rig.d().dragPosition.x() + 4 * ZoomStep(zoom).pixelSize());
        QCOMPARE(values(), QList<int>({0, 0}));
    }

    // The readout's and a magnified pixel's layouts, and the 8-bit level. Hex digits: one
    // per started group of four bits. A colour pixel is (value, 0, 1); a negative value is
    // read from outside the buffer, where every channel is 0, and is only scaled.
    void pixelValueLayouts_data()
    {
        columns<int, bool, bool, int, QString, QString, int>("bits", "gray", "hex", "value", "readout", "cell", "level");
        QTest::newRow("gray 1 hex") << 1 << true << true << 1 << "0x1" << "0x1" << 128;
        QTest::newRow("outside, colour 4 decimal") << 4 << false << false << -1 << "(0,0,0)" << "R: 0\nG: 0\nB: 0" << -16;
        QTest::newRow("gray 5 hex") << 5 << true << true << 1 << "0x01" << "0x01" << 8;
        QTest::newRow("colour 8 decimal") << 8 << false << false << 200 << "(200,0,1)" << "R: 200\nG: 0\nB: 1" << 200;
        QTest::newRow("outside, gray 12 hex, rounds down") << 12 << true << true << -17 << "0x000" << "0x000" << -2;
        QTest::newRow("colour 16 hex") << 16 << false << true << 4096 << "(0x1000,0x0000,0x0001)" << "R: 0x1000\nG: 0x0000\nB: 0x0001" << 16;
    }

    void pixelValueLayouts()
    {
        const auto [bits, gray, hex, value, readout, cell, level] = fetch<int, bool, bool, int, QString, QString, int>(
            "bits", "gray", "hex", "value", "readout", "cell", "level");
        FrameBuffer image(1, 1, bits, gray);
        gray ? image.setPixelValueGray(0, 0, value) : image.setPixelValueColor(0, 0, value, 0, 1);
        const PixelValue pixel(image, value < 0 ? 1 : 0, 0);
        QCOMPARE(QString::fromStdString(pixel.text(hex) + '|' + pixel.cellText(hex)), readout + '|' + cell);
        QCOMPARE(QList<int>({pixel.isValid(), PixelValue::toEightBitLevel(value, bits)}), QList<int>({value >= 0, level}));
    }

    // The readout under the mouse, and the values drawn into magnified pixels from 32:1 on
    // when switched on.
    void readout_data()
    {
        columns<bool, bool, bool, QPoint, Geometry, QString, QString, bool>("gray", "hex", "values", "mouse", "geometry",
                                                                          "position", "data", "text");
        const Geometry unity{100, 0, 1, 1, 6}, origin{0, 0, 1, 1, 6}; // {minX, minY, step, pixel size, zoom}
        QTest::newRow("colour 8 decimal") << false << false << true << QPoint(10, 20) << unity << "(110, 20)" << "(255,0,16)"
                                          << false;
        QTest::newRow("4:1 column 3") << true << true << false << QPoint(3, 20) << Geometry{100, 2, 1, 4, 8} << "(100, 7)" << "0xff"
                                      << false;
        QTest::newRow("not yet written") << true << true << false << QPoint(10, 40) << unity << "(110, 40)" << "Invalid" << false;
        QTest::newRow("right of the image") << true << true << false << QPoint(150, 20) << unity << "None" << "None" << false;
        QTest::newRow("left of the image") << true << true << false << QPoint(-20, 20) << origin << "None" << "None" << false;
        QTest::newRow("16:1, values on") << true << true << true << QPoint(40, 10) << Geometry{0, 0, 1, 16, 10} << "(2, 0)" << "0xff"
                                         << false;
        QTest::newRow("32:1, values on") << false << false << true << QPoint(40, 10) << Geometry{0, 0, 1, 32, 11} << "(1, 0)"
                                         << "(255,0,16)" << true;
        QTest::newRow("64:1, values off") << true << true << false << QPoint(40, 10) << Geometry{0, 0, 1, 64, 12} << "(0, 0)"
                                          << "0xff" << false;
        // Cells larger than the canvas: the partial column and row still carry their values.
        QTest::newRow("64:1, values on") << true << true << true << QPoint(40, 10) << Geometry{0, 0, 1, 64, 12} << "(0, 0)"
                                         << "0xff" << true;
    }

    void readout()
    {
        const auto [gray, hex, values, mouse, geometry, position, data, text] =
            fetch<bool, bool, bool, QPoint, Geometry, QString, QString, bool>("gray", "hex", "values", "mouse", "geometry",
                                                                            "position", "data", "text");
        WindowRig rig({200, 100, 8, gray});
        auto image = testBuffer(200, 100, 8, gray, true);
        image->setLastValidPixel(199, 30);
        rig.grabbingWith(image);
        rig.child<QPushButton>("hexDecButton")->setChecked(hex);
        rig.child<QPushButton>("rgbOverlayButton")->setChecked(values);
        rig.show(image, geometry, QSize(96, 32)); // black; at 64:1 a partial column and row
        rig.window->notifyCanvasMousePosition(mouse);
        QCOMPARE(rig.text("positionLabel") + ' ' + rig.text("dataLabel"), position + ' ' + data);
        QCOMPARE(rig.child<QLabel>("dataLabel")->isEnabled(), data != "None" && data != "Invalid");
        QCOMPARE(rig.text("dataHeaderLabel"), gray ? QStringLiteral("Data (Gray): ") : QStringLiteral("Data (R,G,B): "));
        rig.window->notifyCanvasMousePosition(QPoint(-1, -1)); // leaving the canvas empties it at once
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
        // Text colour: black with bit 6 of each channel flipped; smoothing only blends it
        // with the black below. Any text changes the black canvas.
        const QImage shown = VisualizerInspector::canvasPixmap(rig.window.get()).toImage().convertToFormat(QImage::Format_RGB32);
        int brightest = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                brightest = std::max(brightest, qRed(shown.pixel(x, y)));
        QVERIFY(shown.allGray() && brightest <= 0x40);
        QCOMPARE(brightest > 0, text);
        // A new acquisition empties the readout at once, before its first frame.
        rig.window->notifyCanvasMousePosition(mouse);
        rig.started();
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
    }
};

int runWindowViewTests(int argc, char** argv)
{
    TestWindowView view;
    return QTest::qExec(&view, argc, argv);
}

#include "tst_window_view.moc"
