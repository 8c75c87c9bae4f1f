// Hostile inputs at each boundary of the display window: odd frames and buffers, views at
// every extreme, a file name beyond ASCII, and broken configuration files. Nothing
// crashes, hangs or corrupts data, and every row ends by showing a normal frame correctly.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "../linetool/LineToolTestSupport.h"
#include "DisplayTestSupport.h"
#include "RuntimeTestSupport.h"

#include "vexo-core/VelmarApplication.h"

#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <climits>

#include <unistd.h>

using namespace vexo::core;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

constexpr int normalWidth = 64, normalHeight = 48, normalAt10x7 = 3 * 10 + 5 * 7;
const FrameFormat normalFormat{normalWidth, normalHeight, 8, true};

// The frame every row ends with: 8-bit gray, value (3x + 5y) mod 256.
void fillNormal(FrameBuffer& buffer)
{
    for (int y = 0; y < buffer.height(); ++y)
        for (int x = 0; x < buffer.width(); ++x)
            buffer.setPixelValueGray(unsigned(x), unsigned(y), std::uint16_t((3 * x + 5 * y) & 0xff));
}

// A window on an idle scene whose frames the test pushes and grabs one by one.
struct Rig : WindowRig
{
    Rig() : WindowRig(normalFormat, 3, true) { window->resize(640, 480); }
    boost::shared_ptr<FrameBuffer> newest() { return scene->frameBufferGroup()->buffer(scene->frameBufferGroup()->frameCounter() - 1); }
    // Acquires one frame through the grab button and waits until it is on screen.
    bool grab(ManualFrameSource::Fill fill)
    {
        source().pushFrame(std::move(fill));
        child<QPushButton>("grabSingleButton")->click();
        return QTest::qWaitFor([this] { return !scene->isGrabbing() && !d().grabbing && newest(); }, 5000)
            && QTest::qWaitFor([this, buffer = newest()] { return d().currentFrameBuffer.lock() == buffer; }, 5000);
    }
    QString readAt(QPoint canvasPoint)
    {
        window->notifyCanvasMousePosition(canvasPoint);
        return text("dataLabel");
    }
    QRgb canvasPixel(QPoint at)
    {
        const QImage image = VisualizerInspector::canvasPixmap(window.get()).toImage();
        return image.valid(at) ? image.pixel(at) : 0;
    }
    void click(const char* button) { child<QPushButton>(button)->click(); }
    void zoom(int step) { child<QSpinBox>("zoomValueSpinBox")->setValue(step); }
};

// Every row's last step: the window, back at 1:1 without offset, shows a normal frame,
// reads its pixels and draws them.
void expectNormalFrame(Rig& rig)
{
    rig.child<QPushButton>("rgbOverlayButton")->setChecked(false);
    rig.window->resize(640, 480);
    QVERIFY(rig.scene->format() == normalFormat || rig.scene->setFormat(normalFormat));
    rig.zoom(6);
    rig.scene->setZoomFactorAndOffset(6, 0, 0);
    QVERIFY(rig.grab(fillNormal));
    QTRY_COMPARE(QVector<int>({rig.d().frameZoomValue, rig.d().frameMinX, rig.d().frameMinY}), QVector<int>({6, 0, 0}));
    QCOMPARE(rig.readAt(QPoint(10, 7)), QStringLiteral("0x%1").arg(normalAt10x7, 2, 16, QLatin1Char('0')));
    QTRY_COMPARE(rig.canvasPixel(QPoint(10, 7)), qRgb(normalAt10x7, normalAt10x7, normalAt10x7));
}

// A frame without a buffer replaces a buffer of no group that the window showed; nothing
// is left to read (nor to save: the saving test's).
void noBufferRow(Rig& rig, int zoom)
{
    rig.zoom(zoom);
    rig.click("rgbOverlayButton");
    QVERIFY(rig.grab(fillNormal));
    rig.scene->setVisualizerVisible(false); // from here on only the test's frames come
    QTRY_VERIFY(!rig.d().frameEventPending.load());
    rig.pump();
    const boost::shared_ptr<FrameBuffer> alone = testBuffer(16, 16, 12);
    rig.show(alone, {}, QSize(64, 64));
    QCOMPARE(rig.d().currentFrameBuffer.lock(), alone);
    rig.show(nullptr, {}, QSize(64, 64));
    QVERIFY(rig.d().currentFrameBuffer.expired());
    QCOMPARE(rig.readAt(QPoint(3, 3)), QStringLiteral("None"));
    rig.window->repaint();
    rig.scene->setVisualizerVisible(true);
}

// A frame of the format, both tools open (fill: inRange, allOnes or justAbove, which put
// pixel 0 over the depth and pixel 1 at its top; noBuffer: none).
void frameRow(Rig& rig, const QString& fill, FrameFormat format, int zoom, int windowWidth)
{
    rig.click("lineProfileButton");
    rig.click("lineHistogramButton");
    if (fill == "noBuffer")
        return noBufferRow(rig, zoom);
    QVERIFY(rig.scene->setFormat(format));
    rig.zoom(zoom);
    rig.window->resize(windowWidth, windowWidth * 3 / 4);
    const std::uint16_t top = std::uint16_t((1u << format.bitsPerPixel) - 1);
    QVERIFY(rig.grab([&](FrameBuffer& buffer) {
        for (int y = 0; y < buffer.height(); ++y)
            for (int i = 0; i < buffer.width() * buffer.channels(); ++i)
                buffer.line(y)[i] = std::uint16_t((i * 7 + y * 3) & top);
        for (int c = 0; c < buffer.channels() && buffer.width() >= 2 && buffer.height() >= 1 && fill != "inRange"; ++c) {
            buffer.line(0)[c] = fill == "allOnes" ? 0xffff : std::uint16_t(top + 1);
            buffer.line(0)[buffer.channels() + c] = top;
        }
    }));
    QVERIFY(windowWidth > 0 || rig.d().canvasWidth < 64 || rig.d().canvasHeight < 64); // the row's premise
    const auto buffer = rig.newest();
    // The tools may take another line; the last one is the far edge.
    for (QWidget* tool : {static_cast<QWidget*>(rig.d().lineProfileDialog), static_cast<QWidget*>(rig.d().lineHistogramDialog)}) {
        auto* line = tool->findChild<QSpinBox*>(QStringLiteral("yPositionSpinBox"));
        QVERIFY(line && line->maximum() <= std::max(0, format.height - 1));
        line->setValue(line->maximum());
    }
    rig.d().lineProfileDialog->waitForThread();
    rig.d().lineHistogramDialog->waitForThread();
    QCoreApplication::processEvents();
    // The readout names pixel (0, 0) exactly as stored, whatever the stated depth.
    const auto hex = [&](int i) {
        const int bits = format.bitsPerPixel;
        return QStringLiteral("0x%1").arg(buffer->line(0)[i], bits / 4 + (bits % 4 != 0), 16, QLatin1Char('0'));
    };
    const bool empty = format.width == 0 || format.height == 0;
    QCOMPARE(rig.readAt(QPoint(0, 0)), empty ? QStringLiteral("None")
                                       : format.gray ? hex(0) : QStringLiteral("(%1,%2,%3)").arg(hex(0), hex(1), hex(2)));
    // A value above the depth saturates: never darker than the depth's top value.
    if (fill != "inRange" && zoom == 6) {
        QTRY_VERIFY(!VisualizerInspector::canvasPixmap(rig.window.get()).isNull());
        QTRY_COMPARE(rig.d().frameZoomValue, 6);
        const QRgb over = rig.canvasPixel(QPoint(0, 0)), atTop = rig.canvasPixel(QPoint(1, 0));
        QVERIFY(qRed(over) >= qRed(atTop) && qGreen(over) >= qGreen(atTop) && qBlue(over) >= qBlue(atTop));
    }
    if (zoom == 12) // pixel values at 64:1 with whatever is on screen
        rig.click("rgbOverlayButton");
    QCoreApplication::processEvents();
}

// A view request at or past an extreme: scene (host call: step and offsets), scroll (bars
// at 64:1; the wheel and a drag end in the same bar moves), resize (at 1:1; at 64:1 it is
// the frame row with a canvas smaller than a pixel).
void viewRow(Rig& rig, const QString& action, int a, int b, int c)
{
    QVERIFY(rig.grab(fillNormal));
    const std::uint64_t renderedBefore = rig.scene->statistics().framesRendered;
    if (action == "scene") {
        rig.scene->setZoomFactorAndOffset(a, b, c);
        QVERIFY(rig.scene->view().zoomStep >= 0 && rig.scene->view().zoomStep <= 12);
    } else if (action == "resize") {
        rig.zoom(6);
        rig.window->resize(a, b);
        QCoreApplication::processEvents();
        QVERIFY(rig.scene->view().canvasWidth >= 0 && rig.scene->view().canvasHeight >= 0);
        rig.readAt(QPoint(0, 0));
    } else {
        rig.zoom(12);
        auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
        auto* vertical = rig.child<QScrollBar>("verticalScrollBar");
        QTRY_VERIFY(horizontal->isVisible() && vertical->isVisible());
        horizontal->setValue(a);
        vertical->setValue(b);
        const auto view = rig.scene->view(); // still on the image
        QVERIFY(view.offsetX >= 0 && view.offsetX < normalWidth && view.offsetY >= 0 && view.offsetY < normalHeight);
    }
    // The scene renders the new view, and the window takes it.
    QTRY_VERIFY((rig.scene->statistics().framesRendered > renderedBefore || action == "resize")
                && !rig.d().frameEventPending.load());
    QCoreApplication::processEvents();
    if (action == "scene" && b >= normalWidth) { // off the image: background, nothing to read
        QTRY_COMPARE(rig.canvasPixel(QPoint(0, 0)), QRgb(0xff303030u));
        QCOMPARE(rig.readAt(QPoint(0, 0)), QStringLiteral("None"));
    }
}

// A save to a name beyond ASCII (a failing save is the saving test's): the file holds the
// frame, and the buffer itself is untouched.
void saveRow(Rig& rig)
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("Bild \u00e4\u00f6\u00fc \u65e5\u672c \u00e9.tif"));
    QVERIFY(rig.grab(fillNormal));
    const auto shown = rig.d().currentFrameBuffer.lock();
    const std::vector<std::uint16_t> samples = samplesOf(*shown);
    QByteArray pixels; // one byte a sample, stored uncompressed and in order
    for (const std::uint16_t sample : samples)
        pixels += char(sample);
    DialogAnswerer answerer;
    answerer.fileNames << path;
    rig.click("saveFrameButton");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll().contains(pixels));
    QCOMPARE(samplesOf(*shown), samples);
}

// Before the window exists, its configuration file (named once per process, read afresh at
// each use) holds this content (null: none), is read-only, or lies below a regular file.
// Missing files and other unusable folders are the configuration test's.
void configurationRow(const QString& prepare, const QByteArray& content)
{
    static int row = 0; // a key of its own: an entry that could not be stored holds for the process
    const std::string key = "reliability.written" + std::to_string(++row);
    const QString path = qEnvironmentVariable("VEXO_CONFIG_FILE"), parent = QFileInfo(path).path();
    QVERIFY(QDir(parent).removeRecursively());
    QVERIFY(prepare == "plainParent" ? QFile(parent).open(QIODevice::WriteOnly) : QDir().mkpath(parent));
    QFile file(path);
    QVERIFY(content.isNull() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
    file.close();
    QVERIFY(prepare != "readOnly" || QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    // Unusable entries read as the defaults; the new entry reads back in the process even
    // where it cannot be stored.
    VelmarApplication::setConfigEntry(key, std::string("value \xc3\xa4"));
    QCOMPARE((QStringList{QString::number(VelmarApplication::getConfigIntEntry("gui.mainwindow.disable_source_detection", 0)),
                          QString::fromStdString(VelmarApplication::getConfigStringEntry("gui.mainwindow.file.last_storage_path", "<none>")),
                          QString::fromStdString(VelmarApplication::getConfigStringEntry(key, "<lost>"))}),
             (QStringList{"0", "<none>", QStringLiteral("value \u00e4")}));
    // Stored where it can be (root writes through permission bits); a read-only file stays as it was.
    const QByteArray stored = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QVERIFY2(prepare == "plainParent" || (prepare.isEmpty() || ::geteuid() == 0 ? stored.contains(key.c_str()) : stored == content),
             stored.constData());
}

} // namespace

class TestBadInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        linetooltest::dropOffscreenSizeHintWarnings();
        static QTemporaryDir folder; // the rows' own configuration file, apart from the user's
        qputenv("VEXO_CONFIG_FILE", folder.filePath(QStringLiteral("configuration/config.ini")).toUtf8());
    }

    void badInput_data()
    {
        // The step says what the handler does (see each one); the content is a configuration
        // file's; values are a frame's zoom and window width or a view's three values.
        columns<QString, QString, QByteArray, FrameFormat, QVector<int>>("kind", "step", "content", "format", "values");
        const auto row = [](const char* kind, const QString& name, const char* step, const QByteArray& content = QByteArray(),
                            FrameFormat format = {}, int a = 0, int b = 0, int c = 0) {
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(kind, name))) << kind << step << content << format << QVector<int>{a, b, c};
        };
        const auto frame = [&](const QString& name, FrameFormat format, const char* fill = "inRange", int zoom = 6, int width = 640) {
            row("frame", name, fill, {}, format, zoom, width);
        };
        frame("width 0", {0, 10, 8, true});
        frame("height 0", {10, 0, 8, true});
        frame("0 x 0 colour", {0, 0, 8, false});
        frame("width 1", {1, 10, 12, true});
        frame("height 1", {10, 1, 12, true});
        frame("1 x 1 colour", {1, 1, 10, false});
        frame("line of 1 << 20 gray", {1 << 20, 1, 12, true});
        frame("line of 1 << 16 colour, at 1:64", {1 << 16, 1, 8, false}, "inRange", 0);
        for (int bits : {1, 8, 16})
            frame(QStringLiteral("%1 bits").arg(bits), {40, 30, bits, true});
        for (int bits : {1, 8, 15})
            frame(QStringLiteral("%1 bits, values just above").arg(bits), {40, 30, bits, true}, "justAbove");
        frame("7 bits, all ones", {40, 30, 7, true}, "allOnes");
        frame("10 bits colour, all ones", {40, 30, 10, false}, "allOnes");
        frame("colour, width 3", {3, 5, 8, false});
        frame("colour, width 101, at 64:1", {101, 7, 10, false}, "inRange", 12);
        frame("canvas smaller than one pixel at 64:1", {40, 30, 12, true}, "inRange", 12, 0);
        frame("frame without a buffer after one of no group", {}, "noBuffer", 12);
        row("view", "host: step 12, offsets INT_MAX", "scene", {}, {}, 12, INT_MAX, INT_MAX);
        row("view", "host: step 12, offsets INT_MIN", "scene", {}, {}, 12, INT_MIN, INT_MIN);
        row("view", "host: step 0, offsets -1", "scene", {}, {}, 0, -1, -1);
        row("view", "host: step -5", "scene", {}, {}, -5, 0, 0);
        row("view", "host: step 99", "scene", {}, {}, 99, 0, 0);
        row("view", "host: step 12, last pixel", "scene", {}, {}, 12, normalWidth - 1, normalHeight - 1);
        row("view", "host: step 6, just past the corner", "scene", {}, {}, 6, normalWidth, normalHeight);
        row("view", "host: step 0, offsets INT_MAX", "scene", {}, {}, 0, INT_MAX, INT_MAX);
        row("view", "scroll bars to INT_MAX", "scroll", {}, {}, INT_MAX, INT_MAX, 0);
        row("view", "scroll bars to INT_MIN", "scroll", {}, {}, INT_MIN, INT_MIN, 0);
        row("view", "resize to 0 x 0", "resize", {}, {}, 0, 0, 0);
        row("save", "non-ASCII name", "");
        row("configuration", "binary junk", "", QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 11));
        row("configuration", "broken sections and lines", "", "[gui\nmainwindow.disable_source_detection=\"unterminated\n===\n[[]]\n"
                                                              "gui.mainwindow.file.last_storage_path\n\\\\\\\n%zz=%%\n");
        row("configuration", "read-only file", "readOnly", "[reliability]\nother=1\n");
        row("configuration", "parent is a regular file", "plainParent");
    }

    void badInput()
    {
        const auto [kind, step, content, format, values] =
            fetch<QString, QString, QByteArray, FrameFormat, QVector<int>>("kind", "step", "content", "format", "values");
        if (kind == "configuration")
            configurationRow(step, content);
        Rig rig;
        if (kind == "frame")
            frameRow(rig, step, format, values[0], values[1]);
        else if (kind == "view")
            viewRow(rig, step, values[0], values[1], values[2]);
        else if (kind == "save")
            saveRow(rig);
        if (!QTest::currentTestFailed())
            expectNormalFrame(rig);
    }
};

QTEST_MAIN(TestBadInputs)

#include "tst_bad_inputs.moc"
