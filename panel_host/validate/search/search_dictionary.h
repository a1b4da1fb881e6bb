// Words the search puts into steps: the panel's control ids and item values,
// the printable strings of the library's read-only data (the parameter keys
// a script compares against live there), and values the script itself sent.
// Bounded; the same inputs give the same words in the same order.
#ifndef SEARCH_DICTIONARY_H
#define SEARCH_DICTIONARY_H

#include "panel_layout.h"

#include <set>
#include <string>
#include <vector>

class SearchDictionary {
  public:
    static constexpr size_t maxWords = 2048;

    void addLayout(const PanelLayout& layout);
    // The strings of an ELF `.rodata` or a PE `.rdata`; false (and nothing
    // added) for a file that is neither or whose sections do not add up.
    bool addLibraryStrings(const std::string& path);
    void add(const std::string& word);

    const std::vector<std::string>& words() const { return words_; }
    // The identifiers among the library's strings, in the order the library
    // holds them: literals a function compares against lie side by side.
    const std::vector<std::string>& libraryIdentifiers() const { return identifiers_; }
    bool empty() const { return words_.empty(); }

  private:
    std::vector<std::string> words_;
    std::vector<std::string> identifiers_;
    std::set<std::string> known_;
};

// The read-only data section of an ELF or PE file's bytes; empty when none.
std::string readOnlyData(const std::string& file);
// Printable runs of 3 to 48 characters, and the identifiers inside them.
std::vector<std::string> printableStrings(const std::string& bytes, size_t limit);

#endif
