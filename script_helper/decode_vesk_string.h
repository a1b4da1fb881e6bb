// Splits one reply text into space-separated tokens, optionally quoted with
// quoteChar; a quoted token may hold spaces. At most 32 tokens are recorded.
#ifndef DECODE_VESK_STRING_H
#define DECODE_VESK_STRING_H

enum { decodeMaxTokens = 32 };

class decodeVESKString {
  public:
    // Decodes text (null allowed) at once, into a copy the decoder owns.
    decodeVESKString(const char* text, char quoteChar);
    virtual ~decodeVESKString();

    // Slots at or beyond tokenCount point at the shared empty text.
    const char* tokens[decodeMaxTokens];
    int tokenCount;
    char* buffer;
    char quoteChar;

  private:
    decodeVESKString(const decodeVESKString&) = delete;
    decodeVESKString& operator=(const decodeVESKString&) = delete;
    void decode();
};

#endif
