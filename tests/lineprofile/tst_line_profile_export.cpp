// The line profile exports: file contents, suffixes, the overwrite question, cancelling, the
// remembered path and an export that fails. Every modal dialog is answered by the test.

#include "ProfileTestSupport.h"
#include "QuietOffscreen.h"

#include "vexo-core/VelmarApplication.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
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

QPushButton* saveButton(Shown& shown, bool png)
{
    return png ? shown.dialog->savePngPushButton : shown.dialog->saveCsvPushButton;
}

// Answers the file dialog with `path` (cancels it when empty), then presses `button` on the
// one message box expected after it, if any. It polls from the modals' own event loops; a
// modal not expected is closed and counted, so the test fails instead of hanging.
struct ModalAnswerer
{
    QString path;
    QMessageBox::StandardButton button = QMessageBox::NoButton;
    int fileDialogs = 0;
    int messageBoxes = 0;
    int unexpected = 0;
    // What the file dialog showed when it opened.
    QString startFile;
    QStringList filters;
    bool confirmsOverwrite = true;
    QTimer timer;

    explicit ModalAnswerer(const QString& path, QMessageBox::StandardButton button = QMessageBox::NoButton)
        : path(path)
        , button(button)
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(5);
    }
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        QFileDialog* dialog = qobject_cast<QFileDialog*>(modal);
        QMessageBox* box = qobject_cast<QMessageBox*>(modal);
        if (dialog && fileDialogs++ == 0) {
            startFile = dialog->selectedFiles().value(0);
            filters = dialog->nameFilters();
            confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(path);
            if (path.isEmpty())
                dialog->reject();
            else
                static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own is protected
        } else if (box && messageBoxes++ == 0 && box->button(button)) {
            box->button(button)->click();
        } else {
            ++unexpected;
            modal->close();
        }
    }
    bool allAnswered() const
    {
        return fileDialogs == 1 && messageBoxes == (button == QMessageBox::NoButton ? 0 : 1)
               && unexpected == 0;
    }
};

} // namespace

class TestLineProfileExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void suffixesAndRememberedPath_data();
    void suffixesAndRememberedPath();
    void fileContents_data();
    void fileContents();
    void existingFile_data();
    void existingFile();
    void csvWithoutBufferWarns();

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

void TestLineProfileExport::suffixesAndRememberedPath_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");

    QTest::newRow("png: upper case kept") << true << "Profile.PNG" << "Profile.PNG";
    QTest::newRow("png: added") << true << "profile" << "profile.png";
    QTest::newRow("png: after another") << true << "profile.csv" << "profile.csv.png";
    QTest::newRow("csv: mixed case kept") << false << "Values.Csv" << "Values.Csv";
    QTest::newRow("csv: added") << false << "values" << "values.csv";
    QTest::newRow("csv: after another") << false << "values.png" << "values.png.csv";
}

void TestLineProfileExport::suffixesAndRememberedPath()
{
    QFETCH(bool, png);
    QFETCH(QString, typed);
    QFETCH(QString, written);

    Shown shown;
    QVERIFY(shown.showWith(frameOf(rampBuffer(4, 1, 8, true, [](int x, int) { return std::uint64_t(x); }))));
    const QString before = files->filePath(QStringLiteral("before.csv"));
    VelmarApplication::setConfigEntry(pathKey, before.toStdString());

    ModalAnswerer answerer(files->filePath(typed));
    saveButton(shown, png)->click();
    QVERIFY(answerer.allAnswered());

    QCOMPARE(answerer.filters, QStringList{png ? QStringLiteral("PNG (*.png)") : QStringLiteral("CSV (*.csv)")});
    // The tool asks about an existing file itself, once the suffix is settled.
    QVERIFY(!answerer.confirmsOverwrite);
    // The dialog starts at the full name remembered last, not at its folder.
    QCOMPARE(answerer.startFile, before);
    QCOMPARE(QDir(files->path()).entryList(QDir::Files), QStringList{written});
    QCOMPARE(rememberedPath(), files->filePath(written));
}

void TestLineProfileExport::fileContents_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("bpp");
    QTest::addColumn<Values>("line");
    QTest::addColumn<QByteArray>("csv");

    // The PNG is the picture as the worker drew it. The CSV holds the raw values of the
    // requested line (not the picture's scale), a single line feed each, no header.
    QTest::newRow("png, colour 10 bits") << true << false << 10
        << Values{0, 1023, 300, 512, 4, 1024, 1023, 1023, 0, 20, 40, 600} << QByteArray();
    QTest::newRow("png, gray 12 bits") << true << true << 12 << Values{10, 20, 4095, 2048, 4096}
        << QByteArray();
    QTest::newRow("csv, gray 12 bits") << false << true << 12 << Values{10, 20, 4095}
        << QByteArray("0,10\n1,20\n2,4095\n");
    QTest::newRow("csv, colour, above the depth kept") << false << false << 8
        << Values{255, 128, 0, 1, 22, 333, 0, 0, 0} << QByteArray("0,255,128,0\n1,1,22,333\n2,0,0,0\n");
}

void TestLineProfileExport::fileContents()
{
    QFETCH(bool, png);
    QFETCH(bool, gray);
    QFETCH(int, bpp);
    QFETCH(Values, line);
    QFETCH(QByteArray, csv);

    const boost::shared_ptr<FrameBuffer> buffer = middleLineBuffer(bpp, gray, line);
    Shown shown;
    QVERIFY(shown.showWith(frameOf(buffer), 1));
    // Zoom and markers change the view only, never the file.
    shown.dialog->zoomSpinBox->setValue(3);
    shown.dialog->verticalMarkerSpinBox->setValue(1);

    const QString path = files->filePath(png ? QStringLiteral("line.png") : QStringLiteral("line.csv"));
    ModalAnswerer answerer(path);
    saveButton(shown, png)->click();
    QVERIFY(answerer.allAnswered());
    if (png)
        VERIFY_NO_DIFFERENCE(firstDifference(QImage(path, "PNG").convertToFormat(QImage::Format_RGB32),
                                             expectedPicture(*buffer, 1)));
    else
        QCOMPARE(contents(path), csv);
}

void TestLineProfileExport::existingFile_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<QString>("typed"); // empty: the file dialog is cancelled
    QTest::addColumn<int>("button");    // the answer to the overwrite question
    // Typed without the suffix: the question is about the completed name.
    for (bool png : {true, false}) {
        const char* type = png ? "png" : "csv";
        QTest::addRow("%s, yes", type) << png << "old" << int(QMessageBox::Yes);
        QTest::addRow("%s, no", type) << png << "old" << int(QMessageBox::No);
        QTest::addRow("%s, cancel", type) << png << QString() << int(QMessageBox::NoButton);
    }
}

// Overwritten only on "yes"; a "no" or a cancelled file dialog writes nothing and keeps the
// path remembered before.
void TestLineProfileExport::existingFile()
{
    QFETCH(bool, png);
    QFETCH(QString, typed);
    QFETCH(int, button);

    Shown shown;
    QVERIFY(shown.showWith(frameOf(rampBuffer(2, 1, 8, true, [](int x, int) { return std::uint64_t(x + 5); }))));
    const QString path = files->filePath(png ? QStringLiteral("old.png") : QStringLiteral("old.csv"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old content");
    }
    VelmarApplication::setConfigEntry(pathKey, "/somewhere/else.png");

    ModalAnswerer answerer(typed.isEmpty() ? typed : files->filePath(typed),
                           QMessageBox::StandardButton(button));
    saveButton(shown, png)->click();
    QVERIFY(answerer.allAnswered());

    QCOMPARE(QDir(files->path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
    if (button == QMessageBox::Yes) {
        QCOMPARE(rememberedPath(), path);
        if (png)
            QVERIFY(!QImage(path, "PNG").isNull());
        else
            QCOMPARE(contents(path), QByteArray("0,5\n1,6\n"));
    } else {
        QCOMPARE(rememberedPath(), QStringLiteral("/somewhere/else.png"));
        QCOMPARE(contents(path), QByteArray("old content"));
    }
}

void TestLineProfileExport::csvWithoutBufferWarns()
{
    // A frame without a frame buffer: the export has nothing to read.
    Shown shown;
    QVERIFY(shown.showWith(frameOf(boost::shared_ptr<FrameBuffer>())));
    const QString path = files->filePath(QStringLiteral("none.csv"));

    ModalAnswerer answerer(path, QMessageBox::Ok);
    // The controls stay disabled without a buffer, so the slot is called directly.
    QVERIFY(QMetaObject::invokeMethod(shown.dialog.get(), "saveCsvButtonClicked"));
    QVERIFY(answerer.allAnswered());
    QVERIFY(!QFile::exists(path));
    // The name was remembered before the failure showed.
    QCOMPARE(rememberedPath(), path);
}

QTEST_MAIN(TestLineProfileExport)
#include "tst_line_profile_export.moc"
