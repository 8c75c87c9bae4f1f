// The line profile's own parts. Its canvas: the marker columns, the overview band and the
// horizontal markers, as painted; the detail view's picture at each zoom and scroll position,
// and the bounded size of what it keeps for it; and the sample under the pointer (the
// overview's scaling is checked through the dialog, in tests/linetool). Its exports: file
// contents, suffixes, the overwrite question, cancelling, the remembered path and an export
// that fails; every modal dialog is answered by the test. The worker and the dialog are tested
// with the line histogram's in tests/linetool.

#include "DisplayTestSupport.h"
#include "LineToolTestSupport.h"

#include "vexo-core/VelmarApplication.h"

#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace linetooltest;

namespace {

const std::string pathKey = "gui.mainwindow.file.last_storage_path";

} // namespace

class TestLineProfile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        dropOffscreenSizeHintWarnings();
        QVERIFY(configDir.isValid());
        // Before the first configuration access: the store takes the name once.
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configDir.filePath(QStringLiteral("vexo.ini"))));
    }
    void paintedMarks_data();
    void paintedMarks();
    void pictureAndPointer_data();
    void pictureAndPointer();
    void save_data();
    void save();

private:
    QTemporaryDir configDir;
};

void TestLineProfile::paintedMarks_data()
{
    for (const char* column : {"overview", "samples", "width", "offset", "last", "zoom", "vertical", "horizontal"})
        QTest::addColumn<int>(column); // offset is also the first visible column
    QTest::addColumn<QRect>("marked"); // all of it in `colour`, the rest of the widget black
    QTest::addColumn<uint>("colour");

    // The detail view's marker column; the first visible sample may be cut at the left edge.
    const uint half = 0x808000; // yellow at half opacity on black
    QTest::newRow("4x cut at the left edge") << 0 << 512 << 256 << 6 << 262 << 4 << 1 << -1 << QRect(0, 0, 2, 256) << half;
    QTest::newRow("4x next after the cut") << 0 << 512 << 256 << 6 << 262 << 4 << 2 << -1 << QRect(2, 0, 4, 256) << half;
    QTest::newRow("3x cut at the left edge") << 0 << 512 << 256 << 7 << 263 << 3 << 2 << -1 << QRect(0, 0, 2, 256) << half;
    // Level l in row 256 - l of the detail view and in row 64 - l / 4 (truncated) of the overview.
    QTest::newRow("detail level 100") << 0 << 200 << 200 << 0 << 199 << 1 << -1 << 100 << QRect(0, 156, 200, 1) << half;
    QTest::newRow("overview level 7") << 1 << 200 << 200 << 0 << 199 << 1 << -1 << 7 << QRect(0, 63, 200, 1) << 0xFFFF00u;
    // The band and marker scale with the span shown (last - first + 1 samples), not with the
    // widget width; at 799 of 1000 the two differ by a pixel. The whole line visible: no band.
    QTest::newRow("band scaled with the span") << 1 << 1000 << 200 << 799 << 999 << 1 << -1 << -1 << QRect(160, 0, 40, 64) << 0x808080u;
    QTest::newRow("band 3x truncated") << 1 << 2000 << 800 << 10 << 810 << 3 << -1 << -1 << QRect(1, 0, 106, 64) << 0x808080u;
    QTest::newRow("marker, whole line visible") << 1 << 500 << 800 << 0 << 499 << 1 << 250 << -1 << QRect(400, 0, 1, 64) << 0xFFFF00u;
}

void TestLineProfile::paintedMarks()
{
    QFETCH(int, overview); QFETCH(int, samples); QFETCH(int, width); QFETCH(int, offset); QFETCH(int, last); QFETCH(int, zoom);
    QFETCH(int, vertical); QFETCH(int, horizontal); QFETCH(QRect, marked); QFETCH(uint, colour);

    Qt4LineProfileCanvas canvas;
    canvas.resize(width, overview ? 64 : 256);
    canvas.show(); // shown, a grab sends no resize: the picture must fit itself when it arrives
    QPixmap picture(samples, 256);
    picture.fill(Qt::black);
    canvas.setPixmap(&picture, overview);
    canvas.setXOffset(offset, offset, last);
    canvas.setAdditionalInfo(zoom, vertical, horizontal);
    QImage want(canvas.size(), QImage::Format_RGB32);
    want.fill(Qt::black);
    QPainter(&want).fillRect(marked, QColor(colour));
    QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), want);
}

void TestLineProfile::pictureAndPointer_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("offset");
    // A 4096-sample line in a 200-pixel view: the start; the middle, with the first sample
    // cut and only the first column of the last one shown; the end of the scroll range; and
    // past it, where the line ends inside the view.
    for (int zoom : {1, 4, 16, 64}) {
        const int end = 4096 * zoom - 200;
        for (int offset : {0, 2048 * zoom - 200 + 1, end, end + 3 + zoom / 2})
            QTest::addRow("zoom %d offset %d", zoom, offset) << zoom << offset;
    }
}

// The detail view shows the line stretched by the zoom from the offset on, as nearest
// neighbour. Every paint reports the sample under the pointer, also once emptied and erased
// to the background; leaving reports none, and so does every later paint.
void TestLineProfile::pictureAndPointer()
{
    QFETCH(int, zoom); QFETCH(int, offset);
    constexpr int samples = 4096, width = 200;
    QImage words(samples, 256, QImage::Format_RGB32); // each sample and row a colour of its own
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < samples; ++x)
            words.setPixel(x, y, qRgb(x & 0xFF, x >> 8, y));
    QPixmap picture = QPixmap::fromImage(words);
    QPixmap previous = QPixmap::fromImage(words.mirrored(true, false));

    QWidget window; // a child, as in the dialog, is grabbed onto a surface with alpha
    Qt4LineProfileCanvas canvas(&window);
    canvas.resize(width, 256);
    window.resize(canvas.size());
    window.show();
    canvas.setAdditionalInfo(zoom, -1, -1);
    QImage background(canvas.size(), QImage::Format_RGB32);
    background.fill(canvas.palette().color(canvas.backgroundRole()));
    // Before the scroll: the previous picture, then the new one, at the start of the line.
    canvas.setPixmap(&previous, false);
    canvas.grab();
    const qint64 store = storeOf(LineProfileCanvasInspector::d(canvas).zoomedPart);
    canvas.setPixmap(&picture, false);
    canvas.grab();
    QCOMPARE(storeOf(LineProfileCanvasInspector::d(canvas).zoomedPart), store); // stretched in place
    canvas.setXOffset(offset, offset, qMin(offset + width, samples * zoom - 1));
    QImage want = background;
    for (int x = 0; x < width && x + offset < samples * zoom; ++x)
        for (int y = 0; y < 256; ++y)
            want.setPixel(x, y, words.pixel((x + offset) / zoom, y));
    QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), want);
    const QImage& kept = LineProfileCanvasInspector::d(canvas).zoomedPart;
    QVERIFY(kept.width() <= width && kept.height() <= 256);

    QSignalSpy reported(&canvas, SIGNAL(mousePositionChanged(int)));
    movePointer(&canvas, 7);
    canvas.grab();
    canvas.setPixmap(nullptr, false);
    QCOMPARE(canvas.grab().toImage().convertToFormat(QImage::Format_RGB32), background);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&canvas, &leave);
    canvas.grab();
    QList<int> under;
    for (const QList<QVariant>& report : reported)
        under << report.at(0).toInt();
    const int sample = (offset + 7) / zoom;
    QCOMPARE(under, QList<int>({sample, sample, sample, -1, -1}));
}

void TestLineProfile::save_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("line");    // line 1 of middleLineFrame; empty: a frame without a buffer
    QTest::addColumn<QString>("typed");  // empty: the file dialog is cancelled; old.png and old.csv exist
    QTest::addColumn<int>("button");     // the answer to the overwrite question
    QTest::addColumn<QString>("written"); // the one new file, its name also remembered; "" for none
    QTest::addColumn<QByteArray>("csv");

    // The suffix test is on the lower-case form; the name keeps its case. The CSV holds the
    // raw values of the line read (not the picture's scale), a line feed each, no header.
    const Values gray{10, 20, 4095};
    QTest::newRow("png: upper case kept") << true << true << gray << "Profile.PNG" << 0 << "Profile.PNG" << QByteArray();
    QTest::newRow("png: added") << true << false << Values{0, 1023, 300, 512, 4, 1024} << "profile" << 0 << "profile.png" << QByteArray();
    QTest::newRow("csv: added, gray 12 bits") << false << true << gray << "values" << 0 << "values.csv" << QByteArray("0,10\n1,20\n2,4095\n");
    QTest::newRow("csv: colour, above the depth kept") << false << false << Values{255, 128, 0, 1, 22, 5000, 0, 0, 0} << "Values.Csv" << 0
        << "Values.Csv" << QByteArray("0,255,128,0\n1,1,22,5000\n2,0,0,0\n");
    // Typed without the suffix: the question is about the completed name. Overwritten only on
    // "yes"; a "no" or a cancelled file dialog writes nothing and keeps the path remembered before.
    QTest::newRow("png, existing, yes") << true << true << gray << "old" << int(QMessageBox::Yes) << "old.png" << QByteArray();
    QTest::newRow("csv, existing, no") << false << true << gray << "old" << int(QMessageBox::No) << QString() << QByteArray();
    QTest::newRow("png, cancel") << true << true << gray << QString() << 0 << QString() << QByteArray();
    // Nothing to read: a warning and no file, though the name was remembered before it showed.
    QTest::newRow("csv without a buffer") << false << true << Values{} << "line" << int(QMessageBox::Ok) << "line.csv" << QByteArray("<missing>");
}

void TestLineProfile::save()
{
    QFETCH(bool, png); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(QString, typed); QFETCH(int, button);
    QFETCH(QString, written); QFETCH(QByteArray, csv);

    VelmarApplication::clearConfig();
    QTemporaryDir files;
    const auto contents = [&](const QString& name) {
        QFile file(files.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    };
    Rig<ProfileTool> shown;
    const Frame frame = line.empty() ? boost::make_shared<DisplaySceneFrame>(8, 8) : middleLineFrame(gray ? 12 : 10, gray, line);
    QVERIFY(files.isValid() && shown.showWith(frame, line.empty() ? 0 : 1));
    for (const QString name : {"old.png", "old.csv"}) {
        QFile file(files.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old content") > 0);
    }
    const QString before = files.filePath(QStringLiteral("before.csv"));
    VelmarApplication::setConfigEntry(pathKey, before.toStdString());

    // The tool asks about an existing file itself, once the suffix is settled; the file dialog
    // starts at the full name remembered last, not at its folder.
    QStringList transcript{QStringLiteral("file dialog \"Save Current Line Profile\" %1 save no-overwrite-check")
                               .arg(png ? "PNG (*.png)" : "CSV (*.csv)")};
    if (typed == QLatin1String("old"))
        transcript << QStringLiteral("question \"File Exists\" \"File already exists... Overwrite?\" [No Yes] default none");
    else if (line.empty())
        transcript << QStringLiteral("warning \"Warning\" \"Internal error accessing profile data.\" [OK] default OK");
    DialogAnswerer answerer;
    answerer.fileNames << (typed.isEmpty() ? typed : files.filePath(typed));
    answerer.buttons << QMessageBox::StandardButton(button);
    // Without a buffer the controls stay disabled; enabled here, the click reaches the tool.
    shown.dialog->lineProfileControlsGroupBox->setEnabled(true);
    (png ? shown.dialog->savePngPushButton : shown.dialog->saveCsvPushButton)->click();
    QCOMPARE(answerer.transcript + answerer.openedAt, transcript << before);

    QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry(pathKey, "")), written.isEmpty() ? before : files.filePath(written));
    if (written.isEmpty())
        QCOMPARE(contents(png ? "old.png" : "old.csv"), QByteArray("old content"));
    else if (png)
        QCOMPARE(QImage(files.filePath(written), "PNG").convertToFormat(QImage::Format_RGB32), shown.picture());
    else
        QCOMPARE(contents(written), csv);
}

QTEST_MAIN(TestLineProfile)
#include "tst_line_profile.moc"
