// Saving the frame on screen and its buffer group as TIFF files: the dialogs (answered by
// the test), the file names, the remembered path, the locking and the error reports.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "VisualizerInspector.h"

#include "display/TiffFileNames.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <tiffio.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

using vexo::core::DisplayScene;
using vexo::core::FrameBuffer;
using vexo::core::FrameBufferGroup;
using vexo::core::ManualFrameSource;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::TiffFileNames;
using vexo::core::VelmarApplication;
using vexo::core::VisualizerInspector;

namespace {

const std::string storagePathKey = "gui.mainwindow.file.last_storage_path";

// Answers the modal dialogs the slot under test opens, from a timer that fires inside
// their event loops, and writes down what each one showed.
class DialogAnswerer : public QObject
{
public:
    QStringList transcript;
    QStringList openedAt;       // where each file dialog started: directory/name field
    QStringList fileNames;      // answers to file dialogs in turn; "" cancels
    QList<QMessageBox::StandardButton> buttons; // answers to message boxes in turn
    std::function<QString()> whileBoxShows;     // noted with each message box

    DialogAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start(0);
    }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool())
            return;
        modal->setProperty("answered", true);
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
            answer(dialog);
        else if (auto* box = qobject_cast<QMessageBox*>(modal))
            answer(box);
        else {
            transcript << QStringLiteral("unexpected %1").arg(modal->metaObject()->className());
            modal->close();
        }
    }

    void answer(QFileDialog* dialog)
    {
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        transcript << QStringLiteral("file dialog \"%1\" %2 %3%4")
                          .arg(dialog->windowTitle(), dialog->nameFilters().join(';'),
                               dialog->acceptMode() == QFileDialog::AcceptSave ? "save" : "open",
                               dialog->testOption(QFileDialog::DontConfirmOverwrite) ? " no-overwrite-check" : "");
        openedAt << dialog->directory().absolutePath() + '/' + (nameField ? nameField->text() : QString());
        const QString name = fileNames.isEmpty() ? QString() : fileNames.takeFirst();
        if (name.isEmpty() || !nameField) {
            dialog->reject();
            return;
        }
        nameField->setText(name); // typed in full, as a user may
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it
    }

    void answer(QMessageBox* box)
    {
        QStringList shown;
        for (QAbstractButton* button : box->buttons())
            shown << button->text().remove('&');
        shown.sort();
        QString line = QStringLiteral("%1 \"%2\" \"%3\" [%4] default %5")
                           .arg(box->icon() == QMessageBox::Question   ? "question"
                                : box->icon() == QMessageBox::Critical ? "critical"
                                                                       : "other",
                                box->windowTitle(), box->text(), shown.join(' '),
                                box->defaultButton() ? box->defaultButton()->text().remove('&') : "none");
        if (whileBoxShows)
            line += ' ' + whileBoxShows();
        transcript << line;
        const QMessageBox::StandardButton pick = buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
        if (QAbstractButton* button = box->button(pick))
            button->click();
        else
            box->reject();
    }

    QTimer timer;
};

std::vector<std::uint16_t> samplesOf(const FrameBuffer& buffer)
{
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < buffer.height(); ++y) {
        const std::uint16_t* line = buffer.line(y);
        samples.insert(samples.end(), line, line + buffer.width() * buffer.channels());
    }
    return samples;
}

// The samples of a TIFF file as written (16-bit or 8-bit, contiguous); empty when it is
// no readable TIFF of the given size.
std::vector<std::uint16_t> readTiff(const QString& path, int width, int height)
{
    std::vector<std::uint16_t> samples;
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return samples;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, perPixel = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &perPixel);
    if (int(w) == width && int(h) == height && (bits == 8 || bits == 16)) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) != 1)
                return {};
            for (std::size_t i = 0; i < std::size_t(w) * perPixel; ++i)
                samples.push_back(bits == 16 ? reinterpret_cast<const std::uint16_t*>(row.data())[i] : row[i]);
        }
    }
    TIFFClose(tif);
    return samples;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

QString storedPath()
{
    return QString::fromStdString(VelmarApplication::getConfigStringEntry(storagePathKey, "<unset>"));
}

// A window attached to an idle scene whose ring holds `frames` frames of a 12-bit gray
// pattern, each frame different; the newest is on screen.
struct Fixture
{
    static constexpr int width = 13, height = 7, frames = 3;

    QTemporaryDir folder;
    boost::shared_ptr<DisplayScene> scene = DisplayScene::create({width, height, 12, true}, frames);
    std::unique_ptr<Qt4DisplaySceneVisualizer> window{Qt4DisplaySceneVisualizer::create(nullptr, 0, 0)};
    boost::shared_ptr<FrameBufferGroup> group;
    bool ready = false;

    Fixture()
    {
        auto& source = static_cast<ManualFrameSource&>(scene->source());
        for (int k = 0; k < frames; ++k)
            source.pushFrame([k](FrameBuffer& buffer) {
                for (int y = 0; y < buffer.height(); ++y)
                    for (int x = 0; x < buffer.width(); ++x)
                        buffer.line(y)[x] = static_cast<std::uint16_t>((x * 37 + y * 511 + k * 1013) % 4096);
            });
        scene->startGrabbing(0);
        ready = QTest::qWaitFor([this] { return !scene->isGrabbing(); });
        group = scene->frameBufferGroup();
        ready = ready && group->size() == frames && folder.isValid();
        scene->attachVisualizer(window.get());
        if (ready)
            show(newest());
        VelmarApplication::setConfigEntry(storagePathKey, std::string("before"));
    }
    ~Fixture() { scene->detachVisualizer(window.get()); }

    boost::shared_ptr<FrameBuffer> oldestPlus(int i) const
    {
        return group->buffer(group->frameCounter() - group->size() + i);
    }
    boost::shared_ptr<FrameBuffer> newest() const { return oldestPlus(frames - 1); }
    void show(const boost::shared_ptr<FrameBuffer>& buffer)
    {
        VisualizerInspector::d(window.get()).currentFrameBuffer = buffer;
    }
    QString path(const QString& name) const { return folder.filePath(name); }

    // Runs the slot as the button does; a DialogAnswerer must be on duty.
    void click(bool sequence)
    {
        QVERIFY(QMetaObject::invokeMethod(window.get(), sequence ? "saveSequenceButtonClicked" : "saveFrameButtonClicked",
                                          Qt::DirectConnection));
    }
};

QString fileDialogLine(bool sequence)
{
    return QStringLiteral("file dialog \"%1\" TIFF (*.tif) save no-overwrite-check")
        .arg(sequence ? "Save Current Sequence" : "Save Current Frame");
}

// Qt makes a lone button the default whatever the caller asks for.
const QString writeErrorBox = QStringLiteral(
    "critical \"Error Writing TIFF.\" \"Could not write TIFF file (Write Error or Disk Full)\" [OK] default OK");

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileNames_data();
    void fileNames();
    void frameFileNames_data();
    void frameFileNames();
    void sequenceFileNames_data();
    void sequenceFileNames();
    void overwriteQuestion_data();
    void overwriteQuestion();
    void rememberedPath();
    void writeFailure_data();
    void writeFailure();
    void readLockUnavailable_data();
    void readLockUnavailable();
    void nothingToSave_data();
    void nothingToSave();

private:
    QTemporaryDir configFolder;
};

void TestSaving::initTestCase()
{
    QVERIFY(configFolder.isValid());
    qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configFolder.filePath("vexo.ini")));
}

void TestSaving::fileNames_data()
{
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("file");      // what a frame is written to
    QTest::addColumn<qlonglong>("index");
    QTest::addColumn<QString>("numbered");  // file `index` of a sequence

    QTest::newRow("no suffix") << "/data/img" << "/data/img.tif" << 0LL << "/data/img00000.tif";
    QTest::newRow("upper-case suffix kept") << "/data/img.TIF" << "/data/img.TIF" << 7LL << "/data/img00007.tif";
    QTest::newRow("mixed-case suffix kept") << "run.Tif" << "run.Tif" << 42LL << "run00042.tif";
    QTest::newRow(".tiff is no .tif") << "x.tiff" << "x.tiff.tif" << 1LL << "x.tiff00001.tif";
    QTest::newRow("suffix alone") << ".tif" << ".tif" << 3LL << "00003.tif";
    QTest::newRow("last five-digit number") << "run.tif" << "run.tif" << 99999LL << "run99999.tif";
    QTest::newRow("100000: six digits") << "run.tif" << "run.tif" << 100000LL << "run100000.tif";
    QTest::newRow("beyond") << "run.tif" << "run.tif" << 1234567LL << "run1234567.tif";
    QTest::newRow("markers in the name stay") << "/d/%1%2" << "/d/%1%2.tif" << 5LL << "/d/%1%200005.tif";
    QTest::newRow("non-ASCII") << "/d/Bild-ä" << "/d/Bild-ä.tif" << 12LL << "/d/Bild-ä00012.tif";
}

void TestSaving::fileNames()
{
    QFETCH(QString, picked);
    QFETCH(QString, file);
    QFETCH(qlonglong, index);
    QFETCH(QString, numbered);
    QCOMPARE(TiffFileNames::withSuffix(picked), file);
    QCOMPARE(TiffFileNames::sequenceFile(TiffFileNames::sequenceBase(file), index), numbered);
}

void TestSaving::frameFileNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("suffix appended") << "img" << "img.tif";
    QTest::newRow(".TIF kept") << "img.TIF" << "img.TIF";
    QTest::newRow(".tiff gets .tif") << "x.tiff" << "x.tiff.tif";
}

void TestSaving::frameFileNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    Fixture f;
    QVERIFY(f.ready);
    f.show(f.oldestPlus(1)); // the buffer on screen, not the newest
    DialogAnswerer answerer;
    answerer.fileNames << f.path(typed);
    f.click(false);

    QCOMPARE(answerer.transcript, QStringList{fileDialogLine(false)});
    QCOMPARE(entriesOf(f.folder.path()), QStringList{written});
    QCOMPARE(readTiff(f.path(written), Fixture::width, Fixture::height), samplesOf(*f.oldestPlus(1)));
    QCOMPARE(storedPath(), f.path(written));
}

void TestSaving::sequenceFileNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stem");
    QTest::newRow("no suffix") << "run" << "run";
    QTest::newRow(".tif") << "run.tif" << "run";
    QTest::newRow(".TIF gives lower-case numbered files") << "run.TIF" << "run";
    QTest::newRow(".tiff") << "x.tiff" << "x.tiff";
}

void TestSaving::sequenceFileNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, stem);
    Fixture f;
    QVERIFY(f.ready);
    f.show(f.oldestPlus(1)); // the whole group is saved, whatever is on screen
    DialogAnswerer answerer;
    answerer.fileNames << f.path(typed);
    f.click(true);

    QCOMPARE(answerer.transcript, QStringList{fileDialogLine(true)});
    QStringList expected;
    for (int i = 0; i < Fixture::frames; ++i)
        expected << stem + QStringLiteral("0000%1.tif").arg(i);
    QCOMPARE(entriesOf(f.folder.path()), expected);
    for (int i = 0; i < Fixture::frames; ++i) // oldest first
        QCOMPARE(readTiff(f.path(expected[i]), Fixture::width, Fixture::height), samplesOf(*f.oldestPlus(i)));
    QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed)));
}

void TestSaving::overwriteQuestion_data()
{
    QTest::addColumn<bool>("sequence");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<int>("answer"); // a QMessageBox::StandardButton
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("saved");

    QTest::newRow("frame, yes") << false << "img.tif" << int(QMessageBox::Yes) << true << true;
    QTest::newRow("frame, no") << false << "img.tif" << int(QMessageBox::No) << true << false;
    QTest::newRow("frame, box closed") << false << "img.tif" << int(QMessageBox::NoButton) << true << false;
    QTest::newRow("sequence, yes") << true << "img00000.tif" << int(QMessageBox::Yes) << true << true;
    QTest::newRow("sequence, no") << true << "img00000.tif" << int(QMessageBox::No) << true << false;
    QTest::newRow("sequence: only the first file is looked at")
        << true << "img00001.tif" << int(QMessageBox::No) << false << true;
}

void TestSaving::overwriteQuestion()
{
    QFETCH(bool, sequence);
    QFETCH(QString, existing);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, saved);
    Fixture f;
    QVERIFY(f.ready);
    writeFile(f.path(existing), "older file");
    DialogAnswerer answerer;
    answerer.fileNames << f.path("img");
    answerer.buttons << QMessageBox::StandardButton(answer);
    f.click(sequence);

    QStringList expected{fileDialogLine(sequence)};
    if (asked)
        expected << (sequence ? QStringLiteral("question \"File Sequence Exists\" \"File sequence already exists... Overwrite?\" [No Yes] default none")
                              : QStringLiteral("question \"File Exists\" \"File already exists... Overwrite?\" [No Yes] default none"));
    QCOMPARE(answerer.transcript, expected);
    if (!saved) {
        QCOMPARE(entriesOf(f.folder.path()), QStringList{existing});
        QCOMPARE(contentOf(f.path(existing)), QByteArray("older file"));
        QCOMPARE(storedPath(), QStringLiteral("before"));
        return;
    }
    QCOMPARE(storedPath(), f.path("img.tif"));
    if (!sequence) {
        QCOMPARE(readTiff(f.path("img.tif"), Fixture::width, Fixture::height), samplesOf(*f.newest()));
        return;
    }
    QCOMPARE(entriesOf(f.folder.path()), (QStringList{"img00000.tif", "img00001.tif", "img00002.tif"}));
    for (int i = 0; i < Fixture::frames; ++i)
        QCOMPARE(readTiff(f.path(QStringLiteral("img0000%1.tif").arg(i)), Fixture::width, Fixture::height),
                 samplesOf(*f.oldestPlus(i)));
}

void TestSaving::rememberedPath()
{
    Fixture f;
    QVERIFY(f.ready);
    QVERIFY(QDir(f.folder.path()).mkdir("sub"));
    {
        DialogAnswerer answerer;
        answerer.fileNames << f.path("sub/first");
        f.click(false);
        QCOMPARE(storedPath(), f.path("sub/first.tif"));
    }
    {
        // The next dialog, of either kind, opens on the name written; cancelling it
        // changes nothing.
        DialogAnswerer answerer;
        answerer.fileNames << QString();
        f.click(true);
        QCOMPARE(answerer.openedAt, QStringList{f.path("sub/first.tif")});
        QCOMPARE(answerer.transcript, QStringList{fileDialogLine(true)});
        QCOMPARE(storedPath(), f.path("sub/first.tif"));
        QCOMPARE(entriesOf(f.path("sub")), QStringList{"first.tif"});
    }
    {
        // The entry crosses to the dialog as UTF-8.
        VelmarApplication::setConfigEntry(storagePathKey, f.path("Bild-ä.tif").toStdString());
        DialogAnswerer answerer;
        f.click(false);
        QCOMPARE(answerer.openedAt, QStringList{f.path("Bild-ä.tif")});
    }
}

void TestSaving::writeFailure_data()
{
    QTest::addColumn<bool>("sequence");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("left"); // the folder's entries afterwards
    // A folder where the second file of the series should go makes its write fail.
    QTest::newRow("second file of a sequence") << true << "run" << QStringList{"run00000.tif", "run00001.tif"};
    QTest::newRow("frame") << false << "missing-folder/img" << QStringList{"run00001.tif"};
}

void TestSaving::writeFailure()
{
    QFETCH(bool, sequence);
    QFETCH(QString, typed);
    QFETCH(QStringList, left);
    Fixture f;
    QVERIFY(f.ready);
    QVERIFY(QDir(f.folder.path()).mkdir("run00001.tif"));
    DialogAnswerer answerer;
    answerer.fileNames << f.path(typed);
    answerer.buttons << QMessageBox::Ok;
    answerer.whileBoxShows = [&f] {
        const bool free = f.group->try_readlock();
        if (free)
            f.group->unlock();
        return QString(free ? "(group free)" : "(group locked)");
    };
    f.click(sequence);

    QCOMPARE(answerer.transcript, (QStringList{fileDialogLine(sequence), writeErrorBox + " (group free)"}));
    QCOMPARE(entriesOf(f.folder.path()), left); // nothing after the failed file
    if (sequence)
        QCOMPARE(readTiff(f.path("run00000.tif"), Fixture::width, Fixture::height), samplesOf(*f.oldestPlus(0)));
    QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed))); // remembered before the write
}

void TestSaving::readLockUnavailable_data()
{
    QTest::addColumn<bool>("sequence");
    QTest::newRow("frame") << false;
    QTest::newRow("sequence") << true;
}

void TestSaving::readLockUnavailable()
{
    QFETCH(bool, sequence);
    Fixture f;
    QVERIFY(f.ready);
    // A frame being written holds the group's write lock.
    const boost::shared_ptr<FrameBuffer> inProgress = f.group->beginWrite();
    QVERIFY(inProgress);
    QVERIFY(!f.group->try_readlock());

    DialogAnswerer answerer;
    answerer.fileNames << f.path("busy");
    f.click(sequence);
    f.group->abortWrite();

    QCOMPARE(answerer.transcript, QStringList{fileDialogLine(sequence)}); // nothing shown
    QCOMPARE(entriesOf(f.folder.path()), QStringList());                  // nothing written
    QCOMPARE(storedPath(), f.path("busy.tif"));                       // remembered all the same
}

void TestSaving::nothingToSave_data()
{
    QTest::addColumn<QString>("onScreen");
    QTest::addColumn<bool>("sequence");
    for (const char* what : {"nothing", "buffer without group", "empty group"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, frame").arg(what))) << what << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, sequence").arg(what))) << what << true;
    }
}

void TestSaving::nothingToSave()
{
    QFETCH(QString, onScreen);
    QFETCH(bool, sequence);
    Fixture f;
    QVERIFY(f.ready);
    boost::shared_ptr<FrameBuffer> shown;
    boost::shared_ptr<FrameBufferGroup> emptyGroup = FrameBufferGroup::create(2, 4, 4, 8, true);
    if (onScreen == "buffer without group") {
        shown.reset(new FrameBuffer(4, 4, 8, true));
    } else if (onScreen == "empty group") {
        shown = emptyGroup->beginWrite();
        emptyGroup->abortWrite();
        QVERIFY(shown && shown->frameBufferGroup() == emptyGroup && emptyGroup->size() == 0);
    }
    f.show(shown);
    DialogAnswerer answerer;
    answerer.fileNames << f.path("never");
    f.click(sequence);
    QCOMPARE(answerer.transcript, QStringList());
    QCOMPARE(storedPath(), QStringLiteral("before"));
}

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
