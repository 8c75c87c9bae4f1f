#pragma once

namespace vexo {
namespace core {

// How small a scene's ring may be. The display keeps the frame it shows; besides that,
// one buffer is being written and one holds the newest stored frame, to be shown next.
// With fewer, the writer finds every slot leased and drops every frame.
struct RingSize
{
    static constexpr int heldByDisplay = 1;
    static constexpr int minimum = heldByDisplay + 2;
};

} // namespace core
} // namespace vexo
