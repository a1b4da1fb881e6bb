#include "vesk_string.h"
#include "vesk_string_watch.h"

#include "decimal.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Finds the lowest-numbered placeholder digit ('1'..'9') in text, or 0.
char lowestPlaceholder(const char* text) {
    char lowest = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '9' && (lowest == 0 || p[1] < lowest))
            lowest = p[1];
    }
    return lowest;
}

unsigned int countPlaceholders(const char* text, char digit) {
    unsigned int count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == digit)
            ++count;
    }
    return count;
}

#if defined(_WIN32)
// The DLL is watched at its exports by the host; nothing to tell here.
inline void tell(int, const char*, const char*) {}
inline void tellNumber(const char*, int) {}
#else
// Who is told of comparisons; null (no cost but this test) unless the host asked.
vesk_string_watcher watcher = 0;

inline void tell(int kind, const char* left, const char* right) {
    if (watcher != 0)
        watcher(kind, left, right);
}

void tellNumber(const char* text, int value) {
    if (watcher == 0)
        return;
    char digits[decimalCapacity];
    formatDecimal(value, digits);
    watcher(vesk_string_watch_conversion, text, digits);
}
#endif

} // namespace

#if !defined(_WIN32)
void vesk_string_watch_compares(vesk_string_watcher function) {
    watcher = function;
}
#endif

vesk_string::vesk_string() : text_(inline_), length_(0) {
    inline_[0] = '\0';
}

vesk_string::vesk_string(const char* text) : text_(inline_), length_(0) {
    inline_[0] = '\0';
    if (text != 0)
        assign(text, static_cast<unsigned int>(strlen(text)));
}

vesk_string::vesk_string(const vesk_string& other) : text_(inline_), length_(0) {
    inline_[0] = '\0';
    assign(other.text_, other.length_);
}

vesk_string::vesk_string(int n, char, unsigned int, int) : text_(inline_), length_(0) {
    length_ = formatDecimal(n, inline_);
}

vesk_string::~vesk_string() {
    if (onHeap())
        free(text_);
}

char* vesk_string::prepare(unsigned int bytes) {
    if (bytes >= inlineCapacity) {
        char* block = static_cast<char*>(malloc(bytes + 1));
        if (block == 0)
            return 0;
        text_ = block;
    }
    length_ = bytes;
    text_[bytes] = '\0';
    return text_;
}

void vesk_string::assign(const char* text, unsigned int bytes) {
    // The old text is released only after the copy, so assigning from a piece
    // of this string's own text is safe.
    char* old = onHeap() ? text_ : 0;
    if (bytes < inlineCapacity) {
        memmove(inline_, text, bytes);
        text_ = inline_;
    } else {
        char* block = static_cast<char*>(malloc(bytes + 1));
        if (block == 0) {
            bytes = 0;
            text_ = inline_;
        } else {
            memcpy(block, text, bytes);
            text_ = block;
        }
    }
    text_[bytes] = '\0';
    length_ = bytes;
    free(old);
}

vesk_string vesk_string::joined(const char* left, unsigned int leftBytes, const char* right,
                                unsigned int rightBytes) {
    vesk_string result;
    char* out = result.prepare(leftBytes + rightBytes);
    if (out != 0) {
        memcpy(out, left, leftBytes);
        memcpy(out + leftBytes, right, rightBytes);
    }
    return result;
}

vesk_string& vesk_string::operator=(const char* text) {
    assign(text == 0 ? "" : text, text == 0 ? 0 : static_cast<unsigned int>(strlen(text)));
    return *this;
}

vesk_string& vesk_string::operator=(const vesk_string& other) {
    if (this != &other)
        assign(other.text_, other.length_);
    return *this;
}

vesk_string& vesk_string::operator+=(const vesk_string& other) {
    if (other.length_ != 0)
        *this = joined(text_, length_, other.text_, other.length_);
    return *this;
}

vesk_string::operator const char*() const {
    return text_;
}

unsigned int vesk_string::length() const {
    return length_;
}

int vesk_string::toInt() const {
    int value = readLeadingInt(text_);
    tellNumber(text_, value);
    return value;
}

vesk_string::operator int() const {
    int value = readLeadingInt(text_);
    tellNumber(text_, value);
    return value;
}

int vesk_string::firstInt() const {
    int value = readFirstDigits(text_);
    tellNumber(text_, value);
    return value;
}

bool vesk_string::startsWith(const vesk_string& prefix) const {
    tell(vesk_string_watch_prefix, text_, prefix.text_);
    return prefix.length_ <= length_ && memcmp(text_, prefix.text_, prefix.length_) == 0;
}

vesk_string vesk_string::arg(const vesk_string& value) const {
    char digit = lowestPlaceholder(text_);
    if (digit == 0)
        return *this;
    unsigned int places = countPlaceholders(text_, digit);
    vesk_string result;
    char* out = result.prepare(length_ - 2 * places + places * value.length_);
    if (out == 0)
        return result;
    for (const char* p = text_; *p != '\0';) {
        if (p[0] == '%' && p[1] == digit) {
            memcpy(out, value.text_, value.length_);
            out += value.length_;
            p += 2;
        } else {
            *out++ = *p++;
        }
    }
    return result;
}

vesk_string vesk_string::arg(int n, char fill, unsigned int width, int base) const {
    return arg(vesk_string(n, fill, width, base));
}

int vesk_string::split(char separator, vesk_string& left, vesk_string& right) const {
    const char* found = static_cast<const char*>(memchr(text_, separator, length_));
    if (found == 0) {
        // Copy first: left or right may be this very string.
        vesk_string whole(*this);
        left = whole;
        right = vesk_string();
        return -1;
    }
    unsigned int offset = static_cast<unsigned int>(found - text_);
    vesk_string before;
    vesk_string after;
    before.assign(text_, offset);
    after.assign(found + 1, length_ - offset - 1);
    left = before;
    right = after;
    return static_cast<int>(offset);
}

vesk_string operator+(const vesk_string& left, const vesk_string& right) {
    return vesk_string::joined(left.text_, left.length_, right.text_, right.length_);
}

vesk_string operator+(const vesk_string& left, const char* right) {
    const char* text = right == 0 ? "" : right;
    return vesk_string::joined(left.text_, left.length_, text,
                               static_cast<unsigned int>(strlen(text)));
}

vesk_string operator+(const char* left, const vesk_string& right) {
    const char* text = left == 0 ? "" : left;
    return vesk_string::joined(text, static_cast<unsigned int>(strlen(text)), right.text_,
                               right.length_);
}

bool operator==(const vesk_string& left, const char* right) {
    tell(vesk_string_watch_equal, left, right == 0 ? "" : right);
    return strcmp(left, right == 0 ? "" : right) == 0;
}

bool operator==(const vesk_string& left, int n) {
    char digits[decimalCapacity];
    formatDecimal(n, digits);
    tell(vesk_string_watch_equal, left, digits);
    return strcmp(left, digits) == 0;
}

bool operator!=(const vesk_string& left, const vesk_string& right) {
    tell(vesk_string_watch_equal, left, right);
    return left.length() != right.length() || strcmp(left, right) != 0;
}
