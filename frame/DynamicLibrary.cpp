#include "frame/DynamicLibrary.h"

#include <dlfcn.h>

namespace vexo {
namespace tools {
namespace logging {

DynamicLibrary::DynamicLibrary(const std::string& path, bool ownsHandle)
    : ownsHandle_(ownsHandle)
    , path_(path)
{
}

DynamicLibrary::~DynamicLibrary()
{
    if (handle_ && ownsHandle_)
        ::dlclose(handle_);
    handle_ = nullptr;
}

bool DynamicLibrary::load()
{
    if (handle_)
        return true;
    handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) {
        errorText_.clear();
        return true;
    }
    const char* reason = ::dlerror();
    errorText_ = reason ? reason : "cannot load " + path_;
    return false;
}

void* DynamicLibrary::symbol(const char* name) const
{
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

void* DynamicLibrary::handle() const
{
    return handle_;
}

bool DynamicLibrary::ownsHandle() const
{
    return ownsHandle_;
}

const std::string& DynamicLibrary::path() const
{
    return path_;
}

const std::string& DynamicLibrary::errorText() const
{
    return errorText_;
}

} // namespace logging
} // namespace tools
} // namespace vexo
