// The line profile exports: file contents, suffixes, the overwrite question, cancelling, the
// remembered path and an export that fails. Every modal dialog is answered by the test.

#include "DisplayTestSupport.h"
#include "LineToolTestSupport.h"

#include "vexo-core/VelmarApplication.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vexo::core::VelmarApplication;
using namespace linetooltest;

namespace {

const std::string pathKey = "gui.mainwindow.file.last_storage_path";

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestLineProfileExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void save_data();
    void save();

private:
    QTemporaryDir configDir;
};

void TestLineProfileExport::initTestCase()
{
    dropOffscreenSizeHintWarnings();
    QVERIFY(configDir.isValid());
    // Before the first configuration access: the store takes the name once.
    qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configDir.filePath(QStringLiteral("vexo.ini"))));
}

void TestLineProfileExport::save_data()
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
    QTest::newRow("png: after another") << true << true << gray << "profile.csv" << 0 << "profile.csv.png" << QByteArray();
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

void TestLineProfileExport::save()
{
    QFETCH(bool, png); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(QString, typed); QFETCH(int, button);
    QFETCH(QString, written); QFETCH(QByteArray, csv);

    VelmarApplication::clearConfig();
    QTemporaryDir files;
    Rig<ProfileTool> shown;
    QVERIFY(files.isValid() && shown.showWith(line.empty() ? frameWithoutBuffer() : middleLineFrame(gray ? 12 : 10, gray, line), line.empty() ? 0 : 1));
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
    // Without a buffer the controls stay disabled, so the slot is called directly.
    if (line.empty())
        QVERIFY(QMetaObject::invokeMethod(shown.dialog.get(), "saveCsvButtonClicked"));
    else
        (png ? shown.dialog->savePngPushButton : shown.dialog->saveCsvPushButton)->click();
    QCOMPARE(answerer.transcript + answerer.openedAt, transcript << before);

    QStringList all{"old.csv", "old.png"};
    if (!written.isEmpty() && !line.empty() && !all.contains(written))
        all << written;
    all.sort(Qt::CaseInsensitive);
    QCOMPARE(QDir(files.path()).entryList(QDir::Files), all);
    QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry(pathKey, "")), written.isEmpty() ? before : files.filePath(written));
    if (written.isEmpty())
        QCOMPARE(contents(files.filePath(png ? "old.png" : "old.csv")), QByteArray("old content"));
    else if (png)
        QCOMPARE(QImage(files.filePath(written), "PNG").convertToFormat(QImage::Format_RGB32), shown.picture());
    else
        QCOMPARE(contents(files.filePath(written)), csv);
}

QTEST_MAIN(TestLineProfileExport)
#include "tst_line_profile_export.moc"
