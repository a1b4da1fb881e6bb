#include "decimal.h"

// 32-bit arithmetic only: the 32-bit Windows build has no runtime helpers for
// 64-bit division.
namespace {

const unsigned int intMaxMagnitude = 2147483647u;
const unsigned int intMinMagnitude = 2147483648u;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Accumulates digits from text up to the first non-digit; the magnitude stops
// growing once it passes the 32-bit range, so it never overflows.
unsigned int readDigits(const char* text) {
    unsigned int magnitude = 0;
    for (; isDigit(*text); ++text) {
        if (magnitude <= intMinMagnitude / 10)
            magnitude = magnitude * 10 + static_cast<unsigned int>(*text - '0');
        else
            magnitude = intMinMagnitude + 1;
        if (magnitude > intMinMagnitude)
            magnitude = intMinMagnitude + 1;
    }
    return magnitude;
}

int signedValue(bool negative, unsigned int magnitude) {
    if (negative)
        return magnitude >= intMinMagnitude ? -2147483647 - 1 : -static_cast<int>(magnitude);
    return magnitude > intMaxMagnitude ? 2147483647 : static_cast<int>(magnitude);
}

} // namespace

unsigned int formatDecimal(int n, char* out) {
    char reversed[decimalCapacity];
    unsigned int digits = 0;
    unsigned int magnitude = n < 0 ? 0u - static_cast<unsigned int>(n) : static_cast<unsigned int>(n);
    do {
        reversed[digits++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    unsigned int length = 0;
    if (n < 0)
        out[length++] = '-';
    while (digits > 0)
        out[length++] = reversed[--digits];
    out[length] = '\0';
    return length;
}

int readLeadingInt(const char* text) {
    while (isSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    return signedValue(negative, readDigits(text));
}

int readFirstDigits(const char* text) {
    while (*text != '\0' && !isDigit(*text))
        ++text;
    return signedValue(false, readDigits(text));
}
