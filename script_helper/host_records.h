// The records the host builds in its own memory and passes with its
// notifications. The script only reads them, only during the one call.
// With 4-byte pointers the byte offsets below are fixed by the host; with
// other pointer widths the host keeps the same fields in the same order.
#ifndef HOST_RECORDS_H
#define HOST_RECORDS_H

struct dottedMessage;

// Type 1: a router revertive. The text is stored in the record itself and
// runs on past the declared array up to its NUL, as far as the host's area goes.
struct revertiveRecord {
    int device;         // offset 0
    int reservedAfterDevice; // offset 4, not read
    int index;          // offset 8: index within the device
    int reservedAfterIndex;  // offset 12, not read
    char text[4];       // offset 16: NUL-terminated revertive text
};

// Type 2: a control event. Every pointer is valid for the call.
struct controlEventRecord {
    unsigned char reserved[8];    // offset 0, not read
    const char* panel;            // offset 8: panel number as decimal text
    const char* controlId;        // offset 12
    const dottedMessage* message; // offset 16: only its name and value are read
};

#endif
