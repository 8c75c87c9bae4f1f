#pragma once

#include <algorithm>

namespace vexo {
namespace core {

// A zoom step of the display, minimum..maximum, shown at 2^(step - unity) canvas pixels
// per image pixel: below unity every stepSize()-th image pixel is shown, above it each
// image pixel covers pixelSize() x pixelSize() canvas pixels. Window and scene pass steps
// as int; this type clamps them on the way in, so every step it holds can be mapped.
class ZoomStep
{
public:
    static constexpr int minimum = 0;
    static constexpr int unity = 6;
    static constexpr int maximum = 12;
    // From 32:1 a magnified pixel is large enough to carry its value as text.
    static constexpr int firstValueTextStep = 11;

    constexpr ZoomStep() = default;
    // A step outside minimum..maximum becomes the nearer end.
    constexpr explicit ZoomStep(int step)
        : step(std::clamp(step, minimum, maximum))
    {
    }

    static constexpr bool isInRange(int step) { return step >= minimum && step <= maximum; }

    constexpr int value() const { return step; }
    constexpr bool isMinimum() const { return step == minimum; }
    constexpr bool isMaximum() const { return step == maximum; }
    // One step further; at an end of the range the same step.
    constexpr ZoomStep zoomedIn() const { return ZoomStep(step + 1); }
    constexpr ZoomStep zoomedOut() const { return ZoomStep(step - 1); }

    // Image pixels per canvas pixel: 2^(unity - step) below unity, else 1.
    constexpr int stepSize() const { return step < unity ? 1 << (unity - step) : 1; }
    // log2 of pixelSize().
    constexpr int pixelShift() const { return step > unity ? step - unity : 0; }
    // Canvas pixels per image pixel: 2^(step - unity) above unity, else 1.
    constexpr int pixelSize() const { return 1 << pixelShift(); }

    // Lengths between image and canvas pixels. Both truncate (towards zero), so a part of
    // a pixel that does not fill a whole one is dropped.
    constexpr int imageToCanvas(int length) const { return length / stepSize() * pixelSize(); }
    constexpr int canvasToImage(int length) const { return length / pixelSize() * stepSize(); }

    constexpr bool fitsValueText() const { return step >= firstValueTextStep; }

    constexpr bool operator==(ZoomStep other) const { return step == other.step; }
    constexpr bool operator!=(ZoomStep other) const { return step != other.step; }

private:
    int step = unity;
};

} // namespace core
} // namespace vexo
