#pragma once

#include <string>

namespace vexo {
namespace tools {
namespace logging {

// A shared library loaded by path. The object only unloads the library when it owns the
// handle; the logging dispatcher is loaded without ownership and so stays in the process
// for good (its code may still be running on other threads when we let go of it).
class DynamicLibrary
{
public:
    DynamicLibrary(const std::string& path, bool ownsHandle);
    virtual ~DynamicLibrary();

    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library (all symbols now, kept local); on failure errorText() tells why.
    bool load();
    // Address of an exported symbol; null when the library lacks it or is not loaded.
    void* symbol(const char* name) const;

    void* handle() const;
    bool ownsHandle() const;
    const std::string& path() const;
    // The loader's message for the last failed load; empty after a successful one.
    const std::string& errorText() const;

private:
    void* handle_ = nullptr;
    const bool ownsHandle_;
    const std::string path_;
    std::string errorText_;
};

} // namespace logging
} // namespace tools
} // namespace vexo
