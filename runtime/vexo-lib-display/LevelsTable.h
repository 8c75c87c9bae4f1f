#pragma once

// The lookup table of a display range. Internal to the runtime.

#include "vexo-lib-display/DisplayLevels.h"

#include <cstdint>
#include <memory>

namespace vexo {
namespace core {

// Gray words 0xffVVVVVV for all 65536 sample values under one range and gamma, in the
// layout of the renderer's own tables. Kept by the render thread and only touched there:
// the table is made on first use and rebuilt only when the range or gamma changes.
class LevelsTable
{
public:
    // The brightness 0..255 of value: 0 at or below the minimum, 255 at or above the
    // maximum, between them 255 * t^(1/gamma) rounded to nearest, halves up, with
    // t = (value - minimum) / (maximum - minimum). A gamma that is not a positive number
    // counts as 1; at 1 the arithmetic is exact in integers.
    static int brightness(int value, DisplayLevels::Range range, double gamma);

    // The table for range and gamma; valid until the next call.
    const std::uint32_t* table(DisplayLevels::Range range, double gamma);

    // How often the table was (re)built; for tests.
    int builds() const { return buildCount; }

private:
    std::unique_ptr<std::uint32_t[]> words;
    DisplayLevels::Range builtRange;
    double builtGamma = 0.0;
    int buildCount = 0;
};

} // namespace core
} // namespace vexo
