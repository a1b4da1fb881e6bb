#include "dotted_message.h"

#include "host_records.h"
#include "script_memory.h"

#include <stddef.h>
#include <string.h>

const char dottedEmptyText[1] = {'\0'};

#if !defined(_WIN64) && (defined(_WIN32) || defined(__i386__))
// The host fixes these offsets for builds with 4-byte pointers.
static_assert(sizeof(void*) == 4, "32-bit layout");
static_assert(offsetof(dottedMessage, name) == 0, "name at 0");
static_assert(offsetof(dottedMessage, parts) == 4, "parts at 4");
static_assert(offsetof(dottedMessage, value) == 132, "value at 132");
static_assert(offsetof(dottedMessage, partCount) == 136, "partCount at 136");
static_assert(offsetof(dottedMessage, hasValue) == 140, "hasValue at 140");
static_assert(offsetof(dottedMessage, buffer) == 144, "buffer at 144");
static_assert(sizeof(dottedMessage) == 148, "148 bytes");
static_assert(offsetof(revertiveRecord, index) == 8, "index at 8");
static_assert(offsetof(revertiveRecord, text) == 16, "text at 16");
static_assert(offsetof(controlEventRecord, panel) == 8, "panel at 8");
static_assert(offsetof(controlEventRecord, controlId) == 12, "control id at 12");
static_assert(offsetof(controlEventRecord, message) == 16, "message at 16");
#endif

dottedMessage::dottedMessage(const char* text) { parse(text); }

dottedMessage::~dottedMessage() { scriptFree(buffer); }

void dottedMessage::parse(const char* text) {
    name = dottedEmptyText;
    for (int i = 0; i < dottedMessageMaxParts; ++i)
        parts[i] = dottedEmptyText;
    value = dottedEmptyText;
    partCount = 0;
    hasValue = false;
    buffer = 0;
    if (text == 0 || *text == '\0')
        return;
    size_t length = strlen(text);
    buffer = static_cast<char*>(scriptAlloc(length + 1));
    if (buffer == 0)
        return;
    memcpy(buffer, text, length + 1);
    splitBuffer();
}

void dottedMessage::splitBuffer() {
    for (char* p = buffer; *p != '\0'; ++p) {
        if (partCount == dottedMessageMaxParts)
            break;
        if (*p == '.') {
            *p = '\0';
            parts[partCount++] = p + 1;
        } else if (*p == '=') {
            *p = '\0';
            value = p + 1;
            hasValue = true;
            break;
        }
    }
    name = buffer;
}
