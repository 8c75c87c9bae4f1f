// Saving the frame on screen and its buffer group as TIFF files: the dialogs (answered by
// the test), the file names, the remembered path, the locking and the error reports.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "DisplayTestSupport.h"
#include "../runtime/RuntimeTestSupport.h"

#include "display/TiffFileNames.h"

#include "vexo-core/VelmarApplication.h"

#include <QDir>
#include <QtTest>

using namespace vexo::core;
using Samples = std::vector<std::uint16_t>;

namespace {

const std::string storagePathKey = "gui.mainwindow.file.last_storage_path";

// Frame k of the fixture, line by line: every frame and every pixel different.
Samples frameSamples(int k)
{
    Samples all;
    for (int i = 0; i < 13 * 7; ++i)
        all.push_back(static_cast<std::uint16_t>((i % 13 * 37 + i / 13 * 511 + k * 1013) % 4096));
    return all;
}

// A window on an idle scene whose ring holds frames 0, 1, 2 of 13 x 7 12-bit gray, oldest
// first; frame 1 is on screen.
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
                const Samples all = frameSamples(k);
                for (int y = 0; y < buffer.height(); ++y)
                    std::copy_n(all.begin() + 13 * y, 13, buffer.line(y));
            });
        scene->startGrabbing(0);
        ready = QTest::qWaitFor([this] { return !scene->isGrabbing(); });
        group = scene->frameBufferGroup();
        ready = ready && group->size() == 3 && folder.isValid();
        scene->attachVisualizer(window.get());
        VelmarApplication::setConfigEntry(storagePathKey, remembered().toStdString()); // as UTF-8
    }
    // The name the dialogs start from; a non-ASCII name tells how it crosses to the dialog.
    QString remembered() const { return path("Bild-ä.tif"); }
    QString path(const QString& name) const { return folder.filePath(name); }
    // The folder's entries; a file that is not the TIFF of the frame it should hold (file i
    // of a sequence: frame i; a frame: the one on screen) is marked.
    QStringList contents(bool sequence) const
    {
        QStringList all;
        TIFFSetErrorHandler(nullptr); // the old and wrong files are not TIFFs: no message for them
        for (const QString& name : QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
            QFile file(path(name));
            const int index = sequence ? name.mid(name.size() - 9, 5).toInt() : 1;
            const auto holdsFrame = [&] {
                const TiffImage image = readTiff(QFile::encodeName(file.fileName()).toStdString());
                return image.header.mid(0, 4) == QList<int>({13, 7, 1, 16}) && image.samples == frameSamples(index);
            };
            const bool tiff = index < 3 && holdsFrame();
            const bool old = !tiff && file.open(QIODevice::ReadOnly) && file.readAll() == "older file";
            all << name + (QFileInfo(file).isDir() ? " (dir)" : tiff ? "" : old ? " (old)" : " (wrong)");
        }
        return all;
    }
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
        // setup: "old <file>" or "dir <name>" made in the folder first; or what is on screen
        //   instead: "nothing", "buffer without group", "empty group", "busy group" (being written)
        // typed "": the file dialog is cancelled
        // shown: the dialogs in turn: "file", "exists" (the overwrite question, answered `answer`), "error"
        // left: the folder's entries afterwards
        // remembered: the name stored for the next dialog; "" the one from before
        columns<bool, QString, QString, int, QString, QStringList, QString>("sequence", "typed", "setup", "answer", "shown",
                                                                           "left", "remembered");
        const int yes = QMessageBox::Yes, no = QMessageBox::No, ok = QMessageBox::Ok, none = QMessageBox::NoButton;
        const QStringList run = {"run00000.tif", "run00001.tif", "run00002.tif"}, nothing;
        QTest::newRow("frame, suffix appended") << false << "img" << "" << none << "file" << QStringList{"img.tif"} << "img.tif";
        QTest::newRow("sequence, no suffix") << true << "run" << "" << none << "file" << run << "run.tif";
        QTest::newRow("frame exists, yes") << false << "run" << "old run.tif" << yes << "file exists" << QStringList{"run.tif"}
                                           << "run.tif";
        QTest::newRow("frame exists, no") << false << "run" << "old run.tif" << no << "file exists"
                                          << QStringList{"run.tif (old)"} << "";
        QTest::newRow("sequence exists, yes") << true << "run" << "old run00000.tif" << yes << "file exists" << run << "run.tif";
        QTest::newRow("sequence exists, no") << true << "run" << "old run00000.tif" << no << "file exists"
                                             << QStringList{"run00000.tif (old)"} << "";
        QTest::newRow("sequence: only the first file is looked at") << true << "run" << "old run00001.tif" << none << "file"
                                                                    << run << "run.tif";
        QTest::newRow("frame, cancelled") << false << "" << "" << none << "file" << nothing << "";
        QTest::newRow("sequence, cancelled") << true << "" << "" << none << "file" << nothing << "";
        // A folder where the second file of the series should go makes its write fail; the
        // name is remembered before the write.
        QTest::newRow("second file of a sequence fails") << true << "run" << "dir run00001.tif" << ok << "file error"
                                                         << QStringList{"run00000.tif", "run00001.tif (dir)"} << "run.tif";
        QTest::newRow("frame fails") << false << "missing-folder/img" << "dir run00001.tif" << ok << "file error"
                                     << QStringList{"run00001.tif (dir)"} << "missing-folder/img.tif";
        // With nothing to save no dialog opens. A busy group is found only after the dialog:
        // nothing is written, but the name is remembered all the same.
        QTest::newRow("nothing, frame") << false << "never" << "nothing" << none << "" << nothing << "";
        QTest::newRow("buffer without group, sequence") << true << "never" << "buffer without group" << none << "" << nothing << "";
        QTest::newRow("empty group, frame") << false << "never" << "empty group" << none << "" << nothing << "";
        QTest::newRow("busy group, frame") << false << "never" << "busy group" << none << "file" << nothing << "never.tif";
        QTest::newRow("busy group, sequence") << true << "never" << "busy group" << none << "file" << nothing << "never.tif";
    }

    void save()
    {
        const auto [sequence, typed, setup, answer, shown, left, remembered] =
            fetch<bool, QString, QString, int, QString, QStringList, QString>("sequence", "typed", "setup", "answer", "shown",
                                                                             "left", "remembered");
        Fixture f;
        QVERIFY(f.ready);
        const QString made = f.path(setup.section(' ', 1));
        QFile older(made);
        QVERIFY(!setup.startsWith("old ") || (older.open(QIODevice::WriteOnly) && older.write("older file") > 0));
        older.close();
        QVERIFY(!setup.startsWith("dir ") || QDir().mkdir(made));
        boost::shared_ptr<FrameBuffer> onScreen = f.group->buffer(f.group->frameCounter() - 2);
        const boost::shared_ptr<FrameBufferGroup> emptyGroup = FrameBufferGroup::create(2, 4, 4, 8, true);
        if (setup == "nothing") {
            onScreen.reset();
        } else if (setup == "buffer without group") {
            onScreen.reset(new FrameBuffer(4, 4, 8, true));
        } else if (setup == "empty group") {
            onScreen = emptyGroup->beginWrite();
            emptyGroup->abortWrite();
            QVERIFY(onScreen && onScreen->frameBufferGroup() == emptyGroup && emptyGroup->size() == 0);
        } else if (setup == "busy group") {
            QVERIFY(f.group->beginWrite() && !f.group->try_readlock()); // a frame being written holds the write lock
        }
        f.d().currentFrameBuffer = onScreen;
        DialogAnswerer answerer;
        answerer.fileNames << (typed.isEmpty() ? QString() : f.path(typed));
        answerer.buttons << QMessageBox::StandardButton(answer);
        // The error box waits for the user: the save's read lock must be gone by then, or the
        // acquisition could not write. (A read lock is shared, so only a write tells.)
        if (shown.endsWith("error"))
            answerer.whileBoxShows = [&f] {
                const bool writable = f.group->beginWrite() != nullptr;
                if (writable)
                    f.group->abortWrite(); // gives up a stored frame: the files are compared with frameSamples()
                return QString(writable ? "(group writable)" : "(group locked)");
            };
        QVERIFY(QMetaObject::invokeMethod(f.window.get(), sequence ? "saveSequenceButtonClicked" : "saveFrameButtonClicked"));
        if (setup == "busy group")
            f.group->abortWrite();
        QStringList expected;
        // Qt makes a lone button the default whatever the caller asks for.
        for (const QString& dialog : shown.split(' ', Qt::SkipEmptyParts))
            expected << (dialog == "file"     ? QStringLiteral("file dialog \"Save Current %1\" TIFF (*.tif) save "
                                                               "no-overwrite-check").arg(sequence ? "Sequence" : "Frame")
                         : dialog == "exists" ? QStringLiteral("question \"File%1 Exists\" \"File%2 already exists... Overwrite?\" "
                                                               "[No Yes] default none")
                                                    .arg(sequence ? " Sequence" : "", sequence ? " sequence" : "")
                                              : QStringLiteral("critical \"Error Writing TIFF.\" \"Could not write TIFF file (Write "
                                                               "Error or Disk Full)\" [OK] default OK (group writable)"));
        QCOMPARE(answerer.transcript, expected);
        QCOMPARE(answerer.openedAt, shown.isEmpty() ? QStringList() : QStringList{f.remembered()});
        QCOMPARE(f.contents(sequence), left);
        QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry(storagePathKey, "<unset>")),
                 remembered.isEmpty() ? f.remembered() : f.path(remembered));
    }

private:
    QTemporaryDir configFolder;
};

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
