// The line profile exports: file contents, suffixes, the overwrite question, cancelling, the
// remembered path and an export that fails. Every modal dialog is answered by the test.

#include "ProfileTestSupport.h"
#include "DisplayTestSupport.h"

#include "vexo-core/VelmarApplication.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vexo::core::VelmarApplication;
using namespace profiletest;

namespace {

const std::string pathKey = "gui.mainwindow.file.last_storage_path";

QString rememberedPath()
{
    return QString::fromStdString(VelmarApplication::getConfigStringEntry(pathKey, ""));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Clicks the export button, the file dialog answered with `path` ("" cancels) and a
// message box, if one shows, with `button`.
QStringList save(Shown& shown, bool png, const QString& path, QMessageBox::StandardButton button = QMessageBox::NoButton)
{
    DialogAnswerer answerer;
    answerer.fileNames << path;
    answerer.buttons << button;
    (png ? shown.dialog->savePngPushButton : shown.dialog->saveCsvPushButton)->click();
    return answerer.transcript + answerer.openedAt;
}

} // namespace

class TestLineProfileExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void save_data();
    void save();
    void fileContents_data();
    void fileContents();

private:
    QTemporaryDir configDir;
    std::unique_ptr<QTemporaryDir> files;
};

void TestLineProfileExport::initTestCase()
{
    dropOffscreenSizeHintWarnings();
    QVERIFY(configDir.isValid());
    // Before the first configuration access: the store takes the name once.
    qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configDir.filePath(QStringLiteral("vexo.ini"))));
}

void TestLineProfileExport::init()
{
    VelmarApplication::clearConfig();
    files.reset(new QTemporaryDir);
    QVERIFY(files->isValid());
}

void TestLineProfileExport::save_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("existing"); // old.png or old.csv is there already
    QTest::addColumn<QString>("typed");  // empty: the file dialog is cancelled
    QTest::addColumn<int>("button");     // the answer to the overwrite question
    QTest::addColumn<QString>("written"); // the one file afterwards, its name also remembered; "" for none new

    QTest::newRow("png: upper case kept") << true << false << "Profile.PNG" << 0 << "Profile.PNG";
    QTest::newRow("png: added") << true << false << "profile" << 0 << "profile.png";
    QTest::newRow("png: after another") << true << false << "profile.csv" << 0 << "profile.csv.png";
    QTest::newRow("csv: mixed case kept") << false << false << "Values.Csv" << 0 << "Values.Csv";
    QTest::newRow("csv: added") << false << false << "values" << 0 << "values.csv";
    QTest::newRow("csv: after another") << false << false << "values.png" << 0 << "values.png.csv";
    // Typed without the suffix: the question is about the completed name. Overwritten only
    // on "yes"; a "no" or a cancelled file dialog writes nothing and keeps the path
    // remembered before.
    for (bool png : {true, false}) {
        const char* type = png ? "png" : "csv";
        const QString old = png ? QStringLiteral("old.png") : QStringLiteral("old.csv");
        QTest::addRow("%s, existing, yes", type) << png << true << "old" << int(QMessageBox::Yes) << old;
        QTest::addRow("%s, existing, no", type) << png << true << "old" << int(QMessageBox::No) << QString();
        QTest::addRow("%s, cancel", type) << png << true << QString() << 0 << QString();
    }
}

void TestLineProfileExport::save()
{
    QFETCH(bool, png); QFETCH(bool, existing); QFETCH(QString, typed); QFETCH(int, button); QFETCH(QString, written);

    Shown shown;
    QVERIFY(shown.showWith(frameOf(2, 1, 8, true, [](int x, int, int) { return std::uint64_t(x + 5); })));
    const QString old = files->filePath(png ? QStringLiteral("old.png") : QStringLiteral("old.csv"));
    if (existing) {
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old content") > 0);
    }
    const QString before = files->filePath(QStringLiteral("before.csv"));
    VelmarApplication::setConfigEntry(pathKey, before.toStdString());

    // The tool asks about an existing file itself, once the suffix is settled; the file
    // dialog starts at the full name remembered last, not at its folder.
    QStringList transcript{png ? QStringLiteral("file dialog \"Save Current Line Profile\" PNG (*.png) save no-overwrite-check")
                               : QStringLiteral("file dialog \"Save Current Line Profile\" CSV (*.csv) save no-overwrite-check")};
    if (existing && !typed.isEmpty())
        transcript << QStringLiteral("question \"File Exists\" \"File already exists... Overwrite?\" [No Yes] default none");
    QCOMPARE(::save(shown, png, typed.isEmpty() ? typed : files->filePath(typed), QMessageBox::StandardButton(button)),
             transcript << before);

    const QString name = written.isEmpty() ? QFileInfo(old).fileName() : written;
    QCOMPARE(QDir(files->path()).entryList(QDir::Files), QStringList{name});
    QCOMPARE(rememberedPath(), written.isEmpty() ? before : files->filePath(written));
    if (written.isEmpty())
        QCOMPARE(contents(old), QByteArray("old content"));
    else if (png)
        QCOMPARE(QImage(files->filePath(written), "PNG").convertToFormat(QImage::Format_RGB32), shown.picture());
    else
        QCOMPARE(contents(files->filePath(written)), QByteArray("0,5\n1,6\n"));
}

void TestLineProfileExport::fileContents_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("bpp");
    QTest::addColumn<Values>("line"); // "": a frame without a buffer
    QTest::addColumn<QByteArray>("csv");

    // The PNG is the picture as the worker drew it. The CSV holds the raw values of the
    // requested line (not the picture's scale), a single line feed each, no header.
    QTest::newRow("png, colour 10 bits") << true << false << 10 << Values{0, 1023, 300, 512, 4, 1024, 1023, 1023, 0, 20, 40, 600} << QByteArray();
    QTest::newRow("png, gray 12 bits") << true << true << 12 << Values{10, 20, 4095, 2048, 4096} << QByteArray();
    QTest::newRow("csv, gray 12 bits") << false << true << 12 << Values{10, 20, 4095} << QByteArray("0,10\n1,20\n2,4095\n");
    QTest::newRow("csv, colour, above the depth kept") << false << false << 8 << Values{255, 128, 0, 1, 22, 333, 0, 0, 0} << QByteArray("0,255,128,0\n1,1,22,333\n2,0,0,0\n");
    // Nothing to read: a warning, no file, though the name was remembered before it showed.
    QTest::newRow("csv without a buffer") << false << true << 8 << Values{} << QByteArray("<missing>");
}

void TestLineProfileExport::fileContents()
{
    QFETCH(bool, png); QFETCH(bool, gray); QFETCH(int, bpp); QFETCH(Values, line); QFETCH(QByteArray, csv);

    const Frame frame = line.empty() ? frameWithoutBuffer() : middleLineFrame(bpp, gray, line);
    Shown shown;
    QVERIFY(shown.showWith(frame, line.empty() ? 0 : 1));
    // Zoom and markers change the view only, never the file.
    shown.dialog->zoomSpinBox->setValue(3);
    shown.dialog->verticalMarkerSpinBox->setValue(1);

    const QString path = files->filePath(png ? QStringLiteral("line.png") : QStringLiteral("line.csv"));
    DialogAnswerer answerer;
    answerer.fileNames << path;
    answerer.buttons << QMessageBox::Ok;
    // Without a buffer the controls stay disabled, so the slot is called directly.
    QVERIFY(QMetaObject::invokeMethod(shown.dialog.get(), png ? "savePngButtonClicked" : "saveCsvButtonClicked"));
    QCOMPARE(answerer.transcript.size(), line.empty() ? 2 : 1);
    if (line.empty())
        QCOMPARE(answerer.transcript.last(), QStringLiteral("warning \"Warning\" \"Internal error accessing profile data.\" [OK] default OK"));
    QCOMPARE(rememberedPath(), path);
    if (png)
        QCOMPARE(QImage(path, "PNG").convertToFormat(QImage::Format_RGB32), runOn(frame, 1));
    else
        QCOMPARE(contents(path), csv);
}

QTEST_MAIN(TestLineProfileExport)
#include "tst_line_profile_export.moc"
