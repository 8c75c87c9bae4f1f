#pragma once

// Helpers shared by the reliability tests: answering modal dialogs, reading TIFF files
// back and reading the process's resident memory.

#include "vexo-lib-display/FrameBuffer.h"

#include <tiffio.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <cstdint>
#include <cstring>
#include <vector>

namespace reliability {

// Answers every modal dialog that opens while it lives: file dialogs with the next name
// (none left: cancel), message boxes with the next button (none left: reject). Polls
// from a timer, which also fires inside the dialogs' own event loops.
class DialogAnswerer : public QObject
{
public:
    QStringList fileNames;
    QList<QMessageBox::StandardButton> buttons;
    QStringList seen; // "file" or the message box title, in turn

    DialogAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start(0);
    }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool())
            return;
        modal->setProperty("answered", true);
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            seen << QStringLiteral("file");
            auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            const QString name = fileNames.isEmpty() ? QString() : fileNames.takeFirst();
            if (name.isEmpty() || !nameField) {
                dialog->reject();
                return;
            }
            nameField->setText(name);
            static_cast<QDialog*>(dialog)->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->windowTitle();
            const QMessageBox::StandardButton pick =
                buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
            if (QAbstractButton* button = box->button(pick))
                button->click();
            else
                box->reject();
        } else {
            seen << QStringLiteral("unexpected %1").arg(modal->metaObject()->className());
            modal->close();
        }
    }

    QTimer timer;
};

inline std::vector<std::uint16_t> samplesOf(const vexo::core::FrameBuffer& buffer)
{
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < buffer.height(); ++y) {
        const std::uint16_t* line = buffer.line(y);
        samples.insert(samples.end(), line, line + buffer.width() * buffer.channels());
    }
    return samples;
}

// The samples of a TIFF file (8 or 16 bits, contiguous); empty when it is not a readable
// TIFF of that size and number of samples per pixel.
inline std::vector<std::uint16_t> readTiff(const QString& path, int width, int height, int channels)
{
    std::vector<std::uint16_t> samples;
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return samples;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, perPixel = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &perPixel);
    if (int(w) == width && int(h) == height && int(perPixel) == channels && (bits == 8 || bits == 16)) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
                samples.clear();
                break;
            }
            for (std::size_t i = 0; i < std::size_t(w) * perPixel; ++i) {
                std::uint16_t v = row[i];
                if (bits == 16)
                    std::memcpy(&v, row.data() + 2 * i, 2);
                samples.push_back(v);
            }
        }
    }
    TIFFClose(tif);
    return samples;
}

// Resident memory of this process in KiB, from /proc; -1 where it cannot be read.
inline long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace reliability
