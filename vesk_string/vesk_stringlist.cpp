#include "vesk_string.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Constructs entries in the list's own C-runtime block; a tag of our own keeps
// this apart from the standard placement form, which this layer cannot include.
struct inPlace {};

} // namespace

void* operator new(size_t, void* where, inPlace) noexcept { return where; }
// Matching release form, used only if a constructor could throw (ours never do).
[[maybe_unused]] void operator delete(void*, void*, inPlace) noexcept {}

vesk_stringlist::vesk_stringlist() : entries_(0), count_(0), capacity_(0) {}

vesk_stringlist::vesk_stringlist(const vesk_stringlist& other)
    : entries_(0), count_(0), capacity_(0) {
    if (!reserve(other.count_))
        return;
    for (unsigned int i = 0; i < other.count_; ++i)
        *this << other.entries_[i];
}

vesk_stringlist::vesk_stringlist(const vesk_string& text, char separator)
    : entries_(0), count_(0), capacity_(0) {
    const char* piece = text;
    if (*piece == '\0')
        return;
    for (;;) {
        const char* end = strchr(piece, separator);
        if (end == 0 || separator == '\0') {
            *this << vesk_string(piece);
            return;
        }
        unsigned int bytes = static_cast<unsigned int>(end - piece);
        char* copy = static_cast<char*>(malloc(bytes + 1));
        if (copy == 0)
            return;
        memcpy(copy, piece, bytes);
        copy[bytes] = '\0';
        *this << vesk_string(copy);
        free(copy);
        piece = end + 1;
    }
}

vesk_stringlist::~vesk_stringlist() {
    for (unsigned int i = 0; i < count_; ++i)
        entries_[i].~vesk_string();
    free(entries_);
}

bool vesk_stringlist::reserve(unsigned int wanted) {
    if (wanted <= capacity_)
        return true;
    unsigned int capacity = capacity_ == 0 ? 4 : capacity_;
    while (capacity < wanted)
        capacity *= 2;
    vesk_string* grown = static_cast<vesk_string*>(malloc(capacity * sizeof(vesk_string)));
    if (grown == 0)
        return false;
    for (unsigned int i = 0; i < count_; ++i) {
        new (&grown[i], inPlace()) vesk_string(entries_[i]);
        entries_[i].~vesk_string();
    }
    free(entries_);
    entries_ = grown;
    capacity_ = capacity;
    return true;
}

vesk_stringlist& vesk_stringlist::operator<<(const vesk_string& entry) {
    if (reserve(count_ + 1)) {
        new (&entries_[count_], inPlace()) vesk_string(entry);
        ++count_;
    }
    return *this;
}

vesk_string vesk_stringlist::toString(char separator) const {
    char between[2] = {separator, '\0'};
    vesk_string joined;
    for (unsigned int i = 0; i < count_; ++i) {
        if (i > 0)
            joined += vesk_string(between);
        joined += entries_[i];
    }
    return joined;
}

const vesk_stringlistIterator vesk_stringlist::begin() const {
    return vesk_stringlistIterator(this, 0);
}

const vesk_stringlistIterator vesk_stringlist::end() const {
    return vesk_stringlistIterator(this, count_);
}

vesk_stringlistIterator::vesk_stringlistIterator(const vesk_stringlist* list,
                                                 unsigned int position)
    : list_(list), position_(position) {}

const vesk_string& vesk_stringlistIterator::operator*() const {
    return list_->entries_[position_];
}

vesk_stringlistIterator vesk_stringlistIterator::operator++() {
    if (position_ < list_->count_)
        ++position_;
    return *this;
}

bool vesk_stringlistIterator::operator!=(const vesk_stringlistIterator& other) const {
    return list_ != other.list_ || position_ != other.position_;
}
