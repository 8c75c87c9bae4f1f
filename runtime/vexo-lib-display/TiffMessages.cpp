#include "vexo-lib-display/TiffMessages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

namespace vexo {
namespace core {

struct TiffMessages::D
{
    TIFFOpenOptions* options = nullptr;
    bool errorSeen = false;
    std::string firstError;
    std::string firstWarning;

    static std::string formatted(const char* module, const char* format, va_list args)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        return std::string(module ? module : "libtiff") + ": " + text;
    }

    static int collectError(TIFF*, void* userData, const char* module, const char* format, va_list args)
    {
        auto* d = static_cast<D*>(userData);
        if (!d->errorSeen)
            d->firstError = formatted(module, format, args);
        d->errorSeen = true;
        // Handled: libtiff's process-wide handler would print to stderr.
        return 1;
    }

    static int collectWarning(TIFF*, void* userData, const char* module, const char* format, va_list args)
    {
        auto* d = static_cast<D*>(userData);
        if (d->firstWarning.empty())
            d->firstWarning = formatted(module, format, args);
        return 1;
    }
};

TiffMessages::TiffMessages()
    : d(new D)
{
    d->options = TIFFOpenOptionsAlloc();
    if (d->options) {
        TIFFOpenOptionsSetErrorHandlerExtR(d->options, D::collectError, d.get());
        TIFFOpenOptionsSetWarningHandlerExtR(d->options, D::collectWarning, d.get());
    }
}

TiffMessages::~TiffMessages()
{
    if (d->options)
        TIFFOpenOptionsFree(d->options);
}

TIFFOpenOptions* TiffMessages::options() const
{
    return d->options;
}

bool TiffMessages::errorSeen() const
{
    return d->errorSeen;
}

const std::string& TiffMessages::firstError() const
{
    return d->firstError;
}

const std::string& TiffMessages::firstWarning() const
{
    return d->firstWarning;
}

void TiffMessages::clear()
{
    d->errorSeen = false;
    d->firstError.clear();
    d->firstWarning.clear();
}

} // namespace core
} // namespace vexo
