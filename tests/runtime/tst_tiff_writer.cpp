// Frames saved as TIFF files, read back with libtiff.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/TiffWriter.h"

#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::TiffWriter;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

// Fills the buffer: the first sample is `top`, the others step through 0..top with an odd
// stride, so neighbours differ and both ends of the range occur. Returns the samples.
std::vector<std::uint16_t> fillPattern(FrameBuffer& buffer, std::uint32_t top, std::uint32_t seed = 0)
{
    std::uint64_t k = 0;
    for (int y = 0; y < buffer.height(); ++y)
        for (int i = 0; i < buffer.width() * buffer.channels(); ++i, ++k)
            buffer.line(y)[i] = static_cast<std::uint16_t>(k == 0 ? top : (k * 40503u + seed) % (top + 1u));
    return samplesOf(buffer);
}

// Every entry below folder with a digest of its content, hidden ones included, so a
// left-over temporary or a changed file shows.
QStringList listTree(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        entries << QDir(folder).relativeFilePath(file.fileName()) + " "
                       + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
    }
    entries.sort();
    return entries;
}

std::string native(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

class TestTiffWriter : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<FrameFormat>("format");
        // Largest value written; above the bit depth's range where a writer over-filled.
        QTest::addColumn<int>("top");
        QTest::newRow("gray 1 bit, odd width") << FrameFormat{13, 5, 1, true} << 1;
        QTest::newRow("gray 9 bits") << FrameFormat{37, 23, 9, true} << 511;
        QTest::newRow("colour 8 bits, one row") << FrameFormat{57, 1, 8, false} << 255;
        QTest::newRow("colour 16 bits, many strips") << FrameFormat{3, 5000, 16, false} << 65535;
        QTest::newRow("4 bits colour over-filled, clamps") << FrameFormat{31, 7, 4, false} << 300;
    }

    void roundTrip()
    {
        QFETCH(FrameFormat, format);
        QFETCH(int, top);
        const auto [width, height, bits, gray] = format;
        QTemporaryDir dir;
        const QString path = dir.filePath("frame.tif");
        // Replacing an older file: concurrentSavesToOneTarget.
        FrameBuffer buffer(width, height, bits, gray);
        std::vector<std::uint16_t> expected = fillPattern(buffer, static_cast<std::uint32_t>(top));
        for (auto& v : expected)
            v = bits <= 8 ? std::min<std::uint16_t>(v, 255) : v;
        // Beyond 32 bits, so a narrowed or signed conversion shows.
        buffer.setFrameIndex(4294967301LL);
        buffer.setTimestamp(18446744073709551615ULL);
        const int watch = ::inotify_init1(IN_NONBLOCK);
        QVERIFY(watch >= 0 && ::inotify_add_watch(watch, native(dir.path()).c_str(), IN_CREATE | IN_MOVED_TO) >= 0);
        QCOMPARE(buffer.saveTiff(native(path)), 0);
        QCOMPARE(listTree(dir.path()).size(), 1);
        // The image was written beside its target, under a hidden name, and renamed into place.
        QStringList seen;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char* at = events; at < events + n; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len) {
                const auto* event = reinterpret_cast<inotify_event*>(at);
                const QString name = QString::fromLocal8Bit(event->name);
                seen << (event->mask & IN_CREATE ? "created " : "moved ")
                            + QString(name).replace(QRegularExpression("\\.frame\\.tif\\..+\\.tmp$"), ".frame.tif.*.tmp");
            }
        ::close(watch);
        QCOMPARE(seen, QStringList({"created .frame.tif.*.tmp", "moved frame.tif"}));

        const TiffImage image = readTiff(native(path));
        QCOMPARE(image.header,
                 QList<int>({width, height, gray ? 1 : 3, bits <= 8 ? 8 : 16, gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB}));
        QCOMPARE(QString::fromStdString(image.description),
                 QString("frameIndex=4294967301 timestamp=18446744073709551615 bitsPerPixel=%1").arg(bits));
        QVERIFY(image.samples == expected);
    }

    void failedWriteLeavesNothing_data()
    {
        QTest::addColumn<QString>("target"); // relative to the test folder
        QTest::addColumn<QString>("file");   // an older file made beforehand
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("reason"); // how the message ends, where the system said why
        const QSize size(8, 8);
        QTest::newRow("missing folder") << "missing/frame.tif" << QString() << size << ": No such file or directory";
        // A folder in the target's place, where only the final rename fails: the saving test's.
        QTest::newRow("target ends in a slash") << "frame.tif/" << QString() << size << ": Is a directory";
        QTest::newRow("no columns, the old file stays") << "frame.tif" << "frame.tif" << QSize(0, 8) << QString();
        QTest::newRow("no rows") << "frame.tif" << QString() << QSize(8, 0) << QString();
    }

    void failedWriteLeavesNothing()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        if (!file.isEmpty()) {
            QFile old(dir.filePath(file));
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("an older frame") > 0);
        }
        const QStringList before = listTree(dir.path());

        FrameBuffer buffer(size.width(), size.height(), 12, true);
        fillPattern(buffer, 4095);
        TiffWriter writer(buffer);
        QVERIFY(writer.write(native(dir.filePath(target))) != 0 && !writer.errorMessage().empty());
        QVERIFY2(QString::fromStdString(writer.errorMessage()).endsWith(reason), writer.errorMessage().c_str());
        QCOMPARE(listTree(dir.path()), before);
    }

    void concurrentSavesToOneTarget()
    {
        // Writers racing for one file must not share a temporary: the file left is one whole
        // frame of one writer, and no temporary remains.
        QTemporaryDir dir;
        const std::string path = native(dir.filePath("frame.tif"));
        constexpr int writers = 4;
        std::vector<std::unique_ptr<FrameBuffer>> buffers;
        std::vector<std::vector<std::uint16_t>> written;
        std::vector<int> failures(writers, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < writers; ++t) {
            buffers.push_back(std::make_unique<FrameBuffer>(64, 48, 16, true));
            written.push_back(fillPattern(*buffers.back(), 65535, std::uint32_t(t) * 1000));
            buffers.back()->setFrameIndex(t);
            // Each thread keeps to its own buffer and counter; the vectors grow meanwhile.
            threads.emplace_back([&path, buffer = buffers.back().get(), failed = &failures[std::size_t(t)]] {
                for (int i = 0; i < 10; ++i)
                    *failed += buffer->saveTiff(path) != 0;
            });
        }
        for (auto& thread : threads)
            thread.join();

        QCOMPARE(failures, std::vector<int>(writers, 0));
        QCOMPARE(listTree(dir.path()).size(), 1);
        // Its samples and its description come from the same writer.
        const TiffImage image = readTiff(path);
        const auto whose = std::find(written.begin(), written.end(), image.samples) - written.begin();
        QVERIFY2(whose < writers && image.description.rfind("frameIndex=" + std::to_string(whose) + " ", 0) == 0,
                 image.description.c_str());
    }
};

QTEST_GUILESS_MAIN(TestTiffWriter)
#include "tst_tiff_writer.moc"
