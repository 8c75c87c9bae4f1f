// Hostile inputs at each boundary of the display window: odd frames and buffers, views at
// every extreme, saves that cannot succeed, and broken configuration files. Nothing
// crashes, hangs or corrupts data, and every row ends by showing (or saving) a normal
// frame correctly.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "../linetool/LineToolTestSupport.h"
#include "DisplayTestSupport.h"
#include "RuntimeTestSupport.h"

#include "vexo-core/VelmarApplication.h"

#include <QDockWidget>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <climits>
#include <cstdio>

#include <unistd.h>

using namespace vexo::core;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

constexpr int normalWidth = 64, normalHeight = 48, normalAt10x7 = 3 * 10 + 5 * 7;
const FrameFormat normalFormat{normalWidth, normalHeight, 8, true};
const QString normalReadout = QStringLiteral("0x%1").arg(normalAt10x7, 2, 16, QLatin1Char('0'));

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
    Rig() : WindowRig(normalFormat, 3)
    {
        window->resize(640, 480);
        window->show();
    }
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
    QCOMPARE(samplesOf(*rig.newest()).size(), std::size_t(normalWidth * normalHeight));
    QTRY_COMPARE(QVector<int>({rig.d().frameZoomValue, rig.d().frameMinX, rig.d().frameMinY}), QVector<int>({6, 0, 0}));
    QCOMPARE(rig.readAt(QPoint(10, 7)), normalReadout);
    QTRY_COMPARE(rig.canvasPixel(QPoint(10, 7)), qRgb(normalAt10x7, normalAt10x7, normalAt10x7));
}

// A frame without a buffer replaces whatever was shown (with bufferGone: a buffer only the
// window held, whose last reference goes with it); nothing is left to read or save.
void noBufferRow(Rig& rig, bool bufferGone)
{
    rig.click("rgbOverlayButton");
    QVERIFY(rig.grab(fillNormal));
    rig.scene->setVisualizerVisible(false); // from here on only the test's frames come
    QTRY_VERIFY(!rig.d().frameEventPending.load());
    rig.pump();
    if (bufferGone) {
        const boost::shared_ptr<FrameBuffer> alone(new FrameBuffer(16, 16, 12, true));
        alone->setComplete();
        rig.show(alone, {}, QSize(64, 64));
        QCOMPARE(rig.d().currentFrameBuffer.lock(), alone);
    }
    rig.show(nullptr, {}, QSize(64, 64));
    QVERIFY(rig.d().currentFrameBuffer.expired());
    QCOMPARE(rig.readAt(QPoint(3, 3)), QStringLiteral("None"));
    rig.window->repaint();
    DialogAnswerer answerer;
    rig.click("saveFrameButton");
    QCOMPARE(answerer.seen, QStringList());
    rig.scene->setVisualizerVisible(true);
}

// A frame of the format, both tools open (fill: inRange, allOnes or justAbove, which put
// pixel 0 over the depth and pixel 1 at its top; noBuffer and bufferGone: none).
void frameRow(Rig& rig, const QString& fill, FrameFormat format, int zoom, int windowWidth)
{
    rig.click("lineProfileButton");
    rig.click("lineHistogramButton");
    QVERIFY(rig.d().lineProfileDock->isVisible() && rig.d().lineHistogramDock->isVisible());
    if (fill == "noBuffer" || fill == "bufferGone")
        return rig.zoom(zoom), noBufferRow(rig, fill == "bufferGone"), expectNormalFrame(rig);
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
    QCOMPARE(QSize(buffer->width(), buffer->height()), QSize(format.width, format.height));
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
    expectNormalFrame(rig);
}

// A view request at or past an extreme: zoom (spin box), scene (host call: step and
// offsets), scroll (bars at 64:1), drag, resize (zoom c, 0: 1:1).
void viewRow(Rig& rig, const QString& action, int a, int b, int c)
{
    QVERIFY(rig.grab(fillNormal));
    auto* horizontal = rig.child<QScrollBar>("horizontalScrollBar");
    auto* vertical = rig.child<QScrollBar>("verticalScrollBar");
    const std::uint64_t renderedBefore = rig.scene->statistics().framesRendered;
    if (action == "zoom") {
        rig.zoom(a);
        QCOMPARE(rig.scene->view().zoomStep, qBound(0, a, 12));
    } else if (action == "scene") {
        rig.scene->setZoomFactorAndOffset(a, b, c);
        QVERIFY(rig.scene->view().zoomStep >= 0 && rig.scene->view().zoomStep <= 12);
    } else if (action == "resize") {
        rig.zoom(c ? c : 6);
        rig.window->resize(a, b);
        QCoreApplication::processEvents();
        QVERIFY(rig.scene->view().canvasWidth >= 0 && rig.scene->view().canvasHeight >= 0);
        rig.readAt(QPoint(0, 0));
    } else {
        rig.zoom(12);
        QTRY_VERIFY(horizontal->isVisible() && vertical->isVisible());
    }
    if (action == "scroll") {
        horizontal->setValue(a);
        vertical->setValue(b);
    } else if (action == "drag") {
        const QPoint from = rig.child("canvasWidget")->mapTo(rig.window.get(), QPoint(5, 5));
        QTest::mousePress(rig.window.get(), Qt::LeftButton, Qt::NoModifier, from);
        QMouseEvent move(QEvent::MouseMove, QPoint(5 + a, 5 + b), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        rig.window->notifyMouseMoveEvent(&move);
        QTest::mouseRelease(rig.window.get(), Qt::LeftButton, Qt::NoModifier, from);
    }
    const auto view = rig.scene->view(); // scrolled or dragged: still on the image
    QVERIFY((action != "scroll" && action != "drag")
            || (view.offsetX >= 0 && view.offsetX < normalWidth && view.offsetY >= 0 && view.offsetY < normalHeight));
    // The scene renders the new view, and the window takes it.
    QTRY_VERIFY((rig.scene->statistics().framesRendered > renderedBefore || action == "resize")
                && !rig.d().frameEventPending.load());
    QCoreApplication::processEvents();
    if (action == "scene" && b >= normalWidth) { // off the image: background, nothing to read
        QTRY_COMPARE(rig.canvasPixel(QPoint(0, 0)), QRgb(0xff303030u));
        QCOMPARE(rig.readAt(QPoint(0, 0)), QStringLiteral("None"));
    }
    expectNormalFrame(rig);
}

// A save below a folder prepared to refuse it (plainFile: a regular file, so nothing can
// be created there; fullDisk: a file can, but not written), or to a name that works,
// then one that works.
void saveRow(Rig& rig, const QString& prepare)
{
    QTemporaryDir root;
    const QString parent = root.filePath(prepare.isEmpty() ? QStringLiteral("fine") : prepare);
    const QString path = parent + (prepare.isEmpty() ? QStringLiteral("/Bild \u00e4\u00f6\u00fc \u65e5\u672c \u00e9.tif") : "/frame.tif");
    bool mounted = false;
    const auto unmountAtEnd = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {parent});
    });
    QVERIFY(prepare == "plainFile" ? QFile(parent).open(QIODevice::WriteOnly) : QDir().mkpath(parent));
    if (prepare == "fullDisk") {
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", parent}) != 0)
            QSKIP("a small tmpfs cannot be mounted here, so a full disk cannot be made");
        mounted = true;
        QFile filler(parent + "/filler"); // filled to the last byte before the save
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        filler.write("x");
    }
    QVERIFY(rig.grab(fillNormal));
    const auto shown = rig.d().currentFrameBuffer.lock();
    const std::vector<std::uint16_t> samples = samplesOf(*shown);
    for (const QString& to : {path, root.filePath(QStringLiteral("good.tif"))}) {
        DialogAnswerer answerer;
        answerer.fileNames << to;
        answerer.buttons << QMessageBox::Ok;
        rig.click("saveFrameButton");
        if (to != path || prepare.isEmpty()) {
            QCOMPARE(answerer.seen, QStringList{"file"});
            const TiffImage image = readTiff(to.toStdString());
            QCOMPARE(QSize(int(image.width), int(image.height)), QSize(normalWidth, normalHeight));
            QCOMPARE(image.samples, samples);
        } else { // fails visibly, leaving neither the file nor a temporary
            QCOMPARE(answerer.seen, (QStringList{"file", "Error Writing TIFF."}));
            QCOMPARE(QDir(parent).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("frame")), QStringList());
        }
        QCOMPARE(samplesOf(*shown), samples); // the buffer itself is untouched
    }
    expectNormalFrame(rig);
}

// A child process names its configuration file before the first use: it reads defaults,
// writes and reads back an entry, then shows a frame.
int configurationChild()
{
    const long long number = VelmarApplication::getConfigIntEntry("gui.mainwindow.disable_source_detection", 0);
    const std::string text = VelmarApplication::getConfigStringEntry("gui.mainwindow.file.last_storage_path", "<none>");
    VelmarApplication::setConfigEntry("reliability.written", std::string("value \xc3\xa4"));
    const std::string back = VelmarApplication::getConfigStringEntry("reliability.written", "<lost>");
    Rig rig;
    const bool shown = QTest::qWaitForWindowExposed(rig.window.get()) && rig.grab(fillNormal) && rig.readAt(QPoint(10, 7)) == normalReadout;
    std::printf("int=%lld\nstring=%s\nreadback=%s\nframe=%s\n", number, text.c_str(), back.c_str(), shown ? "ok" : "failed");
    return 0;
}

// The file holds this content (null: none), is read-only, or lies below a regular file.
void configurationRow(const QString& prepare, const QByteArray& content)
{
    QTemporaryDir root;
    const QString path = root.filePath(prepare == "plainParent" ? "plain/config.ini" : "config.ini");
    QVERIFY(prepare != "plainParent" || QFile(root.filePath("plain")).open(QIODevice::WriteOnly));
    QFile file(path);
    QVERIFY(content.isNull() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
    file.close();
    QVERIFY(prepare != "readOnly" || QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXO_CONFIG_FILE"), path);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--configuration-child")});
    QVERIFY(child.waitForFinished(20000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, child.readAllStandardError().constData());
    // Unusable entries read as the defaults; the new entry reads back in the process even
    // where it cannot be stored; the window works either way.
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             (QStringList{"int=0", "string=<none>", QStringLiteral("readback=value \u00e4"), "frame=ok"}));
    // Stored for the next process where it can be (root writes through permission bits);
    // a read-only file stays as it was.
    if (prepare != "plainParent") {
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY2(prepare.isEmpty() || ::geteuid() == 0 ? stored.contains("written") : stored == content, stored.constData());
    }
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
        qputenv("VEXO_CONFIG_FILE", folder.filePath(QStringLiteral("config.ini")).toUtf8());
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("step");        // what the handler does, see each one
        QTest::addColumn<FrameFormat>("format");  // frames
        QTest::addColumn<QVector<int>>("values"); // frames: zoom, window width; views: three values
        QTest::addColumn<QByteArray>("content");  // configuration files
        const auto row = [](const char* kind, const QString& name, const char* step, FrameFormat format = {}, int a = 0,
                            int b = 0, int c = 0, const QByteArray& content = QByteArray()) {
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(kind, name))) << kind << step << format << QVector<int>{a, b, c} << content;
        };
        const auto frame = [&](const QString& name, FrameFormat format, const char* fill = "inRange", int zoom = 6, int width = 640) {
            row("frame", name, fill, format, zoom, width);
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
        frame("frame without a buffer", {}, "noBuffer", 12);
        frame("buffer gone after it was shown", {}, "bufferGone", 12);
        const auto view = [&](const char* name, const char* action, int a, int b = 0, int c = 0) { row("view", name, action, {}, a, b, c); };
        view("spin box below 0", "zoom", -100);
        view("spin box above 12", "zoom", 100);
        view("host: step 12, offsets INT_MAX", "scene", 12, INT_MAX, INT_MAX);
        view("host: step 12, offsets INT_MIN", "scene", 12, INT_MIN, INT_MIN);
        view("host: step 0, offsets -1", "scene", 0, -1, -1);
        view("host: step -5", "scene", -5);
        view("host: step 99", "scene", 99);
        view("host: step 12, last pixel", "scene", 12, normalWidth - 1, normalHeight - 1);
        view("host: step 6, just past the corner", "scene", 6, normalWidth, normalHeight);
        view("host: step 0, offsets INT_MAX", "scene", 0, INT_MAX, INT_MAX);
        view("scroll bars to INT_MAX", "scroll", INT_MAX, INT_MAX);
        view("scroll bars to INT_MIN", "scroll", INT_MIN, INT_MIN);
        view("drag far past every edge", "drag", 100000, 100000);
        view("drag far back", "drag", -100000, -100000);
        view("resize to 0 x 0", "resize", 0, 0);
        view("resize to 0 x 0 at 64:1", "resize", 0, 0, 12);
        row("save", "parent is a regular file", "plainFile");
        row("save", "full disk", "fullDisk");
        row("save", "non-ASCII name", "");
        const auto configuration = [&](const char* name, const char* prepare, const QByteArray& content) {
            row("configuration", name, prepare, {}, 0, 0, 0, content);
        };
        configuration("missing file", "", QByteArray());
        configuration("empty file", "", QByteArray(""));
        configuration("binary junk", "", QByteArray("\x00\xff\xfe[\x01=\x02\n\x80\x81", 11));
        configuration("broken sections and lines", "", "[gui\nmainwindow.disable_source_detection=\"unterminated\n===\n[[]]\n"
                                                       "gui.mainwindow.file.last_storage_path\n\\\\\\\n%zz=%%\n");
        configuration("values of the wrong kind", "",
                      "[gui]\nmainwindow.disable_source_detection=0x\nmainwindow.file.last_storage_path=@Invalid()\n");
        configuration("read-only file", "readOnly", "[reliability]\nother=1\n");
        configuration("parent is a regular file", "plainParent", QByteArray());
    }

    void badInput()
    {
        QFETCH(QString, kind);
        QFETCH(QString, step);
        QFETCH(QByteArray, content);
        QFETCH(FrameFormat, format);
        QFETCH(QVector<int>, values);
        if (kind == "configuration")
            return configurationRow(step, content);
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        if (kind == "frame")
            frameRow(rig, step, format, values[0], values[1]);
        else if (kind == "view")
            viewRow(rig, step, values[0], values[1], values[2]);
        else
            saveRow(rig, step);
    }
};

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--configuration-child") == 0)
        return configurationChild();
    QTEST_SET_MAIN_SOURCE_PATH
    TestBadInputs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bad_inputs.moc"
