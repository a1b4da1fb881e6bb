#include "decode_vesk_string.h"

#include "dotted_message.h"
#include "script_memory.h"

#include <string.h>

decodeVESKString::decodeVESKString(const char* text, char quote)
    : tokenCount(0), buffer(0), quoteChar(quote) {
    for (int i = 0; i < decodeMaxTokens; ++i)
        tokens[i] = dottedEmptyText;
    if (text == 0 || *text == '\0')
        return;
    size_t length = strlen(text);
    buffer = static_cast<char*>(scriptAlloc(length + 1));
    if (buffer == 0)
        return;
    memcpy(buffer, text, length + 1);
    decode();
}

decodeVESKString::~decodeVESKString() { scriptFree(buffer); }

void decodeVESKString::decode() {
    int slot = 0;
    bool quoted = false;
    tokens[0] = buffer;
    for (char* p = buffer; *p != '\0'; ++p) {
        bool first = p == buffer;
        if (*p == quoteChar) {
            // A closing quote right after a NUL records an empty token.
            bool recordsEmpty = quoted && !first && p[-1] == '\0';
            quoted = !quoted;
            *p = '\0';
            if (recordsEmpty) {
                if (slot + 1 == decodeMaxTokens)
                    break;
                tokens[++slot] = p;
            }
            continue;
        }
        if (!quoted && *p == ' ') {
            *p = '\0';
            continue;
        }
        if (!first && p[-1] == '\0') {
            if (slot + 1 == decodeMaxTokens)
                break;
            tokens[++slot] = p;
        }
    }
    tokenCount = slot + 1;
}
