// Our own string library's one addition to the interface scripts use: the
// host may ask to be told of every comparison a script makes through it, as
// validate's search does on the native route (on the emulated route the host
// watches the DLL's exports instead, so this is not built there). A library
// without it, the maker's, is simply not watched.
#ifndef VESK_STRING_WATCH_H
#define VESK_STRING_WATCH_H

#include "vesk_string.h"

// What was compared; the numbers are panel-host's own kinds of comparison.
enum {
    vesk_string_watch_equal = 0,     // two texts, for equality
    vesk_string_watch_prefix = 1,    // a text tested for beginning with another
    vesk_string_watch_conversion = 3 // a text read as a number, given as decimal text
};

// Called on the script's thread inside the library's call; both texts belong
// to the library and are valid during the call only.
typedef void (*vesk_string_watcher)(int kind, const char* left, const char* right);

#if !defined(_WIN32)
// Sets the function told of comparisons from now on; null stops it. Looked up
// by this name, so a library without it costs the host nothing.
extern "C" VESK_STRING_API void vesk_string_watch_compares(vesk_string_watcher watcher);
#endif

#endif
