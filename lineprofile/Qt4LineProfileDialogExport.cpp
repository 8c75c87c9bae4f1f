#include "lineprofile/Qt4LineProfileDialog.h"

#include "lineprofile/Qt4LineProfileDialogD.h"

#include "frame/PixelValue.h"

#include "vexo-core/VelmarApplication.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

#include <cstdint>
#include <string>

// The line profile dialog's PNG and CSV export (GUI thread).

namespace vexo {
namespace core {

namespace {

const std::string lastStoragePathKey = "gui.mainwindow.file.last_storage_path";

// Asks for the file to write and settles the suffix and an existing file. Empty when the
// user cancelled or would not overwrite; otherwise the name is remembered.
QString chooseExportFile(QWidget* parent, const QString& filter, const QString& suffix)
{
    const QString last = QString::fromStdString(VelmarApplication::getConfigStringEntry(lastStoragePathKey, ""));
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save Current Line Profile"), last, filter,
                                                nullptr, QFileDialog::DontConfirmOverwrite);
    if (name.isEmpty())
        return QString();
    // The test is on the lower-case form; the name keeps the case it was typed in.
    if (!name.toLower().endsWith(suffix))
        name += suffix;
    if (QFileInfo::exists(name)
        && QMessageBox::question(parent, QStringLiteral("File Exists"),
                                 QStringLiteral("File already exists... Overwrite?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton)
            != QMessageBox::Yes)
        return QString();
    VelmarApplication::setConfigEntry(lastStoragePathKey, name.toStdString());
    return name;
}

} // namespace

void Qt4LineProfileDialog::savePngButtonClicked()
{
    const QString name = chooseExportFile(this, QStringLiteral("PNG (*.png)"), QStringLiteral(".png"));
    if (name.isEmpty())
        return;
    // The picture as the worker drew it: no zoom, markers or band. Failures stay silent.
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    d->pixmap.save(&file, "PNG");
}

void Qt4LineProfileDialog::saveCsvButtonClicked()
{
    const QString name = chooseExportFile(this, QStringLiteral("CSV (*.csv)"), QStringLiteral(".csv"));
    if (name.isEmpty())
        return;
    boost::shared_ptr<FrameBuffer> buffer = d->frame ? d->frame->frameBuffer() : nullptr;
    if (!buffer) {
        QMessageBox::warning(nullptr, QStringLiteral("Warning"),
                             QStringLiteral("Internal error accessing profile data."), QMessageBox::Ok);
        return;
    }

    // Binary mode: every line ends in a single line feed on every platform.
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    QTextStream out(&file);
    const unsigned line = static_cast<unsigned>(requestedLine());
    for (int x = 0; x < buffer->width(); ++x) {
        const PixelValue value(*buffer, static_cast<unsigned>(x), line);
        out << x;
        for (int c = 0; c < (value.isGray() ? 1 : 3); ++c)
            out << ',' << static_cast<qulonglong>(value.channel(c));
        out << '\n';
    }
}

} // namespace core
} // namespace vexo
