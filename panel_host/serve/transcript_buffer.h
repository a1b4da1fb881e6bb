// The served transcript: lines numbered from the start of the session, kept up
// to a byte budget (the oldest go first), read in pages, and waited on by the
// event streams. Not thread-safe: the server holds its lock around every call.
#ifndef TRANSCRIPT_BUFFER_H
#define TRANSCRIPT_BUFFER_H

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class TranscriptBuffer {
  public:
    static constexpr std::size_t maxLineBytes = 8 * 1024;
    static constexpr std::size_t maxBytes = 4 * 1024 * 1024;

    // Adds a line, cut to maxLineBytes; drops the oldest beyond maxBytes.
    void add(std::string line);

    // The number of the next line (so: how many there have been).
    std::size_t end() const { return first_ + lines_.size(); }
    // The number of the oldest line still kept.
    std::size_t first() const { return first_; }

    struct Page {
        std::size_t from = 0; // the number of lines[0]
        std::vector<std::string> lines;
    };
    // Lines from `since` on (or the oldest kept), at most `limit` and about
    // `byteLimit` bytes of them.
    Page page(std::size_t since, std::size_t limit, std::size_t byteLimit) const;

  private:
    std::deque<std::string> lines_;
    std::size_t first_ = 0;
    std::size_t bytes_ = 0;
};

#endif
