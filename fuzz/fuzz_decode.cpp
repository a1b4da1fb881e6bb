// Fuzzes the reply decoder: at most 32 tokens, every token inside the
// decoder's own copy or the shared empty text, none for an empty input.
#include "decode_vesk_string.h"
#include "dotted_message.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    char quote = static_cast<char>(data[0]) == '\0' ? '\'' : static_cast<char>(data[0]);
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    decodeVESKString decoded(text.c_str(), quote);
    size_t length = std::strlen(text.c_str());
    require(decoded.tokenCount >= 0 && decoded.tokenCount <= decodeMaxTokens);
    require((decoded.tokenCount == 0) == (length == 0));
    for (int i = 0; i < decodeMaxTokens; ++i) {
        const char* token = decoded.tokens[i];
        require(token != nullptr);
        bool inside = decoded.buffer != nullptr && token >= decoded.buffer &&
                      token <= decoded.buffer + length;
        require(token == dottedEmptyText || inside);
        if (i >= decoded.tokenCount)
            require(token == dottedEmptyText);
        if (inside)
            require(std::strlen(token) <= length - static_cast<size_t>(token - decoded.buffer));
    }
    return 0;
}
