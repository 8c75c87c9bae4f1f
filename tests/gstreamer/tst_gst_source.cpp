// The GStreamer source against pipelines of GStreamer's own elements: every shown format
// pixel by pixel from raw files of known bytes, test patterns of known colours, converted
// formats, the end of a stream, an error within a run and the start after it, and an RTP
// stream over 127.0.0.1 whose sender is killed.

#include "vexo-gstreamer/GstSource.h"

#include "../runtime/RuntimeTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <signal.h>
#include <thread>

using namespace vexo::core;

#ifdef __SANITIZE_ADDRESS__
// GLib's deliberate leak (tests/lsan.supp) is matched by its caller, which only the full
// unwinder finds through GLib's frames without frame pointers.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
#endif

namespace {

constexpr int patience = 20000; // ms: an upper bound for a loaded machine, not a duration

const QStringList shown = {"GRAY8", "GRAY16_LE", "RGB", "BGR", "RGBx", "BGRx", "xRGB", "xBGR"};

GstSource::Settings settingsOf(const QString& description)
{
    GstSource::Settings settings;
    settings.pipeline = description.toStdString();
    settings.sync = false;
    settings.probeMilliseconds = patience;
    return settings;
}

// What a run delivered, frame by frame, into buffers of the source's format, and how it ended.
struct Run
{
    std::vector<std::unique_ptr<FrameBuffer>> frames;
    FrameSource::Delivery end = FrameSource::Delivery::Frame;
};

Run drain(GstSource& source, int most = 1 << 20)
{
    Run run;
    const FrameFormat f = source.format();
    while (int(run.frames.size()) < most) {
        run.end = source.waitForFrame();
        if (run.end != FrameSource::Delivery::Frame)
            break;
        auto buffer = std::make_unique<FrameBuffer>(f.width, f.height, f.bitsPerPixel, f.gray);
        run.end = source.deliverFrame(buffer.get(), {});
        if (run.end != FrameSource::Delivery::Frame)
            break;
        run.frames.push_back(std::move(buffer));
    }
    return run;
}

bool contains(const std::string& text, const QString& words)
{
    return text.find(words.toStdString()) != std::string::npos;
}

// Bytes of the raw files: neighbours, channels and frames all differ, and 16-bit values
// have two different bytes, so that a swapped order, a wrong stride or a frame delivered
// under another's index shows.
int rawByte(int x, int y, int frame, int channel)
{
    return (x * 7 + y * 13 + frame * 31 + channel * 85) & 0xff;
}
int rawWord(int x, int y, int frame)
{
    return (x * 1031 + y * 771 + frame * 4099 + 5) & 0xffff;
}

// A pixel of a format named by GStreamer's letters ("BGRx": blue in byte 0, red in byte
// 2, byte 3 padding), lines padded to 4 bytes as GStreamer lays out raw video.
QByteArray rawFrame(const QString& format, int width, int height, int frame)
{
    const int pixelBytes = format == "GRAY8" ? 1 : format == "GRAY16_LE" ? 2 : format.size();
    const int stride = (width * pixelBytes + 3) / 4 * 4;
    QByteArray bytes(stride * height, char(0xee));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            char* p = bytes.data() + y * stride + x * pixelBytes;
            if (format == "GRAY8") {
                p[0] = char(rawByte(x, y, frame, 0));
            } else if (format == "GRAY16_LE") {
                p[0] = char(rawWord(x, y, frame) & 0xff);
                p[1] = char(rawWord(x, y, frame) >> 8);
            } else {
                for (int c = 0; c < 3; ++c)
                    p[format.indexOf("RGB"[c])] = char(rawByte(x, y, frame, c));
            }
        }
    return bytes;
}

// Studio-range luma of BT.601, as GStreamer paints a colour into a gray format.
double lumaOf(unsigned rgb)
{
    const int r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
    return 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
}

// The port is free when looked at; the sender takes it right after.
quint16 freePort()
{
    QUdpSocket socket;
    return socket.bind(QHostAddress(QHostAddress::LocalHost), quint16(0)) ? socket.localPort() : 0;
}

// Raw RGB over RTP from 127.0.0.1, as the sender of the network rows sends it.
QString rtpReceiver(quint16 port, int width, int height)
{
    return QStringLiteral("udpsrc address=127.0.0.1 port=%1 caps=\"application/x-rtp,media=video,clock-rate=90000,"
                          "encoding-name=RAW,sampling=RGB,depth=(string)8,width=(string)%2,height=(string)%3,"
                          "payload=96\" ! rtpvrawdepay")
        .arg(port)
        .arg(width)
        .arg(height);
}

} // namespace

class TestGstSource : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString clip; // five frames of a media file

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        clip = dir.filePath("clip five.avi"); // a space: the description must quote the file
        QProcess encoder;
        encoder.start(QStringLiteral("gst-launch-1.0"),
                      {"-q", "videotestsrc", "num-buffers=5", "pattern=red", "!",
                       "video/x-raw,width=32,height=24,framerate=25/1", "!", "jpegenc", "!", "avimux", "!",
                       "filesink", "location=" + clip});
        QVERIFY(encoder.waitForFinished(patience));
        QCOMPARE(encoder.exitCode(), 0);
    }

    // Every shown format passes through unconverted, every byte where it belongs.
    void shownFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("nick"); // rawvideoparse's name of it
        QTest::addColumn<int>("bits");
        const char* formats[][2] = {{"GRAY8", "gray8"}, {"GRAY16_LE", "gray16-le"}, {"RGB", "rgb"}, {"BGR", "bgr"},
                                    {"RGBx", "rgbx"},   {"BGRx", "bgrx"},           {"xRGB", "xrgb"}, {"xBGR", "xbgr"}};
        for (const auto& f : formats)
            QTest::newRow(f[0]) << f[0] << f[1] << (QString(f[0]) == "GRAY8" || QString(f[0]).size() < 5 ? 8 : 16);
        QTest::newRow("GRAY16_LE of 10 bits, larger values clamped") << "GRAY16_LE" << "gray16-le" << 10;
    }

    void shownFormats()
    {
        QFETCH(QString, format);
        QFETCH(QString, nick);
        QFETCH(int, bits);
        const bool gray = format.startsWith("GRAY");
        const int width = 61, height = 5, frames = 3; // odd: lines are padded
        QFile file(dir.filePath(format + ".raw"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        int frameBytes = 0;
        for (int k = 0; k < frames; ++k) {
            const QByteArray bytes = rawFrame(format, width, height, k);
            frameBytes = bytes.size();
            QCOMPARE(file.write(bytes), qint64(bytes.size()));
        }
        file.close();
        GstSource::Settings settings =
            settingsOf(QStringLiteral("filesrc location=\"%1\" ! rawvideoparse format=%2 width=%3 height=%4 framerate=25/1")
                           .arg(file.fileName(), nick)
                           .arg(width)
                           .arg(height));
        settings.bits = bits;
        GstSource source(settings);
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(QString::fromStdString(source.formatName()), format);
        QCOMPARE(source.format(), (FrameFormat{width, height, bits, gray}));
        QVERIFY(source.start());
        const Run run = drain(source);
        QCOMPARE(run.end, FrameSource::Delivery::Ended);
        // Every frame the pipeline made was delivered or counted as lost.
        QCOMPARE(run.frames.size() + source.status().framesLost, std::uint64_t(frames));
        QVERIFY(!run.frames.empty() && !source.status().clock);
        std::int64_t previous = -1;
        for (const auto& buffer : run.frames) {
            const int k = int(buffer->tag());
            QVERIFY(k > previous && k < frames);
            previous = k;
            QCOMPARE(buffer->timestamp(), std::uint64_t(k) * 40000); // the frame's PTS at 25/s, in us
            QCOMPARE(buffer->transferLength(), std::uint64_t(frameBytes));
            int lastX = -1, lastY = -1;
            buffer->lastValidPixel(&lastX, &lastY);
            QCOMPARE(QPoint(lastX, lastY), QPoint(width - 1, height - 1));
            std::vector<std::uint16_t> sent;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    if (format == "GRAY8")
                        sent.push_back(std::uint16_t(rawByte(x, y, k, 0)));
                    else if (gray)
                        sent.push_back(std::uint16_t(std::min(rawWord(x, y, k), (1 << bits) - 1)));
                    else
                        for (int c = 0; c < 3; ++c)
                            sent.push_back(std::uint16_t(rawByte(x, y, k, c)));
                }
            QCOMPARE(samplesOf(*buffer), sent);
        }
    }

    // GStreamer's test patterns in known colours, shown and converted formats.
    void testPatterns_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<unsigned>("colour"); // 0xRRGGBB; of even pixels of a checker board
        QTest::addColumn<unsigned>("other"); // of odd pixels, where x + y is odd
        QTest::addColumn<int>("tolerance"); // per 8-bit value
        struct Pattern
        {
            const char* name;
            const char* args;
            unsigned colour, other;
        };
        const Pattern patterns[] = {{"white", "pattern=white", 0xffffff, 0xffffff},
                                    {"black", "pattern=black", 0x000000, 0x000000},
                                    {"red", "pattern=red", 0xff0000, 0xff0000},
                                    {"solid", "pattern=solid-color foreground-color=0xff336699", 0x336699, 0x336699},
                                    // one-pixel checkers of red and green
                                    {"checkers", "pattern=checkers-1", 0xff0000, 0x00ff00}};
        for (const QString& format : shown)
            for (const Pattern& p : patterns)
                QTest::newRow(qPrintable(format + " " + p.name))
                    << format << p.args << p.colour << p.other << (format.startsWith("GRAY") ? 1 : 0);
        // Converted to colour; chroma rounds, and is shared by pixel pairs, so no checkers.
        for (const char* format : {"I420", "NV12", "YUY2"})
            for (const Pattern& p : patterns)
                if (p.colour == p.other)
                    QTest::newRow(QByteArray(format) + " " + p.name) << format << p.args << p.colour << p.other << 4;
    }

    void testPatterns()
    {
        QFETCH(QString, format);
        QFETCH(QString, pattern);
        QFETCH(unsigned, colour);
        QFETCH(unsigned, other);
        QFETCH(int, tolerance);
        const int width = 22, height = 6;
        GstSource source(settingsOf(QStringLiteral("videotestsrc num-buffers=2 %1 ! video/x-raw,format=%2,width=%3,height=%4")
                                        .arg(pattern, format)
                                        .arg(width)
                                        .arg(height)));
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        const bool gray = format.startsWith("GRAY");
        // A shown format unchanged; any other becomes colour, never gray.
        QCOMPARE(source.format().gray, gray);
        QVERIFY(gray || source.format().bitsPerPixel == 8);
        QCOMPARE(QString::fromStdString(source.formatName()) == format, shown.contains(format));
        QVERIFY(source.start());
        const Run run = drain(source);
        QCOMPARE(run.end, FrameSource::Delivery::Ended);
        QVERIFY(!run.frames.empty());
        const int scale = format == "GRAY16_LE" ? 257 : 1;
        for (const auto& buffer : run.frames)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const unsigned rgb = (x + y) % 2 ? other : colour;
                    std::uint64_t v[3] = {};
                    if (gray) {
                        QVERIFY(buffer->getPixelValueGray(x, y, &v[0]));
                        const double expected = lumaOf(rgb) * scale;
                        QVERIFY2(std::abs(double(v[0]) - expected) <= (tolerance + 0.5) * scale,
                                 qPrintable(QStringLiteral("(%1, %2): %3, not %4").arg(x).arg(y).arg(v[0]).arg(expected)));
                        continue;
                    }
                    QVERIFY(buffer->getPixelValueColor(x, y, &v[0], &v[1], &v[2]));
                    for (int c = 0; c < 3; ++c) {
                        const int expected = int(rgb >> (16 - 8 * c)) & 0xff;
                        QVERIFY2(std::abs(int(v[c]) - expected) <= tolerance,
                                 qPrintable(QStringLiteral("(%1, %2) channel %3: %4, not %5")
                                                .arg(x)
                                                .arg(y)
                                                .arg(c)
                                                .arg(v[c])
                                                .arg(expected)));
                    }
                }
    }

    // The end of a stream ends the scene's acquisition, or plays the stream again.
    void endOfStream_data()
    {
        QTest::addColumn<QString>("description"); // "clip": the media file
        QTest::addColumn<bool>("loop");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("frames"); // the stream's
        const QString three = "videotestsrc num-buffers=3 ! video/x-raw,format=GRAY8,width=16,height=8";
        QTest::newRow("sequence longer than the stream") << three << false << 0 << 3;
        QTest::newRow("infinite") << three << false << -1 << 3;
        QTest::newRow("media file") << "clip" << false << -1 << 5;
        QTest::newRow("media file, looped") << "clip" << true << -1 << 5;
    }

    void endOfStream()
    {
        QFETCH(QString, description);
        QFETCH(bool, loop);
        QFETCH(int, mode);
        QFETCH(int, frames);
        GstSource::Settings settings =
            settingsOf(description == "clip" ? QString::fromStdString(GstSource::mediaPipeline(clip.toStdString()))
                                             : description);
        settings.loop = loop;
        auto owned = std::make_unique<GstSource>(settings);
        QVERIFY2(owned->isUsable(), owned->lastError().c_str());
        SceneRig rig(DisplayScene::create(std::move(owned), 8));
        auto& scene = rig.scene;
        const auto made = [&scene] {
            return scene->statistics().framesAcquired + scene->statistics().framesDropped
                + scene->source().status().framesLost;
        };
        scene->startGrabbing(mode);
        if (loop) {
            // Played again and again: more frames than the file holds, and no end.
            QTRY_VERIFY_WITH_TIMEOUT(made() > std::uint64_t(2 * frames), patience);
            QVERIFY(scene->isGrabbing());
            scene->stopGrabbing();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
        if (!loop)
            QCOMPARE(made(), std::uint64_t(frames));
        QVERIFY(scene->statistics().framesAcquired > 0);
        QVERIFY(scene->source().status().connected && !scene->source().status().clock);
        QCOMPARE(rig.visualizer.count("stopped"), 1);
        // The stored frames are the clip's red, through JPEG's loss (about 237, 14, 13).
        const auto group = scene->frameBufferGroup();
        const auto newest = group->buffer(group->frameCounter() - 1);
        QVERIFY(newest);
        std::uint64_t r = 0, g = 0, b = 0;
        QVERIFY(newest->isGray() || (newest->getPixelValueColor(5, 5, &r, &g, &b) && r > 200 && g < 40 && b < 40));
    }

    // Pipelines that cannot be shown are refused with GStreamer's words.
    void refused_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("probe"); // ms the constructor waits for a first frame
        QTest::newRow("no such element") << "nosuchelement" << "nosuchelement" << patience;
        QTest::newRow("not a description") << "videotestsrc ! ! !" << "syntax" << patience;
        QTest::newRow("audio") << "audiotestsrc" << "could not link" << patience;
        QTest::newRow("compressed without a decoder") << "videotestsrc ! jpegenc" << "could not link" << patience;
        QTest::newRow("no frame at all") << "videotestsrc num-buffers=0" << "ended before its first frame" << patience;
        QTest::newRow("error at the first frame") << "videotestsrc ! identity error-after=1" << "identity" << patience;
        QTest::newRow("missing file") << QString::fromStdString(GstSource::mediaPipeline("/nonexistent/clip.avi"))
                                      << "Resource not found" << patience;
        QTest::newRow("missing device") << QString::fromStdString(GstSource::v4l2Pipeline("/dev/video-none"))
                                        << "/dev/video-none" << patience;
        // Nobody sends: the probe gives up rather than waiting for ever.
        QTest::newRow("silent network source")
            << rtpReceiver(freePort(), 8, 8) << "no frame within 300 ms" << 300;
    }

    void refused()
    {
        QFETCH(QString, description);
        QFETCH(QString, words);
        QFETCH(int, probe);
        GstSource::Settings settings = settingsOf(description);
        settings.probeMilliseconds = probe;
        GstSource source(settings);
        QVERIFY(!source.isUsable());
        QVERIFY2(contains(source.lastError(), words), source.lastError().c_str());
        QVERIFY(!source.status().connected);
        QVERIFY(!source.setFormat(FrameFormat{16, 8, 8, true}));
        QVERIFY(!source.start());
        QVERIFY2(contains(source.problem(), words), source.problem().c_str());
    }

    // An error ends the run as a source gone; the next start runs a fresh pipeline.
    void errorInRun_data()
    {
        QTest::addColumn<int>("errorAfter"); // identity fails at that buffer
        QTest::addColumn<int>("runs");
        QTest::newRow("after 2 frames, twice") << 2 << 2;
        QTest::newRow("after 6 frames, three times") << 6 << 3;
    }

    void errorInRun()
    {
        QFETCH(int, errorAfter);
        QFETCH(int, runs);
        GstSource source(settingsOf(
            QStringLiteral("videotestsrc ! video/x-raw,format=GRAY8,width=16,height=8 ! identity error-after=%1").arg(errorAfter)));
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        for (int i = 0; i < runs; ++i) {
            const std::uint64_t lostBefore = source.status().framesLost;
            QVERIFY2(source.start(), source.problem().c_str());
            QVERIFY(source.status().connected && source.problem().empty());
            const Run run = drain(source);
            QCOMPARE(run.end, FrameSource::Delivery::Failed);
            // The frames before the error are delivered first, with indices from 0 again.
            QVERIFY(!run.frames.empty());
            QVERIFY(run.frames.back()->tag() < std::uint32_t(errorAfter));
            QVERIFY(run.frames.size() + source.status().framesLost - lostBefore < std::uint64_t(errorAfter));
            QVERIFY2(contains(source.problem(), "identity"), source.problem().c_str());
            QVERIFY(!source.status().connected && !source.status().clock);
            // Waiting again says the same until the next start.
            QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Failed);
            source.stop();
        }
    }

    // A pipeline whose frames change format mid-stream (two streams one after the other).
    void formatChange_data()
    {
        QTest::addColumn<QString>("second"); // the caps of the three frames after the first two
        QTest::addColumn<bool>("shown"); // they fit the scene's buffers
        QTest::newRow("smaller frames are refused") << "format=RGB,width=8,height=8" << false;
        QTest::newRow("another order of the colours is shown") << "format=BGR,width=16,height=8" << true;
    }

    void formatChange()
    {
        QFETCH(QString, second);
        QFETCH(bool, shown);
        GstSource source(settingsOf(QStringLiteral("videotestsrc num-buffers=2 pattern=red ! video/x-raw,format=RGB,width=16,"
                                                   "height=8 ! c. videotestsrc num-buffers=3 pattern=red ! video/x-raw,%1 ! "
                                                   "c. concat name=c")
                                        .arg(second)));
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.format(), (FrameFormat{16, 8, 8, false}));
        QVERIFY(source.start());
        const Run run = drain(source);
        QCOMPARE(run.end, FrameSource::Delivery::Ended);
        QCOMPARE(run.frames.size() + source.status().framesLost, std::uint64_t(5));
        // The last two frames stay queued until taken: of the second stream, delivered or
        // refused. The first stream's may all have been dropped before the first wait.
        QCOMPARE(!run.frames.empty() && run.frames.back()->tag() >= 3, shown);
        QVERIFY(shown || source.status().framesLost >= 3);
        QCOMPARE(contains(source.lastError(), "was refused"), !shown);
        std::vector<std::uint16_t> red;
        for (int i = 0; i < 16 * 8; ++i)
            red.insert(red.end(), {255, 0, 0});
        for (const auto& buffer : run.frames)
            QCOMPARE(samplesOf(*buffer), red);
    }

    // A network stream whose sender is killed: the source fails, or waits until cancelled
    // or stopped, and never hangs.
    void rtpSenderKilled_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("silence limit") << "silence";
        QTest::newRow("cancel from another thread") << "cancel";
        QTest::newRow("the scene stops") << "scene";
    }

    void rtpSenderKilled()
    {
        QFETCH(QString, ending);
        const quint16 port = freePort();
        QVERIFY(port != 0);
        const QString size = "width=32,height=16";
        QProcess sender;
        sender.start(QStringLiteral("gst-launch-1.0"),
                     {"-q", "videotestsrc", "is-live=true", "pattern=red", "!",
                      "video/x-raw,format=RGB," + size + ",framerate=30/1", "!", "rtpvrawpay", "!", "udpsink",
                      "host=127.0.0.1", QStringLiteral("port=%1").arg(port)});
        QVERIFY(sender.waitForStarted(patience));
        GstSource::Settings settings = settingsOf(rtpReceiver(port, 32, 16));
        settings.sync = true;
        if (ending == "silence")
            settings.silenceMilliseconds = 1000;
        auto owned = std::make_unique<GstSource>(settings);
        GstSource& source = *owned;
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.format(), (FrameFormat{32, 16, 8, false}));
        const auto killSender = [&sender] {
            QVERIFY(::kill(pid_t(sender.processId()), SIGKILL) == 0);
            QVERIFY(sender.waitForFinished(patience));
        };
        if (ending == "scene") {
            SceneRig rig(DisplayScene::create(std::move(owned), 4));
            auto& scene = rig.scene;
            scene->startGrabbing(-1);
            QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 3, patience);
            killSender();
            // Quiet: the acquisition thread is in its wait when the stop comes.
            QTRY_VERIFY_WITH_TIMEOUT(!scene->source().status().clock, patience);
            QVERIFY(scene->isGrabbing());
            std::atomic<bool> stopped{false};
            std::thread stopper([&] {
                scene->stopGrabbing();
                stopped = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(stopped.load(), patience);
            stopper.join();
            QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
            const auto group = scene->frameBufferGroup();
            const auto newest = group->buffer(group->frameCounter() - 1);
            std::uint64_t r = 0, g = 0, b = 0;
            QVERIFY(newest && newest->getPixelValueColor(31, 15, &r, &g, &b));
            QCOMPARE(QVector<std::uint64_t>({r, g, b}), QVector<std::uint64_t>({255, 0, 0}));
            return;
        }
        QVERIFY(source.start());
        const Run before = drain(source, 3);
        QCOMPARE(before.frames.size(), std::size_t(3));
        std::vector<std::uint16_t> red;
        for (int i = 0; i < 32 * 16; ++i)
            red.insert(red.end(), {255, 0, 0});
        QCOMPARE(samplesOf(*before.frames.back()), red);
        killSender();
        if (ending == "silence") {
            const Run after = drain(source);
            QCOMPARE(after.end, FrameSource::Delivery::Failed);
            QVERIFY2(contains(source.problem(), "no frame"), source.problem().c_str());
        } else {
            std::atomic<bool> done{false};
            std::atomic<int> end{-1};
            std::thread waiter([&] {
                end = int(drain(source).end);
                done = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(!source.status().clock, patience);
            source.cancel();
            QTRY_VERIFY_WITH_TIMEOUT(done.load(), patience);
            waiter.join();
            QCOMPARE(end.load(), int(FrameSource::Delivery::Cancelled));
        }
        source.stop();
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Cancelled);
    }
};

QTEST_GUILESS_MAIN(TestGstSource)
#include "tst_gst_source.moc"
