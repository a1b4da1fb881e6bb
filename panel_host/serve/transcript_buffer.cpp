#include "transcript_buffer.h"

#include <algorithm>

void TranscriptBuffer::add(std::string line) {
    if (line.size() > maxLineBytes) {
        std::size_t dropped = line.size() - maxLineBytes;
        line.resize(maxLineBytes);
        line += " [" + std::to_string(dropped) + " more bytes]";
    }
    bytes_ += line.size();
    lines_.push_back(std::move(line));
    while (bytes_ > maxBytes && lines_.size() > 1) {
        bytes_ -= lines_.front().size();
        lines_.pop_front();
        ++first_;
    }
}

TranscriptBuffer::Page TranscriptBuffer::page(std::size_t since, std::size_t limit,
                                              std::size_t byteLimit) const {
    Page page;
    page.from = std::min(std::max(since, first_), end());
    std::size_t bytes = 0;
    for (std::size_t n = page.from; n < end() && page.lines.size() < limit; ++n) {
        const std::string& line = lines_[n - first_];
        if (!page.lines.empty() && bytes + line.size() > byteLimit)
            break;
        bytes += line.size();
        page.lines.push_back(line);
    }
    return page;
}
