// How the emulated route writes addresses and names for people.
#ifndef HEX_TEXT_H
#define HEX_TEXT_H

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

// An address in emulated memory: "0x0040a0b0".
inline std::string hexAddress(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
    return text;
}

// An offset inside a module: "0x1a2b".
inline std::string hexOffset(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// DLL names compare without regard to case, as Windows compares them.
inline std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

#endif
