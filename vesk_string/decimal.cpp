#include "decimal.h"

namespace {

const long long intMax = 2147483647LL;
const long long intMin = -2147483647LL - 1;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Accumulates digits from text, stopping at the first non-digit; the magnitude
// is capped just past the 32-bit range so it never overflows.
long long readDigits(const char* text) {
    long long magnitude = 0;
    for (; isDigit(*text); ++text) {
        if (magnitude <= intMax + 1)
            magnitude = magnitude * 10 + (*text - '0');
    }
    return magnitude;
}

int clampToInt(long long value) {
    if (value > intMax)
        return static_cast<int>(intMax);
    if (value < intMin)
        return static_cast<int>(intMin);
    return static_cast<int>(value);
}

} // namespace

unsigned int formatDecimal(int n, char* out) {
    char reversed[decimalCapacity];
    unsigned int digits = 0;
    // Work on the negative side so the most negative value needs no special case.
    long long value = n < 0 ? n : -static_cast<long long>(n);
    do {
        reversed[digits++] = static_cast<char>('0' - value % 10);
        value /= 10;
    } while (value != 0);
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
    long long magnitude = readDigits(text);
    return clampToInt(negative ? -magnitude : magnitude);
}

int readFirstDigits(const char* text) {
    while (*text != '\0' && !isDigit(*text))
        ++text;
    return clampToInt(readDigits(text));
}
