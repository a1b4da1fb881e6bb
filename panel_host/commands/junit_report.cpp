#include "junit_report.h"

#include <cstdio>
#include <fstream>

namespace {

const char replacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `at` that XML 1.0 may carry, or 0.
std::size_t xmlCharacterAt(const std::string& s, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b = byte(at);
    if (b < 0x80)
        return (b >= 0x20 || b == '\t' || b == '\n' || b == '\r') ? 1 : 0;
    std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (length == 0 || b > 0xF4 || at + length > s.size())
        return 0;
    unsigned long code = b & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    bool shortest = (length == 2 && code >= 0x80) || (length == 3 && code >= 0x800) ||
                    (length == 4 && code >= 0x10000);
    bool allowed =
        (code < 0xD800 || code > 0xDFFF) && code != 0xFFFE && code != 0xFFFF && code <= 0x10FFFF;
    return shortest && allowed ? length : 0;
}

std::string xmlText(const std::string& s) {
    std::string out;
    for (std::size_t at = 0; at < s.size();) {
        std::size_t length = xmlCharacterAt(s, at);
        if (length == 0) {
            out += replacement;
            ++at;
            continue;
        }
        char c = s[at];
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&apos;";
        else if (c == '\r')
            out += "&#13;";
        else
            out.append(s, at, length);
        at += length;
    }
    return out;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value < 0 ? 0.0 : value);
    return text;
}

std::string element(const char* name, const std::optional<std::string>& message,
                    const std::string& details) {
    std::string out = std::string("      <") + name + " message=\"" + xmlText(*message) + "\"";
    if (details.empty())
        return out + "/>\n";
    return out + ">" + xmlText(details) + "</" + name + ">\n";
}

} // namespace

std::string junitXml(const JUnitSuite& suite) {
    int failures = 0, errors = 0, skipped = 0;
    for (const JUnitCase& c : suite.cases) {
        failures += c.failure ? 1 : 0;
        errors += c.error ? 1 : 0;
        skipped += c.skipped ? 1 : 0;
    }
    std::string counts = " tests=\"" + std::to_string(suite.cases.size()) + "\" failures=\"" +
                         std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                         "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" +
                         seconds(suite.seconds) + "\"";
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuites name=\"" + xmlText(suite.name) + "\"" + counts + ">\n";
    out += "  <testsuite name=\"" + xmlText(suite.name) + "\"" + counts + ">\n";
    for (const JUnitCase& c : suite.cases) {
        out += "    <testcase name=\"" + xmlText(c.name) + "\" classname=\"" +
               xmlText(c.className) + "\" time=\"" + seconds(c.seconds) + "\"";
        if (!c.failure && !c.error && !c.skipped && c.systemOut.empty()) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        if (c.skipped)
            out += element("skipped", c.skipped, "");
        if (c.failure)
            out += element("failure", c.failure, c.details);
        if (c.error)
            out += element("error", c.error, c.details);
        if (!c.systemOut.empty())
            out += "      <system-out>" + xmlText(c.systemOut) + "</system-out>\n";
        out += "    </testcase>\n";
    }
    out += "  </testsuite>\n</testsuites>\n";
    return out;
}

bool writeJUnit(const std::string& path, const JUnitSuite& suite) {
    std::ofstream out(path, std::ios::binary);
    out << junitXml(suite);
    out.close(); // a full disk shows only when the buffer reaches the file
    return !out.fail();
}
