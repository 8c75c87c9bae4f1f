#pragma once

#include <string>
#include <system_error>

namespace vexo {
namespace core {

// "what: <the system's text for errno code>", for the messages of failed file operations.
inline std::string systemError(const std::string& what, int code)
{
    return what + ": " + std::generic_category().message(code);
}

} // namespace core
} // namespace vexo
