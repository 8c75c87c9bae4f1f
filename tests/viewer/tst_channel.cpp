// One channel of the viewer in process: the grab press against the source's presence and
// the source detection entry, a start the source refuses, and the overflow counts.

#include "../display/DisplayTestSupport.h"

#include "Channel.h"
#include "ViewerOptions.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

using namespace vexo::core;

namespace {

// A source that can be told to refuse its next starts, as a camera that is gone does.
class RefusingSource : public ManualFrameSource
{
public:
    using ManualFrameSource::ManualFrameSource;
    bool start() override { return !refuse.load() && ManualFrameSource::start(); }
    std::string problem() const override { return "the camera was unplugged"; }
    std::atomic<bool> refuse{false};
};

// A channel of four buffers over a 32 x 16 source that says whether it is connected.
std::unique_ptr<Channel> shownChannel(bool connected, RefusingSource** source)
{
    *source = new RefusingSource(FrameFormat{32, 16, 8, true});
    FrameSource::Status status;
    status.connected = connected;
    (*source)->setStatus(status);
    ViewerOptions options;
    options.bufferCount = 4;
    std::unique_ptr<Channel> channel(new Channel(options, std::unique_ptr<FrameSource>(*source), 0, 0));
    channel->window()->show();
    return channel;
}

} // namespace

class TestChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", QFile::encodeName(config.filePath("config.ini"))); }
    void grabAgainstSourcePresence_data();
    void grabAgainstSourcePresence();
    void refusedStartIsToldAndKeepsFrames();

private:
    QTemporaryDir config;
};

void TestChannel::grabAgainstSourcePresence_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("detectionDisabled");
    QTest::addColumn<bool>("warned");
    QTest::newRow("source present") << true << false << false;
    QTest::newRow("no source") << false << false << true;
    QTest::newRow("no source, detection disabled") << false << true << false;
    QTest::newRow("source present, detection disabled") << true << true << false;
}

void TestChannel::grabAgainstSourcePresence()
{
    QFETCH(bool, connected);
    QFETCH(bool, detectionDisabled);
    QFETCH(bool, warned);
    RefusingSource* source = nullptr;
    const std::unique_ptr<Channel> made = shownChannel(connected, &source);
    Channel& channel = *made;
    Qt4DisplaySceneVisualizer* window = channel.window();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    // The entry the warning names, in the host's menu; it is remembered in the configuration.
    QAction* entry = nullptr;
    for (QAction* menu : window->menuBar()->actions())
        if (menu->text() == QLatin1String("Synchronization"))
            entry = menu->menu()->actions().value(0);
    QVERIFY(entry);
    QCOMPARE(entry->text(), QStringLiteral("Disable Source Detection"));
    entry->setChecked(detectionDisabled);

    DialogAnswerer answerer;
    answerer.buttons << QMessageBox::Ok;
    auto* grab = window->findChild<QPushButton*>("grabInfiniteButton");
    QVERIFY(grab->isEnabled());
    QTest::mouseClick(grab, Qt::LeftButton);
    if (warned) {
        QTRY_COMPARE(answerer.transcript.size(), 1);
        QVERIFY2(answerer.transcript.first().startsWith("warning \"No source detected.\""),
                 qPrintable(answerer.transcript.first()));
        QVERIFY(!channel.scene()->isGrabbing());
        return;
    }
    QTRY_VERIFY(channel.scene()->isGrabbing());
    QCOMPARE(answerer.transcript, QStringList());
    // The host keeps the buttons: only stop is on while grabbing, and the grab buttons come
    // back after the stop.
    QTRY_VERIFY(window->findChild<QPushButton*>("stopButton")->isEnabled());
    QVERIFY(!grab->isEnabled());
    QTest::mouseClick(window->findChild<QPushButton*>("stopButton"), Qt::LeftButton);
    QTRY_VERIFY(grab->isEnabled());
    QVERIFY(!channel.scene()->isGrabbing());
}

void TestChannel::refusedStartIsToldAndKeepsFrames()
{
    RefusingSource* source = nullptr;
    const std::unique_ptr<Channel> made = shownChannel(true, &source);
    Channel& channel = *made;
    Qt4DisplaySceneVisualizer* window = channel.window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* single = window->findChild<QPushButton*>("grabSingleButton");
    source->pushFrame([](FrameBuffer&) {});
    QTest::mouseClick(single, Qt::LeftButton);
    auto* slider = window->findChild<QSlider*>("frameBufferSlider");
    QTRY_COMPARE(slider->maximum(), 1);
    QTRY_VERIFY(single->isEnabled());

    source->refuse = true;
    QTest::mouseClick(single, Qt::LeftButton);
    QTRY_VERIFY(window->statusBar()->currentMessage().contains("cannot grab: the camera was unplugged"));
    QVERIFY(!channel.scene()->isGrabbing());
    QCOMPARE(slider->maximum(), 1);
    QVERIFY(window->findChild<QPushButton*>("saveFrameButton")->isEnabled());
    QCOMPARE(channel.scene()->frameBufferGroup()->frameCounter(), std::int64_t(1));
    QVERIFY(single->isEnabled());
}

QTEST_MAIN(TestChannel)
#include "tst_channel.moc"
