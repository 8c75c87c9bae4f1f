// Frames saved as TIFF files, read back with libtiff.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/TiffWriter.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>


using vexo::core::FrameBuffer;
using vexo::core::TiffWriter;

namespace {

// Every sample of the buffer, row by row; the first is `top`, the others step through
// 0..top with a stride that is odd, so neighbours differ and both ends of the range occur.
std::vector<std::uint16_t> fillPattern(FrameBuffer& buffer, std::uint32_t top, std::uint32_t seed = 0)
{
    std::vector<std::uint16_t> written;
    std::uint64_t k = 0;
    for (int y = 0; y < buffer.height(); ++y) {
        std::uint16_t* samples = buffer.line(y);
        for (int i = 0; i < buffer.width() * buffer.channels(); ++i, ++k) {
            const auto value =
                static_cast<std::uint16_t>(k == 0 ? top : (k * 40503u + seed) % (top + 1u));
            samples[i] = value;
            written.push_back(value);
        }
    }
    return written;
}

// Every entry below folder, hidden ones included, so a left-over temporary shows.
QStringList listTree(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTiffWriter : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        // Largest value written; above the bit depth's range where a writer over-filled.
        QTest::addColumn<int>("top");

        QTest::newRow("gray 1 bit, odd width") << 13 << 5 << 1 << true << 1;
        QTest::newRow("gray 8 bits, one column") << 1 << 57 << 8 << true << 255;
        QTest::newRow("gray 9 bits") << 37 << 23 << 9 << true << 511;
        QTest::newRow("gray 16 bits") << 37 << 23 << 16 << true << 65535;
        QTest::newRow("colour 8 bits, one row") << 57 << 1 << 8 << false << 255;
        QTest::newRow("colour 16 bits, many strips") << 3 << 5000 << 16 << false << 65535;
        QTest::newRow("8 bits over-filled, clamps") << 31 << 7 << 8 << true << 65535;
        QTest::newRow("4 bits colour over-filled, clamps") << 31 << 7 << 4 << false << 300;
    }

    void roundTrip()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(int, top);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        FrameBuffer buffer(width, height, bits, gray);
        const std::vector<std::uint16_t> written = fillPattern(buffer, static_cast<std::uint32_t>(top));
        // Beyond 32 bits, so a narrowed or signed conversion shows.
        buffer.setFrameIndex(4294967301LL);
        buffer.setTimestamp(18446744073709551615ULL);

        const QString path = dir.filePath("frame.tif");
        QCOMPARE(buffer.saveTiff(QFile::encodeName(path).toStdString()), 0);
        QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});

        const TiffImage image = readTiff(QFile::encodeName(path).toStdString());
        QVERIFY(image.opened);
        QCOMPARE(image.width, std::uint32_t(width));
        QCOMPARE(image.height, std::uint32_t(height));
        QCOMPARE(image.samplesPerPixel, std::uint16_t(gray ? 1 : 3));
        QCOMPARE(image.bitsPerSample, std::uint16_t(bits <= 8 ? 8 : 16));
        QCOMPARE(image.photometric, std::uint16_t(gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
        QCOMPARE(image.planar, std::uint16_t(PLANARCONFIG_CONTIG));
        const QStringList fields = QString::fromStdString(image.description).split(' ');
        QVERIFY2(fields.contains("frameIndex=4294967301"), image.description.c_str());
        QVERIFY2(fields.contains("timestamp=18446744073709551615"), image.description.c_str());
        QVERIFY2(fields.contains(QString("bitsPerPixel=%1").arg(bits)), image.description.c_str());

        std::vector<std::uint16_t> expected = written;
        for (auto& v : expected)
            v = bits <= 8 ? std::min<std::uint16_t>(v, 255) : v;
        QVERIFY(image.samples == expected);
    }

    void failedWriteLeavesNothing_data()
    {
        QTest::addColumn<QString>("target"); // relative to the test folder unless absolute
        QTest::addColumn<QString>("file");   // made beforehand; a trailing slash makes a folder
        QTest::addColumn<QSize>("size");
        const QSize size(8, 8);
        QTest::newRow("missing folder") << "missing/frame.tif" << QString() << size;
        // Root ignores permission bits; a path through a regular file fails for everyone.
        QTest::newRow("parent is a file") << "plain/frame.tif" << "plain" << size;
        QTest::newRow("unwritable file system") << "/proc/vexo-frame.tif" << QString() << size;
        // The image is complete here; only the final rename fails.
        QTest::newRow("target is a folder") << "frames" << "frames/" << size;
        QTest::newRow("target ends in a slash") << "frame.tif/" << QString() << size;
        QTest::newRow("empty path") << "" << QString() << size;
        QTest::newRow("no columns") << "frame.tif" << QString() << QSize(0, 8);
        QTest::newRow("no rows") << "frame.tif" << QString() << QSize(8, 0);
        QTest::newRow("0x0") << "frame.tif" << QString() << QSize(0, 0);
    }

    void failedWriteLeavesNothing()
    {
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (file.endsWith('/'))
            QVERIFY(QDir(dir.path()).mkdir(file));
        else if (!file.isEmpty())
            QVERIFY(QFile(dir.filePath(file)).open(QIODevice::WriteOnly));
        const QStringList before = listTree(dir.path());
        const QString path = target.isEmpty() || QDir::isAbsolutePath(target) ? target : dir.filePath(target);

        FrameBuffer buffer(size.width(), size.height(), 12, true);
        fillPattern(buffer, 4095);
        TiffWriter writer(buffer);
        QVERIFY(writer.write(QFile::encodeName(path).toStdString()) != 0);
        QVERIFY(!writer.errorMessage().empty());
        QCOMPARE(listTree(dir.path()), before);
        QVERIFY(!QDir::isAbsolutePath(target) || !QFileInfo::exists(target));
    }

    void existingTarget_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("replaced");

        QTest::newRow("replaced by the new frame") << 16 << 3 << true;
        QTest::newRow("kept when the new frame fails") << 0 << 0 << false;
    }

    void existingTarget()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, replaced);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("frame.tif");
        FrameBuffer first(40, 30, 8, true);
        fillPattern(first, 255);
        first.setFrameIndex(1);
        QCOMPARE(first.saveTiff(QFile::encodeName(path).toStdString()), 0);
        const QByteArray firstBytes = fileBytes(path);

        FrameBuffer second(width, height, 12, false);
        const std::vector<std::uint16_t> written = fillPattern(second, 4095, 7);
        second.setFrameIndex(2);
        const int result = second.saveTiff(QFile::encodeName(path).toStdString());

        QCOMPARE(result == 0, replaced);
        QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});
        if (!replaced) {
            QCOMPARE(fileBytes(path), firstBytes);
            return;
        }
        const TiffImage image = readTiff(QFile::encodeName(path).toStdString());
        QVERIFY(image.opened);
        QCOMPARE(image.width, std::uint32_t(width));
        QCOMPARE(image.height, std::uint32_t(height));
        QCOMPARE(image.samplesPerPixel, std::uint16_t(3));
        QCOMPARE(image.description.substr(0, 13), std::string("frameIndex=2 "));
        QVERIFY(image.samples == written);
    }

    void concurrentSavesToOneTarget()
    {
        // Writers racing for one file must not share a temporary: the file left is one whole
        // frame of one writer, and no temporary remains.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string path = QFile::encodeName(dir.filePath("frame.tif")).toStdString();
        constexpr int writers = 4;
        std::vector<std::unique_ptr<FrameBuffer>> buffers;
        std::vector<std::vector<std::uint16_t>> written;
        for (int t = 0; t < writers; ++t) {
            buffers.push_back(std::make_unique<FrameBuffer>(64, 48, 16, true));
            written.push_back(fillPattern(*buffers.back(), 65535, std::uint32_t(t) * 1000));
            buffers.back()->setFrameIndex(t);
        }
        std::vector<int> failures(writers, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < writers; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 25; ++i)
                    failures[t] += buffers[t]->saveTiff(path) != 0;
            });
        }
        for (auto& thread : threads)
            thread.join();

        QCOMPARE(failures, std::vector<int>(writers, 0));
        QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});
        const TiffImage image = readTiff(path);
        QVERIFY(image.opened);
        const QString index = QString::fromStdString(image.description).section(' ', 0, 0).section('=', 1);
        bool isNumber = false;
        const int t = index.toInt(&isNumber);
        QVERIFY2(isNumber && t >= 0 && t < writers, image.description.c_str());
        QVERIFY(image.samples == written[std::size_t(t)]);
    }
};

QTEST_GUILESS_MAIN(TestTiffWriter)
#include "tst_tiff_writer.moc"
