#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class Channel;
struct ViewerOptions;

namespace vexo {
namespace core {
struct FrameFormat;
} // namespace core
} // namespace vexo

// The memory the frame buffers of all channels need together, weighed against what the
// machine has before any channel is made: one refusal for the whole set rather than
// channels made one by one until memory runs out.
class MemoryBudget
{
public:
    explicit MemoryBudget(const ViewerOptions& options);

    std::uint64_t bytesNeeded() const;
    // Empty when the buffers fit into `available` bytes; else what was asked for and
    // what is available, e.g. "... 256 channels x 16 buffers x 8 MiB = 32 GiB, but 21 GiB
    // are available".
    QString refusal(std::uint64_t available) const;

    // The check against the memory available now; false with the message in *error.
    static bool admits(const ViewerOptions& options, QString* error);
    // The same once the source is open and its format known: a camera keeps the size it was
    // left at when none is asked for.
    static bool admits(const ViewerOptions& options, const vexo::core::FrameFormat& format, QString* error);
    // A ring that failed to allocate although the check let it through ends the run as a
    // refusal too: tells why and leaves the event loop with status 2. GUI thread.
    static void refuseChannelsWithoutRing(const std::vector<std::unique_ptr<Channel>>& channels);

private:
    struct D
    {
        std::uint64_t channels = 0;
        std::uint64_t buffersPerChannel = 0;
        std::uint64_t bytesPerBuffer = 0; // 0: not known before the source is open
    };
    D d;
};
