#include "MemoryBudget.h"

#include "Channel.h"
#include "ViewerOptions.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SystemMemory.h"

#include <QCoreApplication>

#include <cstdio>

using vexo::core::SystemMemory;

namespace {

QString described(std::uint64_t bytes)
{
    return QString::fromStdString(SystemMemory::describe(bytes));
}

QString counted(std::uint64_t n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

MemoryBudget::MemoryBudget(const ViewerOptions& options)
{
    d.channels = std::uint64_t(options.boards) * std::uint64_t(options.dmaChannels);
    d.buffersPerChannel = std::uint64_t(options.bufferCount);
    // A file's size is known once it is open; admits() with its format counts it then.
    if (options.source == ViewerOptions::Source::Simulator) {
        const auto& format = options.simulator.format;
        d.bytesPerBuffer = vexo::core::FrameBuffer::bytesFor(format.width, format.height, format.gray);
    } else if (options.camera() && options.cameraWidth > 0 && options.cameraHeight > 0) {
        // The camera's pixel format is known only once it is open: count the least it can
        // take (gray) unless colour was asked for; the scene checks the rest itself.
        const bool colour = options.pixelFormat.startsWith(QLatin1String("RGB"))
            || options.pixelFormat.startsWith(QLatin1String("BGR"))
            || options.pixelFormat.startsWith(QLatin1String("Bayer"));
        d.bytesPerBuffer = vexo::core::FrameBuffer::bytesFor(options.cameraWidth, options.cameraHeight, !colour);
    }
}

std::uint64_t MemoryBudget::bytesNeeded() const
{
    return SystemMemory::product(SystemMemory::product(d.channels, d.buffersPerChannel), d.bytesPerBuffer);
}

QString MemoryBudget::refusal(std::uint64_t available) const
{
    const std::uint64_t needed = bytesNeeded();
    if (needed <= available)
        return QString();
    return QStringLiteral("not enough memory for the frame buffers: %1 x %2 x %3 = %4, but %5 are available")
        .arg(counted(d.channels, "channel", "channels"), counted(d.buffersPerChannel, "buffer", "buffers"),
             described(d.bytesPerBuffer), described(needed), described(available));
}

bool MemoryBudget::admits(const ViewerOptions& options, QString* error)
{
    *error = MemoryBudget(options).refusal(SystemMemory::available());
    return error->isEmpty();
}

bool MemoryBudget::admits(const ViewerOptions& options, const vexo::core::FrameFormat& format, QString* error)
{
    MemoryBudget budget(options);
    budget.d.bytesPerBuffer = vexo::core::FrameBuffer::bytesFor(format.width, format.height, format.gray);
    *error = budget.refusal(SystemMemory::available());
    return error->isEmpty();
}

void MemoryBudget::refuseChannelsWithoutRing(const std::vector<std::unique_ptr<Channel>>& channels)
{
    bool refused = false;
    for (const std::unique_ptr<Channel>& channel : channels) {
        const std::string problem = channel->scene()->ringError();
        if (problem.empty())
            continue;
        std::fprintf(stderr, "vexo-display-viewer: %s\n", problem.c_str());
        refused = true;
    }
    if (refused)
        QCoreApplication::exit(2);
}
