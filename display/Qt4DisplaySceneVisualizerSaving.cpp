// Saving the frame on screen, or its whole buffer group, as TIFF files (GUI thread).
//
// The writes run with the group read-locked, which keeps the acquisition from reusing a
// buffer under them; try_readlock() does not wait, so a busy group makes the save a
// no-op instead of stalling the window.

// First: the group has a member named like Qt's "slots" keyword macro.
#include "vexo-lib-display/FrameBufferGroup.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/TiffFileNames.h"
#include "frame/Logger.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdint>
#include <string>

namespace vexo {
namespace core {

namespace {

const char* const storagePathKey = "gui.mainwindow.file.last_storage_path";

// The buffer on screen and its group, or nothing when there is nothing to save.
bool bufferToSave(const boost::weak_ptr<FrameBuffer>& current, boost::shared_ptr<FrameBuffer>* buffer,
                  boost::shared_ptr<FrameBufferGroup>* group)
{
    *buffer = current.lock();
    if (!*buffer)
        return false;
    *group = (*buffer)->frameBufferGroup();
    return *group && (*group)->size() != 0;
}

// Asks for the file name, starting from the remembered one; empty when cancelled. The
// dialog does not ask about overwriting: the callers ask, each in its own words.
QString askForFileName(QWidget* parent, const QString& caption)
{
    const std::string& remembered = VelmarApplication::getConfigStringEntry(storagePathKey, "");
    const QString picked =
        QFileDialog::getSaveFileName(parent, caption, QString::fromUtf8(remembered.c_str()),
                                     QStringLiteral("TIFF (*.tif)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (picked.isEmpty())
        return QString();
    return TiffFileNames::withSuffix(picked);
}

bool confirmOverwrite(QWidget* parent, const QString& title, const QString& text)
{
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
        == QMessageBox::Yes;
}

// The box's text is fixed; why the write failed goes to the log.
void logWriteError(vexo::tools::logging::Logger& logger, const std::string& reason)
{
    constexpr std::uint32_t error = 5;
    if (logger.isEnabled(error))
        logger.log(error, reason.c_str(), 0, 0);
}

void reportWriteError(QWidget* parent)
{
    QMessageBox::critical(parent, QStringLiteral("Error Writing TIFF."),
                          QStringLiteral("Could not write TIFF file (Write Error or Disk Full)"), QMessageBox::Ok,
                          QMessageBox::NoButton);
}

} // namespace

void Qt4DisplaySceneVisualizer::saveFrameButtonClicked()
{
    boost::shared_ptr<FrameBuffer> buffer;
    boost::shared_ptr<FrameBufferGroup> group;
    if (!bufferToSave(d->currentFrameBuffer, &buffer, &group))
        return;
    const QString fileName = askForFileName(this, QStringLiteral("Save Current Frame"));
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).exists()
        && !confirmOverwrite(this, QStringLiteral("File Exists"), QStringLiteral("File already exists... Overwrite?")))
        return;
    VelmarApplication::setConfigEntry(storagePathKey, fileName.toStdString());

    if (!group->try_readlock())
        return;
    std::string reason;
    const int result = buffer->saveTiff(fileName.toStdString(), &reason);
    group->unlock();
    if (result != 0) {
        logWriteError(getDefaultLogger(), reason);
        reportWriteError(this);
    }
}

void Qt4DisplaySceneVisualizer::saveSequenceButtonClicked()
{
    boost::shared_ptr<FrameBuffer> buffer;
    boost::shared_ptr<FrameBufferGroup> group;
    if (!bufferToSave(d->currentFrameBuffer, &buffer, &group))
        return;
    const QString fileName = askForFileName(this, QStringLiteral("Save Current Sequence"));
    if (fileName.isEmpty())
        return;
    const QString base = TiffFileNames::sequenceBase(fileName);
    // Only the first file is looked at; the rest of an older series is overwritten.
    if (QFileInfo(TiffFileNames::sequenceFile(base, 0)).exists()
        && !confirmOverwrite(this, QStringLiteral("File Sequence Exists"),
                             QStringLiteral("File sequence already exists... Overwrite?")))
        return;
    VelmarApplication::setConfigEntry(storagePathKey, fileName.toStdString());

    if (!group->try_readlock())
        return;
    // Oldest first: file 00000 gets buffer N - size, the last file buffer N - 1.
    for (std::int64_t i = 0;; ++i) {
        const int size = group->size();
        if (i >= size)
            break;
        const boost::shared_ptr<FrameBuffer> item = group->buffer(group->frameCounter() - (size - i));
        // A missing buffer would leave a hole in the numbering: report it like a failed
        // write rather than skip it silently.
        const std::string file = TiffFileNames::sequenceFile(base, i).toStdString();
        std::string reason = "buffer " + std::to_string(i) + " of the sequence has gone";
        if (!item || item->saveTiff(file, &reason) != 0) {
            group->unlock(); // before the box, which waits for the user
            logWriteError(getDefaultLogger(), reason);
            reportWriteError(this);
            return;
        }
    }
    group->unlock();
}

} // namespace core
} // namespace vexo
