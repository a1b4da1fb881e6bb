// Fuzzes the message parser: whatever the text, every pointer of the parsed
// message is sound and the counts stay within 32.
#include "dotted_message.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool pointsInto(const char* p, const char* buffer, size_t length) {
    return p == dottedEmptyText || (buffer != nullptr && p >= buffer && p <= buffer + length);
}


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    dottedMessage message(text.c_str());
    size_t length = std::strlen(text.c_str());
    require((message.buffer == nullptr) == (length == 0));
    require(message.partCount >= 0 && message.partCount <= dottedMessageMaxParts);
    require(message.name != nullptr && message.value != nullptr);
    require(pointsInto(message.name, message.buffer, length));
    require(pointsInto(message.value, message.buffer, length));
    for (int i = 0; i < dottedMessageMaxParts; ++i) {
        require(message.parts[i] != nullptr);
        require(pointsInto(message.parts[i], message.buffer, length));
        if (i >= message.partCount)
            require(message.parts[i] == dottedEmptyText);
    }
    // The name runs to the first '.' or '=' of the text.
    size_t cut = std::strcspn(text.c_str(), ".=");
    require(std::strlen(message.name) == cut);
    require(!message.hasValue || std::strchr(text.c_str(), '=') != nullptr);
    return 0;
}
