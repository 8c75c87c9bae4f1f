#pragma once

#include <memory>
#include <string>

struct TIFFOpenOptions;

namespace vexo {
namespace core {

// Collects libtiff's errors and warnings for the handles opened with options(). The
// handlers are per handle (TIFFOpenOptions), not libtiff's process-wide ones, so threads
// reading or writing at once keep their messages apart and nothing goes to stderr. A
// handle opened with these options must be closed before the collector goes.
class TiffMessages
{
public:
    TiffMessages();
    ~TiffMessages();
    TiffMessages(const TiffMessages&) = delete;
    TiffMessages& operator=(const TiffMessages&) = delete;

    // Options for TIFFOpenExt / TIFFFdOpenExt; null when out of memory.
    TIFFOpenOptions* options() const;

    bool errorSeen() const;
    // The first error since clear(), "module: text"; empty when none.
    const std::string& firstError() const;
    // The first warning since clear(); empty when none.
    const std::string& firstWarning() const;
    void clear();

private:
    struct D;
    std::unique_ptr<D> d; // its address is the handlers' user data
};

} // namespace core
} // namespace vexo
