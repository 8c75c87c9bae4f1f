// Saving the frame on screen and its buffer group as TIFF files: the dialogs (answered by
// the test), the file names, the remembered path, the locking and the error reports.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "DisplayTestSupport.h"
#include "../runtime/RuntimeTestSupport.h"

#include "display/TiffFileNames.h"

#include "vexo-core/VelmarApplication.h"

#include <tiffio.h>

#include <QDir>
#include <QtTest>

using namespace vexo::core;
using Samples = std::vector<std::uint16_t>;

namespace {

const std::string storagePathKey = "gui.mainwindow.file.last_storage_path";

// The samples of a 16-bit gray TIFF file of the fixture's size; empty when it is none.
Samples readTiff(const QString& path)
{
    TIFFSetErrorHandler(nullptr);
    const TiffImage image = ::readTiff(QFile::encodeName(path).toStdString());
    const bool fixture = image.opened && image.width == 13 && image.height == 7 && image.bitsPerSample == 16
                         && image.samplesPerPixel == 1;
    return fixture ? image.samples : Samples();
}

QString storedPath() { return QString::fromStdString(VelmarApplication::getConfigStringEntry(storagePathKey, "<unset>")); }

QString fileDialogLine(bool sequence)
{
    return QStringLiteral("file dialog \"Save Current %1\" TIFF (*.tif) save no-overwrite-check").arg(sequence ? "Sequence" : "Frame");
}

// A window on an idle scene whose ring holds 3 different frames of 13 x 7 12-bit gray;
// the one before the newest is on screen.
struct Fixture : WindowRig
{
    QTemporaryDir folder;
    boost::shared_ptr<FrameBufferGroup> group;
    bool ready = false;

    Fixture() : WindowRig({13, 7, 12, true}, 3)
    {
        scene->detachVisualizer(window.get()); // no frame of the grab may reach the window
        for (int k = 0; k < 3; ++k)
            source().pushFrame([k](FrameBuffer& buffer) {
                for (int y = 0; y < buffer.height(); ++y)
                    for (int x = 0; x < buffer.width(); ++x)
                        buffer.line(y)[x] = static_cast<std::uint16_t>((x * 37 + y * 511 + k * 1013) % 4096);
            });
        scene->startGrabbing(0);
        ready = QTest::qWaitFor([this] { return !scene->isGrabbing(); });
        group = scene->frameBufferGroup();
        ready = ready && group->size() == 3 && folder.isValid();
        scene->attachVisualizer(window.get());
        if (ready)
            d().currentFrameBuffer = oldestPlus(1);
        VelmarApplication::setConfigEntry(storagePathKey, remembered().toStdString()); // as UTF-8
    }
    // The name the dialogs start from; a non-ASCII name tells how it crosses to the dialog.
    QString remembered() const { return path("Bild-ä.tif"); }
    boost::shared_ptr<FrameBuffer> oldestPlus(int i) const { return group->buffer(group->frameCounter() - 3 + i); }
    QString path(const QString& name) const { return folder.filePath(name); }
    QStringList entries() const
    {
        return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Runs the slot as the button does; a DialogAnswerer must be on duty.
    void click(bool sequence) { QVERIFY(QMetaObject::invokeMethod(window.get(), sequence ? "saveSequenceButtonClicked" : "saveFrameButtonClicked")); }
};

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configFolder.filePath("vexo.ini"))); }

    void fileNames_data()
    {
        // file: what a frame is written to
        // numbered: file `index` of a sequence
        columns<QString, QString, qlonglong, QString>("picked", "file", "index", "numbered");
        QTest::newRow("no suffix") << "/data/img" << "/data/img.tif" << 0LL << "/data/img00000.tif";
        QTest::newRow("upper-case suffix kept") << "/data/img.TIF" << "/data/img.TIF" << 7LL << "/data/img00007.tif";
        QTest::newRow(".tiff is no .tif") << "x.tiff" << "x.tiff.tif" << 1LL << "x.tiff00001.tif";
        QTest::newRow("last five-digit number") << "run.tif" << "run.tif" << 99999LL << "run99999.tif";
        QTest::newRow("100000: six digits") << "run.tif" << "run.tif" << 100000LL << "run100000.tif";
        QTest::newRow("markers in the name stay") << "/d/%1%2" << "/d/%1%2.tif" << 5LL << "/d/%1%200005.tif";
        QTest::newRow("non-ASCII") << "/d/Bild-ä" << "/d/Bild-ä.tif" << 12LL << "/d/Bild-ä00012.tif";
    }

    void fileNames()
    {
        const auto [picked, file, index, numbered] = fetch<QString, QString, qlonglong, QString>("picked", "file", "index", "numbered");
        QCOMPARE(TiffFileNames::withSuffix(picked), file);
        QCOMPARE(TiffFileNames::sequenceFile(TiffFileNames::sequenceBase(file), index), numbered);
    }

    void save_data()
    {
        // existing: a file there before; "": none
        // answer: to the overwrite question, if asked
        // files: written, file i from buffer i (oldest first)
        // typed "": the dialog is cancelled
        columns<bool, QString, QString, int, QStringList>("sequence", "typed", "existing", "answer", "files");
        const int yes = QMessageBox::Yes, no = QMessageBox::No, none = QMessageBox::NoButton;
        const QStringList run = {"run00000.tif", "run00001.tif", "run00002.tif"};
        QTest::newRow("frame, suffix appended") << false << "img" << "" << none << QStringList{"img.tif"};
        QTest::newRow("sequence, no suffix") << true << "run" << "" << none << run;
        QTest::newRow("sequence, .TIF gives lower-case files") << true << "run.TIF" << "" << none << run;
        QTest::newRow("frame exists, yes") << false << "run" << "run.tif" << yes << QStringList{"run.tif"};
        QTest::newRow("frame exists, no") << false << "run" << "run.tif" << no << QStringList();
        QTest::newRow("sequence exists, yes") << true << "run" << "run00000.tif" << yes << run;
        QTest::newRow("sequence exists, no") << true << "run" << "run00000.tif" << no << QStringList();
        QTest::newRow("sequence: only the first file is looked at") << true << "run" << "run00001.tif" << none << run;
        QTest::newRow("frame, cancelled") << false << "" << "" << none << QStringList();
        QTest::newRow("sequence, cancelled") << true << "" << "" << none << QStringList();
    }

    void save()
    {
        const auto [sequence, typed, existing, answer, files] = fetch<bool, QString, QString, int, QStringList>(
            "sequence", "typed", "existing", "answer", "files");
        Fixture f;
        QVERIFY(f.ready);
        QFile older(f.path(existing));
        QVERIFY(existing.isEmpty() || (older.open(QIODevice::WriteOnly) && older.write("older file") > 0));
        older.close();
        DialogAnswerer answerer;
        answerer.fileNames << (typed.isEmpty() ? QString() : f.path(typed));
        answerer.buttons << QMessageBox::StandardButton(answer);
        f.click(sequence);
        QCOMPARE(answerer.openedAt, QStringList{f.remembered()});
        QStringList expected{fileDialogLine(sequence)};
        if (answer != QMessageBox::NoButton)
            expected << QStringLiteral("question \"File%1 Exists\" \"File%2 already exists... Overwrite?\" [No Yes] default none")
                            .arg(sequence ? " Sequence" : "", sequence ? " sequence" : "");
        QCOMPARE(answerer.transcript, expected);
        QStringList entries = files;
        if (!existing.isEmpty() && !files.contains(existing))
            entries << existing;
        entries.sort();
        QCOMPARE(f.entries(), entries);
        if (files.isEmpty()) { // declined: the older file stays, the path is not remembered
            QVERIFY(existing.isEmpty() || (older.open(QIODevice::ReadOnly) && older.readAll() == "older file"));
            QCOMPARE(storedPath(), f.remembered());
            return;
        }
        // A frame is the buffer on screen (not the newest); a sequence is the whole group.
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(readTiff(f.path(files[i])) == samplesOf(*f.oldestPlus(sequence ? i : 1)), qPrintable(files[i]));
        QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed)));
    }

    void writeFailure_data()
    {
        // left: the folder's entries afterwards
        columns<bool, QString, QStringList>("sequence", "typed", "left");
        // A folder where the second file of the series should go makes its write fail.
        QTest::newRow("second file of a sequence") << true << "run" << QStringList{"run00000.tif", "run00001.tif"};
        QTest::newRow("frame") << false << "missing-folder/img" << QStringList{"run00001.tif"};
    }

    void writeFailure()
    {
        const auto [sequence, typed, left] = fetch<bool, QString, QStringList>("sequence", "typed", "left");
        Fixture f;
        QVERIFY(f.ready && QDir(f.folder.path()).mkdir("run00001.tif"));
        const Samples oldest = samplesOf(*f.oldestPlus(0));
        DialogAnswerer answerer;
        answerer.fileNames << f.path(typed);
        answerer.buttons << QMessageBox::Ok;
        // The box waits for the user: the save's read lock must be gone by then, or the
        // acquisition could not write. (A read lock is shared, so only a write tells.)
        answerer.whileBoxShows = [&f] {
            const bool writable = f.group->beginWrite() != nullptr;
            if (writable)
                f.group->abortWrite(); // gives up a stored frame: compare with `oldest`
            return QString(writable ? "(group writable)" : "(group locked)");
        };
        f.click(sequence);
        // Qt makes a lone button the default whatever the caller asks for.
        QCOMPARE(answerer.transcript,
                 (QStringList{fileDialogLine(sequence), "critical \"Error Writing TIFF.\" \"Could not write TIFF file "
                                                        "(Write Error or Disk Full)\" [OK] default OK (group writable)"}));
        QCOMPARE(f.entries(), left); // nothing after the failed file
        QVERIFY(!sequence || readTiff(f.path("run00000.tif")) == oldest);
        QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed))); // remembered before the write
    }

    void nothingWritten_data()
    {
        columns<QString, bool>("onScreen", "sequence");
        QTest::newRow("nothing, frame") << "nothing" << false;
        QTest::newRow("buffer without group, sequence") << "buffer without group" << true;
        QTest::newRow("empty group, frame") << "empty group" << false;
        QTest::newRow("busy group, frame") << "busy group" << false;
        QTest::newRow("busy group, sequence") << "busy group" << true;
    }

    // With nothing to save no dialog opens. A busy group (a frame being written holds its
    // write lock) is found only after the dialog: nothing is written, but the name is
    // remembered all the same.
    void nothingWritten()
    {
        const auto [onScreen, sequence] = fetch<QString, bool>("onScreen", "sequence");
        Fixture f;
        QVERIFY(f.ready);
        const bool busy = onScreen == "busy group";
        boost::shared_ptr<FrameBuffer> shown;
        boost::shared_ptr<FrameBufferGroup> emptyGroup = FrameBufferGroup::create(2, 4, 4, 8, true);
        if (onScreen == "buffer without group")
            shown.reset(new FrameBuffer(4, 4, 8, true));
        else if (onScreen == "empty group") {
            shown = emptyGroup->beginWrite();
            emptyGroup->abortWrite();
            QVERIFY(shown && shown->frameBufferGroup() == emptyGroup && emptyGroup->size() == 0);
        } else if (busy) {
            shown = f.oldestPlus(1);
            QVERIFY(f.group->beginWrite() && !f.group->try_readlock());
        }
        f.d().currentFrameBuffer = shown;
        DialogAnswerer answerer;
        answerer.fileNames << f.path("never");
        f.click(sequence);
        if (busy)
            f.group->abortWrite();
        QCOMPARE(answerer.transcript, busy ? QStringList{fileDialogLine(sequence)} : QStringList());
        QCOMPARE(f.entries(), QStringList());
        QCOMPARE(storedPath(), busy ? f.path("never.tif") : f.remembered());
    }

private:
    QTemporaryDir configFolder;
};

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
