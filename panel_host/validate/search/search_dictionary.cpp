#include "search_dictionary.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace {

constexpr size_t maxFileBytes = 64u * 1024 * 1024;

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    std::streamoff size = in.tellg();
    if (size <= 0 || static_cast<size_t>(size) > maxFileBytes)
        return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    return static_cast<bool>(in.read(&bytes[0], size));
}

template <class T> bool read(const std::string& bytes, std::uint64_t at, T& out) {
    if (at > bytes.size() || bytes.size() - at < sizeof(T))
        return false;
    std::memcpy(&out, bytes.data() + at, sizeof(T));
    return true;
}

std::string slice(const std::string& bytes, std::uint64_t at, std::uint64_t size) {
    if (at > bytes.size() || size > bytes.size() - at)
        return {};
    return bytes.substr(static_cast<size_t>(at), static_cast<size_t>(size));
}

std::string cString(const std::string& bytes, std::uint64_t at) {
    if (at >= bytes.size())
        return {};
    size_t end = bytes.find('\0', static_cast<size_t>(at));
    return bytes.substr(static_cast<size_t>(at),
                        (end == std::string::npos ? bytes.size() : end) - at);
}

// ELF, 32- or 64-bit little-endian: the section named ".rodata".
std::string elfReadOnly(const std::string& bytes) {
    bool wide = bytes[4] == 2;
    std::uint64_t table = 0;
    std::uint16_t entrySize = 0, count = 0, names = 0;
    if (wide) {
        if (!read(bytes, 0x28, table) || !read(bytes, 0x3a, entrySize) ||
            !read(bytes, 0x3c, count) || !read(bytes, 0x3e, names))
            return {};
    } else {
        std::uint32_t table32 = 0;
        if (!read(bytes, 0x20, table32) || !read(bytes, 0x2e, entrySize) ||
            !read(bytes, 0x30, count) || !read(bytes, 0x32, names))
            return {};
        table = table32;
    }
    if (entrySize < (wide ? 64 : 40) || names >= count || count > 4096)
        return {};
    auto section = [&](std::uint16_t index, std::uint32_t& name, std::uint64_t& offset,
                       std::uint64_t& size) {
        std::uint64_t at = table + static_cast<std::uint64_t>(index) * entrySize;
        if (wide)
            return read(bytes, at, name) && read(bytes, at + 0x18, offset) &&
                   read(bytes, at + 0x20, size);
        std::uint32_t offset32 = 0, size32 = 0;
        bool ok = read(bytes, at, name) && read(bytes, at + 0x10, offset32) &&
                  read(bytes, at + 0x14, size32);
        offset = offset32;
        size = size32;
        return ok;
    };
    std::uint32_t name = 0;
    std::uint64_t namesAt = 0, namesSize = 0;
    if (!section(names, name, namesAt, namesSize))
        return {};
    std::string nameTable = slice(bytes, namesAt, namesSize);
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint64_t offset = 0, size = 0;
        if (section(i, name, offset, size) && cString(nameTable, name) == ".rodata")
            return slice(bytes, offset, size);
    }
    return {};
}

// PE: the section named ".rdata".
std::string peReadOnly(const std::string& bytes) {
    std::uint32_t header = 0;
    std::uint16_t sections = 0, optionalSize = 0;
    if (!read(bytes, 0x3c, header) || slice(bytes, header, 4) != std::string("PE\0\0", 4) ||
        !read(bytes, header + 6, sections) || !read(bytes, header + 20, optionalSize))
        return {};
    std::uint64_t table = static_cast<std::uint64_t>(header) + 24 + optionalSize;
    for (std::uint16_t i = 0; i < sections && i < 96; ++i) {
        std::uint64_t at = table + 40ULL * i;
        std::string name = cString(slice(bytes, at, 8) + std::string(1, '\0'), 0);
        std::uint32_t rawSize = 0, rawAt = 0;
        if (!read(bytes, at + 16, rawSize) || !read(bytes, at + 20, rawAt))
            return {};
        if (name == ".rdata")
            return slice(bytes, rawAt, rawSize);
    }
    return {};
}

bool identifierCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

std::string readOnlyData(const std::string& file) {
    if (file.size() >= 0x40 &&
        file.compare(0, 4,
                     "\x7f"
                     "ELF") == 0 &&
        file[5] == 1)
        return elfReadOnly(file);
    if (file.size() >= 0x40 && file.compare(0, 2, "MZ") == 0)
        return peReadOnly(file);
    return {};
}

std::vector<std::string> printableStrings(const std::string& bytes, size_t limit) {
    std::vector<std::string> found;
    std::string run;
    auto take = [&] {
        if (run.size() >= 3 && run.size() <= 48)
            found.push_back(run);
        // The identifiers inside a longer text ("return=%s" holds "return").
        std::string word;
        for (size_t i = 0; i <= run.size(); ++i) {
            if (i < run.size() && identifierCharacter(run[i])) {
                word += run[i];
                continue;
            }
            if (word.size() >= 2 && word.size() <= 32 && word != run)
                found.push_back(word);
            word.clear();
        }
        run.clear();
    };
    for (size_t i = 0; i < bytes.size() && found.size() < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f)
            run += static_cast<char>(c);
        else
            take();
    }
    take();
    if (found.size() > limit)
        found.resize(limit);
    return found;
}

void SearchDictionary::add(const std::string& word) {
    if (word.empty() || word.size() > 48 || words_.size() >= maxWords ||
        word.find_first_of("\r\n") != std::string::npos || !known_.insert(word).second)
        return;
    words_.push_back(word);
}

void SearchDictionary::addLayout(const PanelLayout& layout) {
    for (const LayoutControl& control : layout.controls) {
        add(control.id);
        for (const LayoutItem& item : control.items) {
            add(std::to_string(item.page));
            add(std::to_string(item.index));
        }
    }
}

bool SearchDictionary::addLibraryStrings(const std::string& path) {
    std::string file;
    if (!readFile(path, file))
        return false;
    std::string data = readOnlyData(file);
    if (data.empty())
        return false;
    for (const std::string& word : printableStrings(data, maxWords)) {
        add(word);
        bool identifier =
            word.size() >= 2 && word.size() <= 24 && !(word[0] >= '0' && word[0] <= '9');
        for (char c : word)
            identifier = identifier && identifierCharacter(c);
        if (identifier && identifiers_.size() < 512)
            identifiers_.push_back(word);
    }
    return true;
}
