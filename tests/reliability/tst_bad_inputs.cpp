// Hostile inputs at each boundary of the display window: odd frames and buffers, views at
// every extreme, saves that cannot succeed, and broken configuration files. Failures the
// library keeps silent stay silent, but nothing crashes, hangs or corrupts data, and every
// row ends by showing (or saving) a normal frame correctly.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include <QString> // before the helper below, which uses it

#include "QuietOffscreen.h"
#include "ReliabilitySupport.h"
#include "DisplayTestSupport.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QDockWidget>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <cstdio>
#include <memory>

#include <unistd.h>

using namespace vexo::core;

namespace {

constexpr int normalWidth = 64, normalHeight = 48;

// The frame every row ends with: 8-bit gray, value (3x + 5y) mod 256.
std::uint16_t normalValue(int x, int y)
{
    return std::uint16_t((3 * x + 5 * y) & 0xff);
}

// A shown window on an idle scene whose frames the test pushes and grabs one by one.
struct Rig
{
    explicit Rig(FrameFormat format = {normalWidth, normalHeight, 8, true})
        : scene(DisplayScene::create(format, 2))
        , window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0))
    {
        scene->setStatusPeriod(0);
        scene->attachVisualizer(window.get());
        window->resize(640, 480);
        window->show();
    }
    ~Rig() { scene->detachVisualizer(window.get()); }

    auto& d() { return VisualizerInspector::d(window.get()); }
    template <typename T>
    T* child(const char* name) { return window->findChild<T*>(QLatin1String(name)); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    ManualFrameSource& source() { return static_cast<ManualFrameSource&>(scene->source()); }
    boost::shared_ptr<FrameBuffer> newest()
    {
        const auto group = scene->frameBufferGroup();
        return group->buffer(group->frameCounter() - 1);
    }

    // Acquires one frame through the grab button and waits until it is on screen.
    bool grab(ManualFrameSource::Fill fill)
    {
        source().pushFrame(std::move(fill));
        child<QPushButton>("grabSingleButton")->click();
        if (!QTest::qWaitFor([this] { return !scene->isGrabbing() && !d().grabbing && newest(); }, 5000))
            return false;
        const auto buffer = newest();
        return QTest::qWaitFor([&] { return d().currentFrameBuffer.lock() == buffer; }, 5000);
    }

    void readAt(QPoint canvasPoint) { window->notifyCanvasMousePosition(canvasPoint); }
    QRgb canvasPixel(QPoint at)
    {
        const QImage image = VisualizerInspector::canvasPixmap(window.get()).toImage();
        return image.valid(at) ? image.pixel(at) : 0;
    }

    boost::shared_ptr<DisplayScene> scene;
    std::unique_ptr<Qt4DisplaySceneVisualizer> window;
};

void fillNormal(FrameBuffer& buffer)
{
    for (int y = 0; y < buffer.height(); ++y)
        for (int x = 0; x < buffer.width(); ++x)
            buffer.setPixelValueGray(unsigned(x), unsigned(y), normalValue(x, y));
}

// Every row's last step: the window, back at 1:1 without offset, shows a normal frame,
// reads its pixels and draws them.
void expectNormalFrame(Rig& rig)
{
    rig.window->resize(640, 480);
    if (rig.scene->format() != FrameFormat{normalWidth, normalHeight, 8, true})
        QVERIFY(rig.scene->setFormat({normalWidth, normalHeight, 8, true}));
    rig.child<QSpinBox>("zoomValueSpinBox")->setValue(6);
    rig.scene->setZoomFactorAndOffset(6, 0, 0);
    QVERIFY(rig.grab(fillNormal));
    const auto buffer = rig.newest();
    QCOMPARE(rig.d().currentFrameBuffer.lock(), buffer);
    QCOMPARE(reliability::samplesOf(*buffer).size(), std::size_t(normalWidth * normalHeight));
    QTRY_COMPARE(rig.d().frameZoomValue, 6);
    QTRY_COMPARE(rig.d().frameMinX, 0);
    QTRY_COMPARE(rig.d().frameMinY, 0);
    rig.readAt(QPoint(10, 7));
    QCOMPARE(rig.text("positionLabel"), QStringLiteral("(10, 7)"));
    QCOMPARE(rig.text("dataLabel"), QStringLiteral("0x%1").arg(normalValue(10, 7), 2, 16, QLatin1Char('0')));
    const int level = normalValue(10, 7);
    QTRY_COMPARE(rig.canvasPixel(QPoint(10, 7)), qRgb(level, level, level));
}

// What the window's readout shows for a stored value.
QString hexOf(std::uint64_t value, int bits)
{
    return QStringLiteral("0x%1").arg(value, bits / 4 + (bits % 4 != 0), 16, QLatin1Char('0'));
}

enum FrameKind { Pushed, EmptyBuffer, BufferGone };
enum Fill { InRange, AllOnes, JustAbove };

} // namespace

Q_DECLARE_METATYPE(FrameKind)
Q_DECLARE_METATYPE(Fill)
Q_DECLARE_METATYPE(FrameFormat)

class TestBadInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frames_data();
    void frames();
    void view_data();
    void view();
    void saving_data();
    void saving();
    void configuration_data();
    void configuration();

private:
    QTemporaryDir folder;
};

void TestBadInputs::initTestCase()
{
    profiletest::dropOffscreenSizeHintWarnings();
    QVERIFY(folder.isValid());
    qputenv("VEXO_CONFIG_FILE", folder.filePath(QStringLiteral("config.ini")).toUtf8());
}

// ---------------------------------------------------------------------------------------
// Frames and buffers

void TestBadInputs::frames_data()
{
    QTest::addColumn<FrameKind>("kind");
    QTest::addColumn<FrameFormat>("format");
    QTest::addColumn<Fill>("fill");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QSize>("windowSize");

    const QSize normal(640, 480);
    QTest::newRow("width 0") << Pushed << FrameFormat{0, 10, 8, true} << InRange << 6 << normal;
    QTest::newRow("height 0") << Pushed << FrameFormat{10, 0, 8, true} << InRange << 6 << normal;
    QTest::newRow("0 x 0 colour") << Pushed << FrameFormat{0, 0, 8, false} << InRange << 6 << normal;
    QTest::newRow("width 1") << Pushed << FrameFormat{1, 10, 12, true} << InRange << 6 << normal;
    QTest::newRow("height 1") << Pushed << FrameFormat{10, 1, 12, true} << InRange << 6 << normal;
    QTest::newRow("1 x 1 colour") << Pushed << FrameFormat{1, 1, 10, false} << InRange << 6 << normal;
    QTest::newRow("line of 1 << 20 gray") << Pushed << FrameFormat{1 << 20, 1, 12, true} << InRange << 6 << normal;
    // Colour takes the same paths with three values; 1 << 16 keeps the row quick.
    QTest::newRow("line of 1 << 16 colour, at 1:64") << Pushed << FrameFormat{1 << 16, 1, 8, false} << InRange << 0 << normal;
    for (int bits : {1, 7, 8, 9, 15, 16})
        QTest::newRow(qPrintable(QStringLiteral("%1 bits").arg(bits)))
            << Pushed << FrameFormat{40, 30, bits, true} << InRange << 6 << normal;
    for (int bits : {1, 7, 8, 9, 15})
        QTest::newRow(qPrintable(QStringLiteral("%1 bits, values just above").arg(bits)))
            << Pushed << FrameFormat{40, 30, bits, true} << JustAbove << 6 << normal;
    QTest::newRow("7 bits, all ones") << Pushed << FrameFormat{40, 30, 7, true} << AllOnes << 6 << normal;
    QTest::newRow("10 bits colour, all ones") << Pushed << FrameFormat{40, 30, 10, false} << AllOnes << 6 << normal;
    QTest::newRow("colour, width 3") << Pushed << FrameFormat{3, 5, 8, false} << InRange << 6 << normal;
    QTest::newRow("colour, width 101, at 64:1") << Pushed << FrameFormat{101, 7, 10, false} << InRange << 12 << normal;
    QTest::newRow("canvas smaller than one pixel at 64:1")
        << Pushed << FrameFormat{40, 30, 12, true} << InRange << 12 << QSize(0, 0);
    QTest::newRow("frame without a buffer") << EmptyBuffer << FrameFormat{} << InRange << 12 << normal;
    QTest::newRow("buffer gone after it was shown") << BufferGone << FrameFormat{} << InRange << 12 << normal;
}

void TestBadInputs::frames()
{
    QFETCH(FrameKind, kind);
    QFETCH(FrameFormat, format);
    QFETCH(Fill, fill);
    QFETCH(int, zoom);
    QFETCH(QSize, windowSize);

    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    // Both tools follow every frame.
    rig.child<QPushButton>("lineProfileButton")->click();
    rig.child<QPushButton>("lineHistogramButton")->click();
    QVERIFY(rig.d().lineProfileDock->isVisible() && rig.d().lineHistogramDock->isVisible());

    if (kind == Pushed) {
        QVERIFY(rig.scene->setFormat(format));
        rig.child<QSpinBox>("zoomValueSpinBox")->setValue(zoom);
        rig.window->resize(windowSize);
        const std::uint64_t top = (std::uint64_t(1) << format.bitsPerPixel) - 1;
        const std::uint64_t above = fill == AllOnes ? 0xffff : fill == JustAbove ? top + 1 : 0;
        QVERIFY(rig.grab([&](FrameBuffer& buffer) {
            for (int y = 0; y < buffer.height(); ++y) {
                std::uint16_t* line = buffer.line(y);
                for (int i = 0; i < buffer.width() * buffer.channels(); ++i)
                    line[i] = std::uint16_t((i * 7 + y * 3) & top);
            }
            // Pixel 0 over the stated depth (when asked), pixel 1 at its top.
            if (buffer.width() >= 2 && buffer.height() >= 1 && fill != InRange)
                for (int c = 0; c < buffer.channels(); ++c) {
                    buffer.line(0)[c] = std::uint16_t(above);
                    buffer.line(0)[buffer.channels() + c] = std::uint16_t(top);
                }
        }));
        if (windowSize.isEmpty()) // the row's premise: less canvas than one magnified pixel
            QVERIFY2(rig.d().canvasWidth < 64 || rig.d().canvasHeight < 64,
                     qPrintable(QStringLiteral("%1 x %2").arg(rig.d().canvasWidth).arg(rig.d().canvasHeight)));
        const auto buffer = rig.newest();
        QCOMPARE(buffer->width(), format.width);
        QCOMPARE(buffer->height(), format.height);

        // The tools may take another line; the last one is the far edge.
        for (QWidget* dialog : {static_cast<QWidget*>(rig.d().lineProfileDialog),
                                static_cast<QWidget*>(rig.d().lineHistogramDialog)}) {
            auto* line = dialog->findChild<QSpinBox*>(QStringLiteral("yPositionSpinBox"));
            QVERIFY(line);
            QVERIFY(line->maximum() <= std::max(0, format.height - 1));
            line->setValue(line->maximum());
        }
        rig.d().lineProfileDialog->waitForThread();
        rig.d().lineHistogramDialog->waitForThread();
        QCoreApplication::processEvents();

        // The readout names pixel (0, 0) exactly as stored, whatever the stated depth.
        rig.readAt(QPoint(0, 0));
        if (format.width == 0 || format.height == 0) {
            QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
        } else {
            QCOMPARE(rig.text("positionLabel"), QStringLiteral("(0, 0)"));
            QString expected;
            const std::uint16_t* p = buffer->line(0);
            if (format.gray)
                expected = hexOf(p[0], format.bitsPerPixel);
            else
                expected = QStringLiteral("(%1,%2,%3)")
                               .arg(hexOf(p[0], format.bitsPerPixel), hexOf(p[1], format.bitsPerPixel),
                                    hexOf(p[2], format.bitsPerPixel));
            QCOMPARE(rig.text("dataLabel"), expected);
        }
        // A value above the depth saturates: never darker than the depth's top value.
        if (fill != InRange && zoom == 6) {
            QTRY_VERIFY(!VisualizerInspector::canvasPixmap(rig.window.get()).isNull());
            QTRY_COMPARE(rig.d().frameZoomValue, 6);
            const QRgb over = rig.canvasPixel(QPoint(0, 0));
            const QRgb atTop = rig.canvasPixel(QPoint(1, 0));
            QVERIFY2(qRed(over) >= qRed(atTop) && qGreen(over) >= qGreen(atTop) && qBlue(over) >= qBlue(atTop),
                     qPrintable(QStringLiteral("%1 below %2").arg(over, 0, 16).arg(atTop, 0, 16)));
        }
        // Pixel values at 64:1 with whatever is on screen.
        if (zoom == 12)
            rig.child<QPushButton>("rgbOverlayButton")->click();
        QCoreApplication::processEvents();
    } else {
        rig.child<QSpinBox>("zoomValueSpinBox")->setValue(zoom);
        rig.child<QPushButton>("rgbOverlayButton")->click();
        QVERIFY(rig.grab(fillNormal)); // the window has stored frames, so frames are shown
        // From here on only the test's frames reach the window.
        rig.scene->setVisualizerVisible(false);
        QTRY_VERIFY(!rig.d().frameEventPending.load());
        QCoreApplication::sendPostedEvents(rig.window.get());
        if (kind == BufferGone) {
            boost::shared_ptr<FrameBuffer> alone(new FrameBuffer(16, 16, 12, true));
            alone->setComplete();
            boost::shared_ptr<DisplaySceneFrame> frame(new DisplaySceneFrame(64, 64));
            frame->setFrameBuffer(alone);
            rig.window->notifySceneFrameChanged(frame, 1.0);
            QCoreApplication::sendPostedEvents(rig.window.get());
            QCOMPARE(rig.d().currentFrameBuffer.lock(), alone);
            alone.reset();
            frame.reset();
        }
        // A frame without a buffer replaces whatever was shown, and the last reference to
        // a buffer that was on screen goes with it.
        boost::shared_ptr<DisplaySceneFrame> empty(new DisplaySceneFrame(64, 64));
        rig.window->notifySceneFrameChanged(empty, 1.0);
        empty.reset();
        QCoreApplication::sendPostedEvents(rig.window.get());
        QVERIFY(rig.d().currentFrameBuffer.expired());
        rig.readAt(QPoint(3, 3));
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
        rig.window->repaint();
        // Nothing to save: the button asks nothing.
        DialogAnswerer answerer;
        rig.child<QPushButton>("saveFrameButton")->click();
        QCOMPARE(answerer.seen, QStringList());
        rig.scene->setVisualizerVisible(true);
    }
    rig.child<QPushButton>("rgbOverlayButton")->setChecked(false);
    expectNormalFrame(rig);
}

// ---------------------------------------------------------------------------------------
// View

void TestBadInputs::view_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<bool>("background"); // canvas pixel (0, 0) shows no image

    QTest::newRow("spin box below 0") << "zoom" << -100 << 0 << 0 << false;
    QTest::newRow("spin box above 12") << "zoom" << 100 << 0 << 0 << false;
    QTest::newRow("host: step 12, offsets INT_MAX") << "scene" << 12 << INT_MAX << INT_MAX << true;
    QTest::newRow("host: step 12, offsets INT_MIN") << "scene" << 12 << INT_MIN << INT_MIN << false;
    QTest::newRow("host: step 0, offsets -1") << "scene" << 0 << -1 << -1 << false;
    QTest::newRow("host: step -5") << "scene" << -5 << 0 << 0 << false;
    QTest::newRow("host: step 99") << "scene" << 99 << 0 << 0 << false;
    QTest::newRow("host: step 12, last pixel") << "scene" << 12 << normalWidth - 1 << normalHeight - 1 << false;
    QTest::newRow("host: step 6, just past the corner") << "scene" << 6 << normalWidth << normalHeight << true;
    QTest::newRow("host: step 0, offsets INT_MAX") << "scene" << 0 << INT_MAX << INT_MAX << true;
    QTest::newRow("scroll bars to INT_MAX") << "scroll" << INT_MAX << INT_MAX << 0 << false;
    QTest::newRow("scroll bars to INT_MIN") << "scroll" << INT_MIN << INT_MIN << 0 << false;
    QTest::newRow("scroll bars one past the end") << "scrollPast" << 1 << 1 << 0 << false;
    QTest::newRow("wheel in at 64:1") << "wheel" << 12 << 120 << 0 << false;
    QTest::newRow("wheel out at 1:64") << "wheel" << 0 << -120 << 0 << false;
    QTest::newRow("drag far past every edge") << "drag" << 100000 << 100000 << 0 << false;
    QTest::newRow("drag far back") << "drag" << -100000 << -100000 << 0 << false;
    QTest::newRow("resize to 0 x 0") << "resize" << 0 << 0 << 0 << false;
    QTest::newRow("resize to 0 x 0 at 64:1") << "resize" << 0 << 0 << 12 << false;
}

void TestBadInputs::view()
{
    QFETCH(QString, action);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(bool, background);

    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.grab(fillNormal));
    auto* zoom = rig.child<QSpinBox>("zoomValueSpinBox");
    auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = rig.child<QScrollBar>("verticalScrollBar");
    const std::uint64_t renderedBefore = rig.scene->statistics().framesRendered;

    if (action == "zoom") {
        zoom->setValue(a);
        QVERIFY(zoom->value() >= 0 && zoom->value() <= 12);
        QCOMPARE(rig.scene->view().zoomStep, zoom->value());
    } else if (action == "scene") {
        rig.scene->setZoomFactorAndOffset(a, b, c);
        QVERIFY(rig.scene->view().zoomStep >= 0 && rig.scene->view().zoomStep <= 12);
    } else if (action == "scroll" || action == "scrollPast") {
        zoom->setValue(12);
        QTRY_VERIFY(horizontal->isVisible() && vertical->isVisible());
        horizontal->setValue(action == "scroll" ? a : horizontal->maximum() + a);
        vertical->setValue(action == "scroll" ? b : vertical->maximum() + b);
        const DisplayScene::View v = rig.scene->view();
        QVERIFY(v.offsetX >= 0 && v.offsetX < normalWidth);
        QVERIFY(v.offsetY >= 0 && v.offsetY < normalHeight);
    } else if (action == "wheel") {
        zoom->setValue(a);
        auto* canvas = rig.child<QWidget>("canvasWidget");
        const QPointF at = canvas->mapTo(rig.window.get(), QPoint(5, 5));
        QWheelEvent wheel(at, rig.window->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, b), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rig.window.get(), &wheel);
        QCOMPARE(zoom->value(), a); // already at the end: nothing moves
        QCOMPARE(rig.scene->view().zoomStep, a);
    } else if (action == "drag") {
        zoom->setValue(12);
        QTRY_VERIFY(horizontal->isVisible());
        auto* canvas = rig.child<QWidget>("canvasWidget");
        QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier, canvas->mapTo(rig.window.get(), QPoint(5, 5)));
        QMouseEvent move(QEvent::MouseMove, QPoint(5 + a, 5 + b), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        rig.window->notifyMouseMoveEvent(&move);
        QTest::mouseRelease(rig.window.get(), Qt::LeftButton, Qt::NoModifier, canvas->mapTo(rig.window.get(), QPoint(5, 5)));
        QVERIFY(horizontal->value() >= horizontal->minimum() && horizontal->value() <= horizontal->maximum());
        QVERIFY(vertical->value() >= vertical->minimum() && vertical->value() <= vertical->maximum());
    } else if (action == "resize") {
        zoom->setValue(c ? c : 6);
        rig.window->resize(a, b);
        QCoreApplication::processEvents();
        const DisplayScene::View v = rig.scene->view();
        QVERIFY(v.canvasWidth >= 0 && v.canvasHeight >= 0);
        rig.readAt(QPoint(0, 0));
    }

    // The scene renders the new view, and the window takes it.
    QTRY_VERIFY(rig.scene->statistics().framesRendered > renderedBefore || action == "wheel"
                || action == "resize");
    QTRY_VERIFY(!rig.d().frameEventPending.load());
    QCoreApplication::processEvents();
    if (background) {
        // Scrolled off the image: the canvas shows the background, nothing of the image.
        QTRY_COMPARE(rig.canvasPixel(QPoint(0, 0)), QRgb(0xff303030u));
        rig.readAt(QPoint(0, 0));
        QCOMPARE(rig.text("dataLabel"), QStringLiteral("None"));
    }
    expectNormalFrame(rig);
}

// ---------------------------------------------------------------------------------------
// Saving

void TestBadInputs::saving_data()
{
    QTest::addColumn<QString>("where"); // relative to the test folder
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QStringList>("dialogs");

    const QStringList failed{"file", "Error Writing TIFF."};
    QTest::newRow("missing folder") << "missing/deeper/frame.tif" << "" << false << failed;
    QTest::newRow("parent is a regular file") << "plain.txt/frame.tif" << "plainFile" << false << failed;
    QTest::newRow("read-only folder") << "locked/frame.tif" << "readOnly" << false << failed;
    QTest::newRow("full disk") << "full/frame.tif" << "fullDisk" << false << failed;
    QTest::newRow("non-ASCII name") << QStringLiteral("Bild \u00e4\u00f6\u00fc \u65e5\u672c \u00e9.tif") << ""
                                    << true << QStringList{"file"};
    QTest::newRow("existing file answered No") << "existing.tif" << "existing" << false
                                               << QStringList{"file", "File Exists"};
}

void TestBadInputs::saving()
{
    QFETCH(QString, where);
    QFETCH(QString, prepare);
    QFETCH(bool, written);
    QFETCH(QStringList, dialogs);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString path = root.filePath(where);
    const QString parent = QFileInfo(path).absolutePath();
    const QByteArray kept("not a TIFF, must survive");
    QString mountPoint;

    if (prepare == "plainFile") {
        QFile file(parent);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (prepare == "readOnly") {
        if (::geteuid() == 0)
            QSKIP("running as root: permission bits do not stop writes (see \"parent is a regular file\")");
        QVERIFY(QDir().mkpath(parent));
        QVERIFY(QFile::setPermissions(parent, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    } else if (prepare == "fullDisk") {
        QVERIFY(QDir().mkpath(parent));
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", parent});
        if (!mount.waitForFinished(5000) || mount.exitStatus() != QProcess::NormalExit || mount.exitCode() != 0)
            QSKIP("a small tmpfs cannot be mounted here, so a full disk cannot be made");
        mountPoint = parent;
        // Filled to the last byte before the save.
        QFile filler(QDir(parent).filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        filler.write(block.left(1));
        filler.close();
    } else if (prepare == "existing") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kept);
    }
    struct Unmount
    {
        QString point;
        ~Unmount()
        {
            if (!point.isEmpty())
                QProcess::execute(QStringLiteral("umount"), {point});
        }
    } unmountAtEnd{mountPoint};

    Rig rig;
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.grab(fillNormal));
    const auto shown = rig.d().currentFrameBuffer.lock();
    QVERIFY(shown);
    const std::vector<std::uint16_t> samples = reliability::samplesOf(*shown);

    // Directly: the writer reports the failure (an existing file it would overwrite).
    if (prepare != "existing") {
        const int result = shown->saveTiff(path.toStdString());
        QCOMPARE(result == 0, written);
        if (written)
            QVERIFY(QFile::remove(path));
    }

    // Through the window: the dialogs, then the file.
    {
        DialogAnswerer answerer;
        answerer.fileNames << path;
        answerer.buttons << (prepare == "existing" ? QMessageBox::No : QMessageBox::Ok);
        rig.child<QPushButton>("saveFrameButton")->click();
        QCOMPARE(answerer.seen, dialogs);
    }
    if (written) {
        QCOMPARE(reliability::readTiff(path, normalWidth, normalHeight, 1), samples);
    } else if (prepare == "existing") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kept);
    } else {
        QVERIFY(!QFileInfo::exists(path));
        // No temporary left behind either.
        if (QFileInfo(parent).isDir())
            QCOMPARE(QDir(parent).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("frame")), QStringList());
    }
    QCOMPARE(reliability::samplesOf(*shown), samples); // the buffer itself is untouched

    // A save to a usable place works as before.
    const QString good = root.filePath(QStringLiteral("good.tif"));
    {
        DialogAnswerer answerer;
        answerer.fileNames << good;
        rig.child<QPushButton>("saveFrameButton")->click();
        QCOMPARE(answerer.seen, QStringList{"file"});
    }
    QCOMPARE(reliability::readTiff(good, normalWidth, normalHeight, 1), samples);
    if (prepare == "readOnly")
        QFile::setPermissions(parent, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    expectNormalFrame(rig);
}

// ---------------------------------------------------------------------------------------
// Configuration, each case in a child process that names its file before the first use

namespace {

// The child's part: reads defaults, writes and reads back an entry, then shows a frame.
int configurationChild()
{
    const std::int64_t number = VelmarApplication::getConfigIntEntry("gui.mainwindow.disable_source_detection", 0);
    const std::string text = VelmarApplication::getConfigStringEntry("gui.mainwindow.file.last_storage_path", "<none>");
    VelmarApplication::setConfigEntry("reliability.written", std::string("value \xc3\xa4"));
    const std::string back = VelmarApplication::getConfigStringEntry("reliability.written", "<lost>");
    bool shown = false;
    {
        Rig rig;
        shown = QTest::qWaitForWindowExposed(rig.window.get()) && rig.grab(fillNormal);
        if (shown) {
            rig.readAt(QPoint(10, 7));
            shown = rig.text("dataLabel") == QStringLiteral("0x%1").arg(normalValue(10, 7), 2, 16, QLatin1Char('0'));
        }
    }
    std::printf("int=%lld\nstring=%s\nreadback=%s\nframe=%s\n", static_cast<long long>(number), text.c_str(),
                back.c_str(), shown ? "ok" : "failed");
    std::fflush(stdout);
    return 0;
}

} // namespace

void TestBadInputs::configuration_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("prepare");

    QTest::newRow("missing file") << "config.ini" << QByteArray() << "";
    QTest::newRow("missing folder") << "not/there/config.ini" << QByteArray() << "";
    QTest::newRow("empty file") << "config.ini" << QByteArray("") << "";
    QTest::newRow("binary junk") << "config.ini" << QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 11) << "";
    QTest::newRow("broken sections and lines")
        << "config.ini"
        << QByteArray("[gui\nmainwindow.disable_source_detection=\"unterminated\n===\n[[]]\n"
                      "gui.mainwindow.file.last_storage_path\n\\\\\\\n%zz=%%\n")
        << "";
    QTest::newRow("values of the wrong kind")
        << "config.ini"
        << QByteArray("[gui]\nmainwindow.disable_source_detection=0x\nmainwindow.file.last_storage_path=@Invalid()\n")
        << "";
    QTest::newRow("read-only file") << "config.ini" << QByteArray("[reliability]\nother=1\n") << "readOnly";
    QTest::newRow("parent is a regular file") << "plain/config.ini" << QByteArray() << "plainParent";
}

void TestBadInputs::configuration()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, prepare);

    QTemporaryDir root;
    const QString path = root.filePath(name);
    if (prepare == "plainParent") {
        QFile plain(QFileInfo(path).absolutePath());
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    if (prepare == "readOnly")
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    // Root writes through permission bits; nobody writes below a regular file.
    const bool writable = prepare.isEmpty() || (prepare == "readOnly" && ::geteuid() == 0);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXO_CONFIG_FILE"), path);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--configuration-child")});
    QVERIFY(child.waitForFinished(20000));
    const QString err = QString::fromUtf8(child.readAllStandardError());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, qPrintable(err));
    const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);

    // Unusable entries read as the defaults; the new entry reads back in the process even
    // where it cannot be stored; the window works either way.
    QCOMPARE(lines.value(0), QStringLiteral("int=0"));
    QCOMPARE(lines.value(1), QStringLiteral("string=<none>"));
    QCOMPARE(lines.value(2), QStringLiteral("readback=value \u00e4"));
    QCOMPARE(lines.value(3), QStringLiteral("frame=ok"));
    if (writable) {
        // Stored for the next process too.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains("written"), qPrintable(path));
    } else if (prepare == "readOnly") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content); // untouched
    }
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--configuration-child") == 0)
        return configurationChild();
    QTEST_SET_MAIN_SOURCE_PATH
    TestBadInputs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bad_inputs.moc"
