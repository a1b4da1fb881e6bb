// The string and list library every panel script uses for its texts.
//
// These classes cross the boundary between a script library and the string
// library (vesk_string.dll on Windows, libvesk_string.so natively), so this
// header uses nothing from the C++ standard library. Every string owns its
// text, allocated with the C runtime; copies copy the text, so a source
// `const char*` may be freed as soon as a string has been built from it.
//
// Behaviour this layer fixes where callers could otherwise guess:
// - Comparisons and startsWith are case-sensitive, byte by byte.
// - toInt (and operator int) reads like atoi: leading white space, an optional
//   sign, then digits up to the first other character; 0 when there are none;
//   values beyond the 32-bit range saturate at its ends.
// - firstInt of a text without digits is 0; a digit run beyond the 32-bit
//   range saturates at 2147483647.
// - split without the character puts the whole text left, nothing right, and
//   returns -1; otherwise it returns the character's offset.
// - A list made from a text keeps empty pieces ("a,,b" has three entries); an
//   empty text makes an empty list.
// - arg with no placeholder left returns the text unchanged. A placeholder is
//   '%' followed by one digit 1 to 9; arg fills every occurrence of the
//   lowest-numbered one.
// - Texts shorter than 48 bytes are kept inside the string itself.
// - When memory runs out, a string that cannot hold its text is left empty;
//   nothing is thrown.
#ifndef VESK_STRING_H
#define VESK_STRING_H

#if defined(_WIN32)
#if defined(VESK_STRING_BUILD)
#define VESK_STRING_API __declspec(dllexport)
#else
#define VESK_STRING_API __declspec(dllimport)
#endif
#else
#define VESK_STRING_API __attribute__((visibility("default")))
#endif

class vesk_string;
class vesk_stringlistIterator;

// The concatenation of two texts (a string and a string or a C text, in either order).
VESK_STRING_API vesk_string operator+(const vesk_string& left, const vesk_string& right);
VESK_STRING_API vesk_string operator+(const vesk_string& left, const char* right);
VESK_STRING_API vesk_string operator+(const char* left, const vesk_string& right);

class VESK_STRING_API vesk_string {
  public:
    vesk_string();
    vesk_string(const char* text);
    vesk_string(const vesk_string& other);
    // The decimal text of n; callers always pass (n, 0, 0, 10).
    vesk_string(int n, char fill, unsigned int width, int base);
    virtual ~vesk_string();

    vesk_string& operator=(const char* text);
    vesk_string& operator=(const vesk_string& other);
    vesk_string& operator+=(const vesk_string& other);

    // The NUL-terminated text, valid while this string lives unchanged.
    operator const char*() const;
    unsigned int length() const;

    int toInt() const;
    operator int() const;
    int firstInt() const;
    bool startsWith(const vesk_string& prefix) const;

    // A new string with the lowest-numbered placeholder filled.
    vesk_string arg(const vesk_string& value) const;
    vesk_string arg(int n, char fill, unsigned int width, int base) const;

    int split(char separator, vesk_string& left, vesk_string& right) const;

  private:
    // Texts shorter than this live inside the string, so the short pieces that
    // commands are made of need no allocation.
    enum { inlineCapacity = 48 };
    friend VESK_STRING_API vesk_string operator+(const vesk_string& left, const vesk_string& right);
    friend VESK_STRING_API vesk_string operator+(const vesk_string& left, const char* right);
    friend VESK_STRING_API vesk_string operator+(const char* left, const vesk_string& right);
    void assign(const char* text, unsigned int bytes);
    // Makes room for a text of `bytes` in an empty string and ends it with a
    // NUL; returns where to write it, or null (the string stays empty).
    char* prepare(unsigned int bytes);
    static vesk_string joined(const char* left, unsigned int leftBytes, const char* right,
                              unsigned int rightBytes);
    bool onHeap() const { return text_ != inline_; }
    char* text_; // inline_ or a C-runtime block
    unsigned int length_;
    char inline_[inlineCapacity];
};

VESK_STRING_API bool operator==(const vesk_string& left, const char* right);
// True when the text is exactly the decimal form of n ("1", not "01").
VESK_STRING_API bool operator==(const vesk_string& left, int n);
VESK_STRING_API bool operator!=(const vesk_string& left, const vesk_string& right);

class VESK_STRING_API vesk_stringlist {
  public:
    vesk_stringlist();
    vesk_stringlist(const vesk_stringlist& other);
    // The pieces of text between occurrences of separator, in order.
    vesk_stringlist(const vesk_string& text, char separator);
    virtual ~vesk_stringlist();

    vesk_stringlist& operator<<(const vesk_string& entry);
    // The entries in order with separator between them.
    vesk_string toString(char separator) const;

    const vesk_stringlistIterator begin() const;
    const vesk_stringlistIterator end() const;

  private:
    friend class vesk_stringlistIterator;
    vesk_stringlist& operator=(const vesk_stringlist&) = delete;
    bool reserve(unsigned int wanted);
    vesk_string* entries_;
    unsigned int count_;
    unsigned int capacity_;
};

// Walks a list that is not changed while it is walked.
class VESK_STRING_API vesk_stringlistIterator {
  public:
    vesk_stringlistIterator(const vesk_stringlist* list, unsigned int position);
    const vesk_string& operator*() const;
    vesk_stringlistIterator operator++();
    bool operator!=(const vesk_stringlistIterator& other) const;

  private:
    const vesk_stringlist* list_;
    unsigned int position_;
};

#endif
