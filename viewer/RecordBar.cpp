#include "RecordBar.h"

#include "ViewerLog.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/SceneRecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

#include <cstdio>

using vexo::core::DisplayScene;
using vexo::core::SceneRecorder;

namespace {

QString frames(std::uint64_t n)
{
    return n == 1 ? QStringLiteral("1 frame") : QStringLiteral("%1 frames").arg(n);
}

} // namespace

RecordBar::~RecordBar() = default;

RecordBar::RecordBar(vexo::core::Qt4DisplaySceneVisualizer* window, const boost::weak_ptr<DisplayScene>& scene,
                     const Settings& settings)
    : QToolBar(QStringLiteral("Recording"), window)
    , scene(scene)
    , settings(settings)
    , button(new QToolButton(this))
    , count(new QLabel(QStringLiteral("not recording"), this))
    , log(new ViewerLog("vexo.viewer.Recording"))
{
    setObjectName(QStringLiteral("recordToolBar"));
    button->setObjectName(QStringLiteral("recordButton"));
    button->setText(QStringLiteral("Record"));
    button->setToolTip(QStringLiteral("Record every frame to disk"));
    button->setCheckable(true);
    count->setObjectName(QStringLiteral("recordCountLabel"));
    addWidget(button);
    addWidget(count);
    window->addToolBar(Qt::TopToolBarArea, this);
    connect(button, &QToolButton::toggled, this, &RecordBar::buttonToggled);
    connect(&poll, &QTimer::timeout, this, &RecordBar::refresh);
}

void RecordBar::buttonToggled(bool down)
{
    if (down)
        startRecording();
    else
        stopRecording();
}

bool RecordBar::startRecording()
{
    const auto s = scene.lock();
    if (!s || active)
        return active;
    if (settings.folder.isEmpty())
        settings.folder = QFileDialog::getExistingDirectory(parentWidget(), QStringLiteral("Record Into Folder"));
    const QSignalBlocker quiet(button);
    if (settings.folder.isEmpty()) {
        button->setChecked(false);
        return false;
    }
    SceneRecorder::Settings wanted;
    wanted.bigTiff = settings.bigTiff;
    wanted.frameLimit = settings.frameLimit;
    // A folder that holds a recording keeps it: the next one goes beside it, inside.
    target = settings.folder;
    wanted.folder = target.toStdString();
    if (QFileInfo::exists(QString::fromStdString(SceneRecorder::firstFile(wanted)))) {
        target = QDir(settings.folder).filePath(QDateTime::currentDateTime().toString("'run-'yyyyMMdd-HHmmss-zzz"));
        wanted.folder = target.toStdString();
    }
    std::string why;
    if (!s->startRecording(wanted, &why)) {
        button->setChecked(false);
        count->setText(QStringLiteral("cannot record: %1").arg(QString::fromStdString(why)));
        tell(5, "cannot record into " + wanted.folder + ": " + why);
        return false;
    }
    active = true;
    toldNotWritten = 0;
    button->setChecked(true);
    tell(2, "recording into " + wanted.folder);
    refresh();
    poll.start(250);
    return true;
}

void RecordBar::stopRecording()
{
    if (const auto s = scene.lock())
        s->recorder().stop();
    refresh();
}

QString RecordBar::summary() const
{
    const auto s = scene.lock();
    if (!s)
        return QString();
    const SceneRecorder::Status status = s->recorder().status();
    const double megabytes = double(status.bytes) / 1e6;
    return QStringLiteral("recorded %1 frames to %2: %3 written, %4 not written, %5 MB/s")
        .arg(status.recorded + status.notWritten)
        .arg(QString::fromStdString(status.path))
        .arg(status.recorded)
        .arg(status.notWritten)
        .arg(status.seconds > 0 ? megabytes / status.seconds : 0.0, 0, 'f', 1);
}

void RecordBar::refresh()
{
    const auto s = scene.lock();
    if (!s)
        return;
    const SceneRecorder::Status status = s->recorder().status();
    if (status.notWritten > toldNotWritten) {
        tell(4,
             "recording into " + status.path + ": " + std::to_string(status.notWritten - toldNotWritten)
                 + " more frames not written (" + std::to_string(status.notWritten) + " in all)");
        toldNotWritten = status.notWritten;
    }
    QString text =
        (status.recording ? QStringLiteral("recording: ") : QStringLiteral("recorded ")) + frames(status.recorded);
    if (status.notWritten > 0)
        text += QStringLiteral(", %1 not written").arg(status.notWritten);
    if (!status.error.empty())
        text += QStringLiteral("; stopped: %1").arg(QString::fromStdString(status.error));
    count->setText(text);
    if (active && !status.recording && !status.writing) {
        active = false;
        poll.stop();
        if (!status.error.empty())
            tell(5, "recording into " + status.path + " stopped: " + status.error);
        const QSignalBlocker quiet(button);
        button->setChecked(false);
        emit recordingEnded();
    }
}

void RecordBar::tell(int level, const std::string& message)
{
    // Warnings and errors reach the console once: through the log when it takes them.
    if (!log->log(static_cast<std::uint32_t>(level), message) && level >= 4)
        std::fprintf(stderr, "%s\n", message.c_str());
}
