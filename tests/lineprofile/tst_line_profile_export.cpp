// The line profile exports: file contents, suffixes, the overwrite question and the
// remembered path. Every modal dialog is answered by the test.

#include "LineProfileInspector.h"
#include "ProfileReference.h"
#include "QuietOffscreen.h"

#include "vexo-core/VelmarApplication.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
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
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

boost::shared_ptr<DisplaySceneFrame> colorFrame()
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(50, 3, 10, false));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 50; ++x)
            buffer->setPixelValueColor(x, y, x * 20, 1023 - x * 20, y * 300);
    return frameOf(buffer);
}

// What a file dialog showed when it opened.
struct FileDialogSeen
{
    QString title;
    QString startFile;
    QStringList filters;
    bool confirmsOverwrite = true;
};

// What a message box showed.
struct MessageSeen
{
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers the modal dialogs that the code under test opens, in order. It polls from the
// modal's own event loop, so the code under test never blocks on a user.
class ModalAnswerer
{
public:
    using Answer = std::function<void(QWidget*)>;

    ModalAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(5);
    }

    void saveAs(const QString& path, FileDialogSeen* seen)
    {
        answers.push_back([=](QWidget* modal) {
            QFileDialog* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) {
                ++wrongKind;
                modal->close();
                return;
            }
            seen->title = dialog->windowTitle();
            seen->startFile = dialog->selectedFiles().value(0);
            seen->filters = dialog->nameFilters();
            seen->confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own is protected
        });
    }

    void cancelFileDialog()
    {
        answers.push_back([this](QWidget* modal) {
            if (QFileDialog* dialog = qobject_cast<QFileDialog*>(modal))
                dialog->reject();
            else
            {
                ++wrongKind;
                modal->close();
            }
        });
    }

    void press(QMessageBox::StandardButton button, MessageSeen* seen)
    {
        answers.push_back([=](QWidget* modal) {
            QMessageBox* box = qobject_cast<QMessageBox*>(modal);
            if (!box || !box->button(button)) {
                ++wrongKind;
                modal->close();
                return;
            }
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->buttons = box->standardButtons();
            box->button(button)->click();
        });
    }

    bool allAnswered() const { return answers.empty() && unexpected == 0 && wrongKind == 0; }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (answers.empty()) {
            // Not expected: close it so that the test fails instead of hanging.
            ++unexpected;
            modal->close();
            return;
        }
        Answer answer = answers.front();
        answers.pop_front();
        answer(modal);
    }

    QTimer timer;
    std::deque<Answer> answers;
    int unexpected = 0;
    int wrongKind = 0;
};

} // namespace

class TestLineProfileExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void suffixes_data();
    void suffixes();
    void pngIsThePictureAsDrawn();
    void csvBytes_data();
    void csvBytes();
    void overwriteQuestion_data();
    void overwriteQuestion();
    void nextDialogStartsAtSavedFile();
    void cancelWritesNothing();
    void csvWithoutBufferWarns();

private:
    // A shown dialog with the result for `frame` on screen, at line y; null if none came.
    std::unique_ptr<Qt4LineProfileDialog> showProfile(const boost::shared_ptr<DisplaySceneFrame>& frame,
                                                      int y = 0);

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

std::unique_ptr<Qt4LineProfileDialog>
TestLineProfileExport::showProfile(const boost::shared_ptr<DisplaySceneFrame>& frame, int y)
{
    std::unique_ptr<Qt4LineProfileDialog> dialog(new Qt4LineProfileDialog(nullptr));
    int results = 0;
    QMetaObject::Connection counting = QObject::connect(
        LineProfileInspector::worker(dialog.get()), &QThread::finished, dialog.get(),
        [&results] { ++results; });
    dialog->show();
    dialog->setSceneFrame(frame);
    bool ready = QTest::qWaitFor([&] { return results > 0; });
    if (ready && y != 0) {
        const int before = results;
        dialog->yPositionSpinBox->setValue(y);
        ready = QTest::qWaitFor([&] { return results > before; });
    }
    if (!ready)
        dialog.reset();
    QObject::disconnect(counting);
    return dialog;
}

void TestLineProfileExport::suffixes_data()
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

void TestLineProfileExport::suffixes()
{
    QFETCH(bool, png);
    QFETCH(QString, typed);
    QFETCH(QString, written);

    std::unique_ptr<Qt4LineProfileDialog> dialog = showProfile(colorFrame(), 2);
    QVERIFY(dialog);
    ModalAnswerer answerer;
    FileDialogSeen seen;
    answerer.saveAs(files->filePath(typed), &seen);
    (png ? dialog->savePngPushButton : dialog->saveCsvPushButton)->click();
    QVERIFY(answerer.allAnswered());

    QCOMPARE(seen.title, QStringLiteral("Save Current Line Profile"));
    QCOMPARE(seen.filters, QStringList{png ? QStringLiteral("PNG (*.png)") : QStringLiteral("CSV (*.csv)")});
    QVERIFY(!seen.confirmsOverwrite);
    QCOMPARE(QDir(files->path()).entryList(QDir::Files), QStringList{written});
    QCOMPARE(rememberedPath(), files->filePath(written));
}

void TestLineProfileExport::pngIsThePictureAsDrawn()
{
    boost::shared_ptr<DisplaySceneFrame> frame = colorFrame();
    std::unique_ptr<Qt4LineProfileDialog> dialog = showProfile(frame, 2);
    QVERIFY(dialog);
    // Zoom and markers change the view only, never the file.
    dialog->zoomSpinBox->setValue(3);
    dialog->verticalMarkerSpinBox->setValue(4);

    ModalAnswerer answerer;
    FileDialogSeen seen;
    const QString path = files->filePath(QStringLiteral("picture.png"));
    answerer.saveAs(path, &seen);
    dialog->savePngPushButton->click();
    QVERIFY(answerer.allAnswered());
    const QImage saved = QImage(path, "PNG").convertToFormat(QImage::Format_RGB32);
    const QString difference = firstDifference(saved, expectedPicture(*frame->frameBuffer(), 2));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineProfileExport::csvBytes_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<QByteArray>("expected");

    // Raw values of line 1 (not the picture's scale), a single line feed each, no header.
    QTest::newRow("gray, 12 bits") << true << QByteArray("0,10\n1,20\n2,4095\n");
    QTest::newRow("colour, above the depth kept") << false << QByteArray("0,255,128,0\n1,1,22,333\n2,0,0,0\n");
}

void TestLineProfileExport::csvBytes()
{
    QFETCH(bool, gray);
    QFETCH(QByteArray, expected);

    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(3, 3, gray ? 12 : 8, gray));
    for (int y = 0; y < 3; y += 2) { // other lines hold other values
        for (int x = 0; x < 3; ++x) {
            if (gray)
                buffer->setPixelValueGray(x, y, 7);
            else
                buffer->setPixelValueColor(x, y, 7, 7, 7);
        }
    }
    if (gray) {
        buffer->setPixelValueGray(0, 1, 10);
        buffer->setPixelValueGray(1, 1, 20);
        buffer->setPixelValueGray(2, 1, 4095);
    } else {
        buffer->setPixelValueColor(0, 1, 255, 128, 0);
        buffer->setPixelValueColor(1, 1, 1, 22, 333);
    }
    std::unique_ptr<Qt4LineProfileDialog> dialog = showProfile(frameOf(buffer), 1);
    QVERIFY(dialog);

    ModalAnswerer answerer;
    FileDialogSeen seen;
    const QString path = files->filePath(QStringLiteral("line.csv"));
    answerer.saveAs(path, &seen);
    dialog->saveCsvPushButton->click();
    QVERIFY(answerer.allAnswered());
    QCOMPARE(contents(path), expected);
}

void TestLineProfileExport::overwriteQuestion_data()
{
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("yes");

    QTest::newRow("png, yes") << true << true;
    QTest::newRow("png, no") << true << false;
    QTest::newRow("csv, yes") << false << true;
    QTest::newRow("csv, no") << false << false;
}

void TestLineProfileExport::overwriteQuestion()
{
    QFETCH(bool, png);
    QFETCH(bool, yes);

    std::unique_ptr<Qt4LineProfileDialog> dialog =
        showProfile(frameOf(grayBuffer(2, 1, 8, [](int x, int) { return std::uint64_t(x + 5); })));
    QVERIFY(dialog);
    const QString path = files->filePath(png ? QStringLiteral("old.png") : QStringLiteral("old.csv"));
    writeFile(path, "old content");
    VelmarApplication::setConfigEntry(pathKey, "/somewhere/else.png");

    ModalAnswerer answerer;
    FileDialogSeen seen;
    MessageSeen question;
    // Typed without the suffix: the question is about the completed name.
    answerer.saveAs(files->filePath(QStringLiteral("old")), &seen);
    answerer.press(yes ? QMessageBox::Yes : QMessageBox::No, &question);
    (png ? dialog->savePngPushButton : dialog->saveCsvPushButton)->click();
    QVERIFY(answerer.allAnswered());

    QCOMPARE(question.title, QStringLiteral("File Exists"));
    QCOMPARE(question.text, QStringLiteral("File already exists... Overwrite?"));
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    if (yes) {
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

void TestLineProfileExport::nextDialogStartsAtSavedFile()
{
    std::unique_ptr<Qt4LineProfileDialog> dialog =
        showProfile(frameOf(grayBuffer(4, 1, 8, [](int x, int) { return std::uint64_t(x); })));
    QVERIFY(dialog);
    const QString saved = files->filePath(QStringLiteral("first.png"));
    const QString before = files->filePath(QStringLiteral("before.csv"));
    VelmarApplication::setConfigEntry(pathKey, before.toStdString());

    ModalAnswerer answerer;
    FileDialogSeen png;
    FileDialogSeen csv;
    answerer.saveAs(saved, &png);
    answerer.saveAs(files->filePath(QStringLiteral("second.csv")), &csv);
    dialog->savePngPushButton->click();
    dialog->saveCsvPushButton->click();
    QVERIFY(answerer.allAnswered());

    // Each dialog starts at the full name remembered last, not at its folder.
    QCOMPARE(png.startFile, before);
    QCOMPARE(csv.startFile, saved);
    QCOMPARE(rememberedPath(), files->filePath(QStringLiteral("second.csv")));
}

void TestLineProfileExport::cancelWritesNothing()
{
    std::unique_ptr<Qt4LineProfileDialog> dialog =
        showProfile(frameOf(grayBuffer(4, 1, 8, [](int x, int) { return std::uint64_t(x); })));
    QVERIFY(dialog);
    VelmarApplication::setConfigEntry(pathKey, "kept");

    ModalAnswerer answerer;
    answerer.cancelFileDialog();
    answerer.cancelFileDialog();
    dialog->savePngPushButton->click();
    dialog->saveCsvPushButton->click();
    QVERIFY(answerer.allAnswered());
    QVERIFY(QDir(files->path()).entryList(QDir::Files).isEmpty());
    QCOMPARE(rememberedPath(), QStringLiteral("kept"));
}

void TestLineProfileExport::csvWithoutBufferWarns()
{
    // A frame without a frame buffer: the export has nothing to read.
    std::unique_ptr<Qt4LineProfileDialog> dialog =
        showProfile(frameOf(boost::shared_ptr<FrameBuffer>()));
    QVERIFY(dialog);
    const QString path = files->filePath(QStringLiteral("none.csv"));

    ModalAnswerer answerer;
    FileDialogSeen seen;
    MessageSeen warning;
    answerer.saveAs(path, &seen);
    answerer.press(QMessageBox::Ok, &warning);
    QVERIFY(QMetaObject::invokeMethod(dialog.get(), "saveCsvButtonClicked"));
    QVERIFY(answerer.allAnswered());

    QCOMPARE(warning.title, QStringLiteral("Warning"));
    QCOMPARE(warning.text, QStringLiteral("Internal error accessing profile data."));
    QVERIFY(!QFile::exists(path));
    // The name was remembered before the failure showed.
    QCOMPARE(rememberedPath(), path);
}

QTEST_MAIN(TestLineProfileExport)
#include "tst_line_profile_export.moc"
