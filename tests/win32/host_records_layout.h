// The host's records, laid out byte for byte as the host builds them for a
// 32-bit script; the offsets are checked at compile time.
#ifndef HOST_RECORDS_LAYOUT_H
#define HOST_RECORDS_LAYOUT_H

#include <stddef.h>

struct HostMessage {
    const char* name;
    const char* parts[32];
    const char* value;
    int partCount;
    unsigned char hasValue;
    unsigned char unused[3];
    char* buffer;
};
static_assert(offsetof(HostMessage, parts) == 4, "parts at 4");
static_assert(offsetof(HostMessage, value) == 132, "value at 132");
static_assert(offsetof(HostMessage, partCount) == 136, "partCount at 136");
static_assert(offsetof(HostMessage, hasValue) == 140, "hasValue at 140");
static_assert(offsetof(HostMessage, buffer) == 144, "buffer at 144");
static_assert(sizeof(HostMessage) == 148, "148 bytes");

struct HostControlEvent {
    unsigned char unused[8];
    const char* panel;
    const char* controlId;
    const HostMessage* message;
};
static_assert(offsetof(HostControlEvent, panel) == 8, "panel at 8");
static_assert(offsetof(HostControlEvent, controlId) == 12, "control id at 12");
static_assert(offsetof(HostControlEvent, message) == 16, "message at 16");

struct HostRevertive {
    int device;
    int unused1;
    int index;
    int unused2;
    char text[64];
};
static_assert(offsetof(HostRevertive, index) == 8, "index at 8");
static_assert(offsetof(HostRevertive, text) == 16, "text at 16");

#endif
