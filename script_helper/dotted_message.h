// A message text taken apart into a name, up to 32 sub-parts each introduced
// by '.', and a value introduced by the first '=' ("button.001=released").
// The host builds these for control events and the dispatcher builds one for
// each parameter message, so the layout is shared (148 bytes with 4-byte
// pointers). It is never copied.
#ifndef DOTTED_MESSAGE_H
#define DOTTED_MESSAGE_H

enum { dottedMessageMaxParts = 32 };

struct dottedMessage {
    // Every text pointer points into buffer or at the shared empty text; none is null.
    const char* name;                         // text before the first '.' or '='
    const char* parts[dottedMessageMaxParts]; // sub-parts in order; empty past partCount
    const char* value;                        // text after the first '='
    int partCount;                            // 0 to 32
    bool hasValue;                            // an '=' was found
    char* buffer; // owned copy of the text, null for a null or empty text

    // Parses text (null allowed); buffer comes from the script allocator.
    explicit dottedMessage(const char* text);
    ~dottedMessage();

  private:
    dottedMessage(const dottedMessage&) = delete;
    dottedMessage& operator=(const dottedMessage&) = delete;
    void parse(const char* text);
    void splitBuffer();
};

// The one constant empty text that unset pointers share.
extern const char dottedEmptyText[1];

#endif
