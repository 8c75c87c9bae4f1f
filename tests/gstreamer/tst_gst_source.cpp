// The GStreamer source against pipelines of GStreamer's own elements: every shown format
// pixel by pixel from raw files of known bytes, converted formats and a format change within
// a stream, the end of a stream, an error within a run and the start after it, and an RTP
// stream over 127.0.0.1 whose sender is killed.

#include "vexo-gstreamer/GstSource.h"

#include "../runtime/RuntimeTestSupport.h"

#include <QFile>
#include <QProcess>
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

// One frame of a raw file in a format named by GStreamer's letters ("BGRx": blue in byte 0,
// red in byte 2, byte 3 padding), lines padded to 4 bytes as GStreamer lays out raw video;
// appends the samples it must show. Neighbours, channels and frames all differ, and 16-bit
// values have two different bytes and exceed small bits, so that a swapped order, a wrong
// stride, a missing clamp or a frame delivered under another's index shows.
QByteArray rawFrame(const QString& format, int width, int height, int frame, int bits, std::vector<std::uint16_t>* shown)
{
    const int pixelBytes = format == "GRAY8" ? 1 : format == "GRAY16_LE" ? 2 : format.size();
    const int stride = (width * pixelBytes + 3) / 4 * 4;
    QByteArray bytes(stride * height, char(0xee));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            char* p = bytes.data() + y * stride + x * pixelBytes;
            if (pixelBytes == 2) {
                const int word = (x * 1031 + y * 771 + frame * 4099 + 5) & 0xffff;
                p[0] = char(word & 0xff);
                p[1] = char(word >> 8);
                shown->push_back(std::uint16_t(std::min(word, (1 << bits) - 1)));
                continue;
            }
            const int channels = pixelBytes == 1 ? 1 : 3;
            for (int c = 0; c < channels; ++c) {
                const int value = (x * 7 + y * 13 + frame * 31 + c * 85) & 0xff;
                p[channels == 1 ? 0 : format.indexOf("RGB"[c])] = char(value);
                shown->push_back(std::uint16_t(value));
            }
        }
    return bytes;
}

} // namespace

class TestGstSource : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    // Every shown format passes through unconverted, every byte where it belongs; at its
    // end the stream ends the run, or plays again from its first frame.
    void shownFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("loop");
        for (const QString format : {"GRAY8", "GRAY16_LE", "RGB", "BGR", "RGBx", "BGRx", "xRGB", "xBGR"})
            QTest::newRow(qPrintable(format)) << format << (format == "GRAY16_LE" ? 16 : 8) << false;
        QTest::newRow("GRAY16_LE of 10 bits, larger values clamped") << "GRAY16_LE" << 10 << false;
        QTest::newRow("RGB, looped") << "RGB" << 8 << true;
    }

    void shownFormats()
    {
        QFETCH(QString, format);
        QFETCH(int, bits);
        QFETCH(bool, loop);
        const int width = 61, height = 5, frames = 3; // odd: lines are padded
        std::vector<std::vector<std::uint16_t>> sent(frames);
        QFile file(dir.filePath(format + ".raw"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int k = 0; k < frames; ++k)
            QVERIFY(file.write(rawFrame(format, width, height, k, bits, &sent[k])) > 0);
        file.close();
        GstSource::Settings settings =
            settingsOf(QStringLiteral("filesrc location=\"%1\" ! rawvideoparse format=%2 width=%3 height=%4 framerate=25/1")
                           .arg(file.fileName(), format.toLower().replace('_', '-')) // rawvideoparse's name
                           .arg(width)
                           .arg(height));
        settings.bits = bits;
        settings.loop = loop;
        GstSource source(settings);
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(QString::fromStdString(source.formatName()), format);
        QCOMPARE(source.format(), (FrameFormat{width, height, bits, format.startsWith("GRAY")}));
        QVERIFY(source.start());
        // Looped: more frames than the file holds, and no end.
        const Run run = drain(source, loop ? 3 * frames : 1 << 20);
        QCOMPARE(run.end, loop ? FrameSource::Delivery::Frame : FrameSource::Delivery::Ended);
        // Every frame the pipeline made was delivered or counted as lost.
        QVERIFY(loop || run.frames.size() + source.status().framesLost == std::uint64_t(frames));
        QVERIFY(!run.frames.empty() && source.status().connected);
        std::int64_t previous = -1;
        for (const auto& buffer : run.frames) {
            const int k = int(buffer->tag());
            QVERIFY(k > previous);
            previous = k;
            // Frame k of the stream is frame k % frames of the file, its PTS at 25/s in us.
            QCOMPARE(buffer->timestamp(), std::uint64_t(k % frames) * 40000);
            QCOMPARE(samplesOf(*buffer), sent[k % frames]);
        }
    }

    // Five frames of a colour. A format that is not shown is converted to colour; frames that
    // change format within the stream (two streams one after the other) are shown while they
    // fit the scene's buffers, and are refused and counted as lost when they do not.
    void converted_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<unsigned>("colour"); // 0xRRGGBB
        QTest::addColumn<int>("tolerance"); // per 8-bit value: converted chroma rounds
        QTest::addColumn<bool>("refused"); // the second stream's frames
        // As fast as it goes: the first stream's frames may all be dropped from the queue
        // before anyone looks, and the first of them still sets the format.
        const QString twoStreams = "videotestsrc num-buffers=2 pattern=red ! video/x-raw,format=RGB,width=16,height=8 ! c. "
                                   "videotestsrc num-buffers=3 pattern=red ! video/x-raw,%1 ! c. concat name=c";
        QTest::newRow("I420 in colour") << "videotestsrc num-buffers=5 pattern=solid-color foreground-color=0xff336699 ! "
                                           "video/x-raw,format=I420,width=16,height=8"
                                        << 0x336699u << 4 << false;
        QTest::newRow("smaller frames are refused") << twoStreams.arg("format=RGB,width=8,height=8") << 0xff0000u << 0 << true;
        QTest::newRow("another order of the colours is shown")
            << twoStreams.arg("format=BGR,width=16,height=8") << 0xff0000u << 0 << false;
    }

    void converted()
    {
        QFETCH(QString, description);
        QFETCH(unsigned, colour);
        QFETCH(int, tolerance);
        QFETCH(bool, refused);
        GstSource source(settingsOf(description));
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.format(), (FrameFormat{16, 8, 8, false}));
        QVERIFY(source.start());
        const Run run = drain(source);
        QCOMPARE(run.end, FrameSource::Delivery::Ended);
        QCOMPARE(run.frames.size() + source.status().framesLost, std::uint64_t(5));
        // The last two frames stay queued until taken: delivered or refused. The first ones may
        // all have been dropped before the first wait.
        QCOMPARE(!run.frames.empty() && run.frames.back()->tag() >= 3, !refused);
        QVERIFY(!refused || source.status().framesLost >= 3);
        for (const auto& buffer : run.frames) {
            const std::vector<std::uint16_t> samples = samplesOf(*buffer);
            for (std::size_t i = 0; i < samples.size(); ++i)
                QVERIFY2(std::abs(int(samples[i]) - int((colour >> (16 - 8 * (i % 3))) & 0xff)) <= tolerance,
                         qPrintable(QStringLiteral("sample %1: %2").arg(i).arg(samples[i])));
        }
    }

    // Pipelines that fail, in GStreamer's words: when made, they are refused; within a run,
    // the run fails as a source gone, and the next start runs a fresh pipeline.
    void failures_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("made"); // the frames of a run before it fails; 0: refused
        QTest::addColumn<int>("silence"); // ms without a frame that fail a run
        QTest::newRow("no such element") << "nosuchelement" << "nosuchelement" << 0 << 0;
        QTest::newRow("not a description") << "videotestsrc ! ! !" << "syntax" << 0 << 0;
        QTest::newRow("audio") << "audiotestsrc" << "could not link" << 0 << 0;
        QTest::newRow("no frame at all") << "videotestsrc num-buffers=0" << "ended before its first frame" << 0 << 0;
        QTest::newRow("error at the first frame") << "videotestsrc ! identity error-after=1" << "identity" << 0 << 0;
        // Nobody sends to the port it binds: refused when the probe gives up.
        QTest::newRow("silent network source") << "udpsrc port=0 caps=video/x-raw,format=GRAY8,width=16,height=8"
                                               << "no frame within 1000 ms" << 0 << 0;
        QTest::newRow("missing file") << QString::fromStdString(GstSource::mediaPipeline("/nonexistent/clip two.avi"))
                                      << "Resource not found" << 0 << 0;
        // Live, so that a run ended at once by an error left over from the last is seen.
        QTest::newRow("error within a run") << "videotestsrc is-live=true ! video/x-raw,format=GRAY8,width=16,height=8,"
                                               "framerate=30/1 ! identity error-after=4"
                                            << "identity" << 3 << 0;
        // One frame, then none for ten seconds.
        QTest::newRow("silence within a run")
            << "videotestsrc is-live=true ! video/x-raw,format=GRAY8,width=16,height=8,framerate=1/10" << "no frame for 2000 ms"
            << 1 << 2000;
    }

    void failures()
    {
        QFETCH(QString, description);
        QFETCH(QString, words);
        QFETCH(int, made);
        QFETCH(int, silence);
        GstSource::Settings settings = settingsOf(description);
        settings.silenceMilliseconds = silence;
        if (words.startsWith("no frame within"))
            settings.probeMilliseconds = 1000;
        GstSource source(settings);
        QCOMPARE(source.isUsable(), made > 0);
        QVERIFY2(made > 0 || contains(source.lastError(), words), source.lastError().c_str());
        QVERIFY(made > 0 || (!source.status().connected && !source.start()));
        for (int run = 0; made > 0 && run < 2; ++run) {
            const std::uint64_t lostBefore = source.status().framesLost;
            QVERIFY2(source.start(), source.problem().c_str());
            QVERIFY(source.status().connected && source.problem().empty());
            const Run ran = drain(source);
            QCOMPARE(ran.end, FrameSource::Delivery::Failed);
            // The frames before the error are delivered first, with indices from 0 again.
            QVERIFY(!ran.frames.empty() && ran.frames.back()->tag() < std::uint32_t(made));
            QCOMPARE(ran.frames.size() + source.status().framesLost - lostBefore, std::uint64_t(made));
            QVERIFY(!source.status().connected && !source.status().clock);
            // Waiting again says the same until the next start.
            QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Failed);
            source.stop();
        }
        QVERIFY2(contains(source.problem(), words), source.problem().c_str());
    }

    // A network stream whose sender is killed: the waiting source waits until it is cancelled
    // from another thread, and never hangs.
    void rtpSenderKilled()
    {
        QUdpSocket socket; // the port is free when looked at; the sender takes it right after
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const quint16 port = socket.localPort();
        socket.close();
        QProcess sender;
        sender.start(QStringLiteral("gst-launch-1.0"),
                     {"-q", "videotestsrc", "is-live=true", "!", "video/x-raw,format=RGB,width=32,height=16,framerate=30/1",
                      "!", "rtpvrawpay", "!", "udpsink", "host=127.0.0.1", QStringLiteral("port=%1").arg(port)});
        QVERIFY(sender.waitForStarted(patience));
        GstSource::Settings settings = settingsOf(
            QStringLiteral("udpsrc address=127.0.0.1 port=%1 caps=\"application/x-rtp,media=video,clock-rate=90000,"
                           "encoding-name=RAW,sampling=RGB,depth=(string)8,width=(string)32,height=(string)16,"
                           "payload=96\" ! rtpvrawdepay")
                .arg(port));
        settings.sync = true;
        GstSource source(settings);
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.format(), (FrameFormat{32, 16, 8, false}));
        QVERIFY(source.start());
        QCOMPARE(drain(source, 3).frames.size(), std::size_t(3));
        QCOMPARE(::kill(pid_t(sender.processId()), SIGKILL), 0);
        QVERIFY(sender.waitForFinished(patience));
        std::atomic<int> end{-1};
        std::thread waiter([&] { end = int(drain(source).end); });
        // Quiet: the waiter is in its wait when the cancel comes.
        QTRY_VERIFY_WITH_TIMEOUT(!source.status().clock, patience);
        source.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(end.load() != -1, patience);
        waiter.join();
        QCOMPARE(end.load(), int(FrameSource::Delivery::Cancelled));
        source.stop();
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Cancelled);
    }
};

QTEST_GUILESS_MAIN(TestGstSource)
#include "tst_gst_source.moc"
