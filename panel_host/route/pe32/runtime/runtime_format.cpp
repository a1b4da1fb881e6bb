#include "runtime_format.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int maxField = 4096; // width and precision
constexpr std::size_t maxOutput = 1u << 20;

class Formatter {
  public:
    Formatter(const std::string& format, const ArgumentReader& argument, const TextReader& text)
        : format_(format), argument_(argument), text_(text) {}

    std::optional<std::string> run(std::string& why) {
        for (at_ = 0; at_ < format_.size();) {
            if (format_[at_] != '%') {
                out_ += format_[at_++];
            } else if (!conversion(why)) {
                return std::nullopt;
            }
            if (out_.size() > maxOutput) {
                why = "the output is longer than 1 MiB";
                return std::nullopt;
            }
        }
        return out_;
    }

  private:
    bool next(std::uint32_t& value, std::string& why) {
        if (argument_(used_++, value))
            return true;
        why = "argument " + std::to_string(used_) + " cannot be read";
        return false;
    }

    // A width or precision: digits or '*'.
    bool field(std::string& directive, std::string& why) {
        if (at_ < format_.size() && format_[at_] == '*') {
            ++at_;
            std::uint32_t value = 0;
            if (!next(value, why))
                return false;
            auto n = static_cast<std::int32_t>(value);
            if (n < -maxField || n > maxField) {
                why = "a width or precision over 4096";
                return false;
            }
            directive += std::to_string(n);
            return true;
        }
        std::size_t start = at_;
        while (at_ < format_.size() && format_[at_] >= '0' && format_[at_] <= '9')
            ++at_;
        if (at_ - start > 4 ||
            (at_ > start && std::stoi(format_.substr(start, at_ - start)) > maxField)) {
            why = "a width or precision over 4096";
            return false;
        }
        directive += format_.substr(start, at_ - start);
        return true;
    }

    bool conversion(std::string& why) {
        std::string directive = "%";
        ++at_;
        while (at_ < format_.size() && std::strchr("-+ 0#", format_[at_]) != nullptr)
            directive += format_[at_++];
        if (!field(directive, why))
            return false;
        if (at_ < format_.size() && format_[at_] == '.') {
            directive += format_[at_++];
            if (!field(directive, why))
                return false;
        }
        while (at_ < format_.size() && (format_[at_] == 'h' || format_[at_] == 'l') &&
               format_.compare(at_, 2, "ll") != 0)
            ++at_; // every integer is 32 bits wide here
        if (at_ >= format_.size()) {
            why = "the format ends inside a conversion";
            return false;
        }
        char kind = format_[at_++];
        directive += kind;
        return convert(kind, directive, why);
    }

    bool convert(char kind, const std::string& directive, std::string& why) {
        char piece[2 * maxField + 64];
        std::uint32_t value = 0;
        if (kind == '%') {
            out_ += '%';
            return true;
        }
        if (std::strchr("diuxXoc", kind) != nullptr) {
            if (!next(value, why))
                return false;
            if (kind == 'd' || kind == 'i')
                std::snprintf(piece, sizeof piece, directive.c_str(),
                              static_cast<std::int32_t>(value));
            else if (kind == 'c')
                std::snprintf(piece, sizeof piece, directive.c_str(),
                              static_cast<int>(value & 0xff));
            else
                std::snprintf(piece, sizeof piece, directive.c_str(), value);
            out_ += piece;
            return true;
        }
        if (kind == 's') {
            std::string text;
            if (!next(value, why))
                return false;
            if (value == 0)
                text = "(null)";
            else if (!text_(value, text)) {
                why = "a %s argument runs into memory the script may not read";
                return false;
            }
            int length = std::snprintf(nullptr, 0, directive.c_str(), text.c_str());
            std::string formatted(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
            std::snprintf(formatted.data(), formatted.size() + 1, directive.c_str(), text.c_str());
            out_ += formatted;
            return true;
        }
        why = std::string("the conversion %") + kind + " is not supported";
        return false;
    }

    const std::string& format_;
    const ArgumentReader& argument_;
    const TextReader& text_;
    std::size_t at_ = 0;
    std::uint32_t used_ = 0;
    std::string out_;
};

} // namespace

std::optional<std::string> formatWithArguments(const std::string& format,
                                               const ArgumentReader& argument,
                                               const TextReader& text, std::string& why) {
    return Formatter(format, argument, text).run(why);
}
