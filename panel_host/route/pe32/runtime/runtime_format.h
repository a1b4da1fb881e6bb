// printf-style formatting for the emulated C runtime, with arguments read from
// emulated memory. It takes the conversions a 32-bit script can pass safely
// (d i u x X o c s %, with flags, width and precision) and refuses the rest.
#ifndef RUNTIME_FORMAT_H
#define RUNTIME_FORMAT_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Reads the n-th 32-bit argument word; false when it cannot be read.
using ArgumentReader = std::function<bool(std::uint32_t n, std::uint32_t& value)>;
// Reads a NUL-terminated text at an address; false when it cannot be read.
using TextReader = std::function<bool(std::uint32_t address, std::string& out)>;

// The formatted text, or nothing with a reason.
std::optional<std::string> formatWithArguments(const std::string& format,
                                               const ArgumentReader& argument,
                                               const TextReader& text, std::string& why);

#endif
