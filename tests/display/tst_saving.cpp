// Saving the frame on screen and its buffer group as TIFF files: the dialogs (answered by
// the test), the file names, the remembered path, the locking and the error reports.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "DisplayTestSupport.h"

#include "display/TiffFileNames.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <tiffio.h>

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using namespace vexo::core;

namespace {

const std::string storagePathKey = "gui.mainwindow.file.last_storage_path";

std::vector<std::uint16_t> samplesOf(const FrameBuffer& buffer)
{
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < buffer.height(); ++y)
        samples.insert(samples.end(), buffer.line(y), buffer.line(y) + buffer.width() * buffer.channels());
    return samples;
}

// The samples of a 16-bit gray TIFF file of the given size; empty when it is none.
std::vector<std::uint16_t> readTiff(const QString& path, int width, int height)
{
    std::vector<std::uint16_t> samples;
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return samples;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    std::vector<std::uint16_t> row(w);
    if (int(w) == width && int(h) == height && bits == 16 && TIFFScanlineSize(tif) == tmsize_t(2 * w))
        for (std::uint32_t y = 0; y < h && TIFFReadScanline(tif, row.data(), y, 0) == 1; ++y)
            samples.insert(samples.end(), row.begin(), row.end());
    TIFFClose(tif);
    return samples;
}

QString storedPath()
{
    return QString::fromStdString(VelmarApplication::getConfigStringEntry(storagePathKey, "<unset>"));
}

// A window attached to an idle scene whose ring holds `frames` frames of a 12-bit gray
// pattern, each frame different; the one before the newest is on screen.
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
            show(oldestPlus(1));
        VelmarApplication::setConfigEntry(storagePathKey, std::string("before"));
    }
    ~Fixture() { scene->detachVisualizer(window.get()); }

    boost::shared_ptr<FrameBuffer> oldestPlus(int i) const
    {
        return group->buffer(group->frameCounter() - group->size() + i);
    }
    void show(const boost::shared_ptr<FrameBuffer>& buffer)
    {
        VisualizerInspector::d(window.get()).currentFrameBuffer = buffer;
    }
    QString path(const QString& name) const { return folder.filePath(name); }
    QStringList entries(const QString& sub = ".") const
    {
        return QDir(path(sub)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    bool holds(const QString& name, int buffer) const
    {
        return readTiff(path(name), width, height) == samplesOf(*oldestPlus(buffer));
    }
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

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(configFolder.isValid());
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(configFolder.filePath("vexo.ini")));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("picked");
        QTest::addColumn<QString>("file");     // what a frame is written to
        QTest::addColumn<qlonglong>("index");
        QTest::addColumn<QString>("numbered"); // file `index` of a sequence
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

    void fileNames()
    {
        QFETCH(QString, picked);
        QFETCH(QString, file);
        QFETCH(qlonglong, index);
        QFETCH(QString, numbered);
        QCOMPARE(TiffFileNames::withSuffix(picked), file);
        QCOMPARE(TiffFileNames::sequenceFile(TiffFileNames::sequenceBase(file), index), numbered);
    }

    void save_data()
    {
        QTest::addColumn<bool>("sequence");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("existing"); // a file there before; "": none
        QTest::addColumn<int>("answer");       // to the overwrite question
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QStringList>("files"); // written, file i from buffer i (oldest first)

        const int yes = QMessageBox::Yes, no = QMessageBox::No, none = QMessageBox::NoButton;
        const QStringList run = {"run00000.tif", "run00001.tif", "run00002.tif"};
        QTest::newRow("frame, suffix appended") << false << "img" << "" << none << false << QStringList{"img.tif"};
        QTest::newRow("frame, .TIF kept") << false << "img.TIF" << "" << none << false << QStringList{"img.TIF"};
        QTest::newRow("frame, .tiff gets .tif") << false << "x.tiff" << "" << none << false << QStringList{"x.tiff.tif"};
        QTest::newRow("sequence, no suffix") << true << "run" << "" << none << false << run;
        QTest::newRow("sequence, .TIF gives lower-case files") << true << "run.TIF" << "" << none << false << run;
        QTest::newRow("sequence, .tiff") << true << "x.tiff" << "" << none << false
                                         << QStringList{"x.tiff00000.tif", "x.tiff00001.tif", "x.tiff00002.tif"};
        QTest::newRow("frame exists, yes") << false << "run" << "run.tif" << yes << true << QStringList{"run.tif"};
        QTest::newRow("frame exists, no") << false << "run" << "run.tif" << no << true << QStringList();
        QTest::newRow("frame exists, box closed") << false << "run" << "run.tif" << none << true << QStringList();
        QTest::newRow("sequence exists, yes") << true << "run" << "run00000.tif" << yes << true << run;
        QTest::newRow("sequence exists, no") << true << "run" << "run00000.tif" << no << true << QStringList();
        QTest::newRow("sequence: only the first file is looked at") << true << "run" << "run00001.tif" << no << false << run;
    }

    void save()
    {
        QFETCH(bool, sequence);
        QFETCH(QString, typed);
        QFETCH(QString, existing);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(QStringList, files);
        Fixture f;
        QVERIFY(f.ready);
        if (!existing.isEmpty()) {
            QFile older(f.path(existing));
            QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older file") > 0);
        }
        DialogAnswerer answerer;
        answerer.fileNames << f.path(typed);
        answerer.buttons << QMessageBox::StandardButton(answer);
        f.click(sequence);

        QStringList expected{fileDialogLine(sequence)};
        if (asked)
            expected << (sequence ? QStringLiteral("question \"File Sequence Exists\" \"File sequence already exists... Overwrite?\" [No Yes] default none")
                                  : QStringLiteral("question \"File Exists\" \"File already exists... Overwrite?\" [No Yes] default none"));
        QCOMPARE(answerer.transcript, expected);
        QStringList entries = files;
        if (!existing.isEmpty() && !files.contains(existing))
            entries << existing;
        entries.sort();
        QCOMPARE(f.entries(), entries);
        if (files.isEmpty()) { // declined: the older file stays, the path is not remembered
            QFile older(f.path(existing));
            QVERIFY(older.open(QIODevice::ReadOnly));
            QCOMPARE(older.readAll(), QByteArray("older file"));
            QCOMPARE(storedPath(), QStringLiteral("before"));
            return;
        }
        // A frame is the buffer on screen (not the newest); a sequence is the whole group.
        for (int i = 0; i < files.size(); ++i)
            QVERIFY2(f.holds(files[i], sequence ? i : 1), qPrintable(files[i]));
        QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed)));
    }

    void rememberedPath()
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
            f.click(true);
            QCOMPARE(answerer.openedAt, QStringList{f.path("sub/first.tif")});
            QCOMPARE(answerer.transcript, QStringList{fileDialogLine(true)});
            QCOMPARE(storedPath(), f.path("sub/first.tif"));
            QCOMPARE(f.entries("sub"), QStringList{"first.tif"});
        }
        {
            // The entry crosses to the dialog as UTF-8.
            VelmarApplication::setConfigEntry(storagePathKey, f.path("Bild-ä.tif").toStdString());
            DialogAnswerer answerer;
            f.click(false);
            QCOMPARE(answerer.openedAt, QStringList{f.path("Bild-ä.tif")});
        }
    }

    void writeFailure_data()
    {
        QTest::addColumn<bool>("sequence");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("left"); // the folder's entries afterwards
        // A folder where the second file of the series should go makes its write fail.
        QTest::newRow("second file of a sequence") << true << "run" << QStringList{"run00000.tif", "run00001.tif"};
        QTest::newRow("frame") << false << "missing-folder/img" << QStringList{"run00001.tif"};
    }

    void writeFailure()
    {
        QFETCH(bool, sequence);
        QFETCH(QString, typed);
        QFETCH(QStringList, left);
        Fixture f;
        QVERIFY(f.ready);
        QVERIFY(QDir(f.folder.path()).mkdir("run00001.tif"));
        const std::vector<std::uint16_t> oldest = samplesOf(*f.oldestPlus(0));
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
                 (QStringList{fileDialogLine(sequence),
                              "critical \"Error Writing TIFF.\" \"Could not write TIFF file (Write Error or Disk Full)\" "
                              "[OK] default OK (group writable)"}));
        QCOMPARE(f.entries(), left); // nothing after the failed file
        if (sequence)
            QVERIFY(readTiff(f.path("run00000.tif"), Fixture::width, Fixture::height) == oldest);
        QCOMPARE(storedPath(), f.path(TiffFileNames::withSuffix(typed))); // remembered before the write
    }

    void nothingWritten_data()
    {
        QTest::addColumn<QString>("onScreen");
        QTest::addColumn<bool>("sequence");
        for (const char* what : {"nothing", "buffer without group", "empty group", "busy group"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, frame").arg(what))) << what << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, sequence").arg(what))) << what << true;
        }
    }

    // With nothing to save no dialog opens. A busy group (a frame being written holds its
    // write lock) is found only after the dialog: nothing is written, but the name is
    // remembered all the same.
    void nothingWritten()
    {
        QFETCH(QString, onScreen);
        QFETCH(bool, sequence);
        Fixture f;
        QVERIFY(f.ready);
        const bool busy = onScreen == "busy group";
        boost::shared_ptr<FrameBuffer> shown;
        boost::shared_ptr<FrameBufferGroup> emptyGroup = FrameBufferGroup::create(2, 4, 4, 8, true);
        if (onScreen == "buffer without group") {
            shown.reset(new FrameBuffer(4, 4, 8, true));
        } else if (onScreen == "empty group") {
            shown = emptyGroup->beginWrite();
            emptyGroup->abortWrite();
            QVERIFY(shown && shown->frameBufferGroup() == emptyGroup && emptyGroup->size() == 0);
        } else if (busy) {
            shown = f.oldestPlus(1);
            QVERIFY(f.group->beginWrite());
            QVERIFY(!f.group->try_readlock());
        }
        f.show(shown);
        DialogAnswerer answerer;
        answerer.fileNames << f.path("never");
        f.click(sequence);
        if (busy)
            f.group->abortWrite();
        QCOMPARE(answerer.transcript, busy ? QStringList{fileDialogLine(sequence)} : QStringList());
        QCOMPARE(f.entries(), QStringList());
        QCOMPARE(storedPath(), busy ? f.path("never.tif") : QStringLiteral("before"));
    }

private:
    QTemporaryDir configFolder;
};

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
