#include "session_features.h"

#include <map>
#include <set>
#include <sstream>

namespace {

constexpr std::uint64_t fnvStart = 0xcbf29ce484222325ULL;

std::uint64_t mix(std::uint64_t hash, const std::string& text) {
    for (unsigned char c : text)
        hash = (hash ^ c) * 0x100000001b3ULL;
    return (hash ^ 0xff) * 0x100000001b3ULL; // a separator, so "ab"+"c" differs from "a"+"bc"
}

std::uint64_t mix(std::uint64_t hash, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        hash = (hash ^ ((value >> (8 * i)) & 0xff)) * 0x100000001b3ULL;
    return hash;
}

std::string shapeOf(const std::string& value) {
    bool letters = false, digits = false, other = false, high = false;
    for (unsigned char c : value) {
        if (c >= 0x80 || c < 0x20)
            high = true;
        else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            letters = true;
        else if (c >= '0' && c <= '9')
            digits = true;
        else
            other = true;
    }
    size_t n = value.size();
    char length = n == 0 ? '0' : n <= 4 ? 's' : n <= 16 ? 'm' : n <= 64 ? 'l' : 'x';
    std::string shape = "<";
    shape += length;
    if (letters)
        shape += 'a';
    if (digits)
        shape += '9';
    if (other)
        shape += '.';
    if (high)
        shape += '~';
    return shape + ">";
}

// A hit count's bucket, as AFL keeps them: 1, 2, 3, 4-7, 8-15, 16-31,
// 32-127, 128 and more. A flash that ran 4 ticks and one that ran 12 differ;
// 12 and 13 do not.
int countBucket(int count) {
    static const int bounds[] = {1, 2, 3, 4, 8, 16, 32, 128};
    int bucket = 0;
    for (int i = 0; i < 8; ++i)
        if (count >= bounds[i])
            bucket = i;
    return bucket;
}

// A text framed as "SIZE:BYTES", at most `most` bytes.
bool readSized(std::istream& in, size_t most, std::string& text) {
    size_t size = 0;
    char colon = 0;
    if (!(in >> size >> colon) || colon != ':' || size > most)
        return false;
    text.assign(size, '\0');
    return size == 0 || static_cast<bool>(in.read(&text[0], static_cast<std::streamsize>(size)));
}

// A step line crossing from a worker: the longest text a host hands a script, and its words.
constexpr size_t maxReplacementLine = 128 * 1024;

std::string verbOf(const std::string& line) {
    return line.substr(0, line.find(' '));
}

// The quoted values of a command, as sent.
std::vector<std::string> quotedValues(const std::string& command) {
    std::vector<std::string> values;
    size_t at = 0;
    while ((at = command.find('\'', at)) != std::string::npos) {
        size_t end = command.find('\'', at + 1);
        if (end == std::string::npos)
            break;
        values.push_back(command.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return values;
}

} // namespace

std::string normalisedCommand(const std::string& command) {
    std::string out;
    bool inDigits = false;
    for (size_t i = 0; i < command.size() && out.size() < 200; ++i) {
        char c = command[i];
        if (c == '\'') {
            size_t end = command.find('\'', i + 1);
            if (end == std::string::npos)
                end = command.size();
            std::string value = command.substr(i + 1, end - i - 1);
            // A value's key (statesheet=, text=) says what it is; keep it whole.
            size_t equals = value.find('=');
            std::string key = equals == std::string::npos ? "" : value.substr(0, equals + 1);
            std::string rest = equals == std::string::npos ? value : value.substr(equals + 1);
            bool word = rest.size() <= 24 && rest.find_first_of(" 0123456789") == std::string::npos;
            out += "'" + key + (word && key == "statesheet=" ? rest : shapeOf(rest)) + "'";
            i = end;
            inDigits = false;
            continue;
        }
        bool digit = c >= '0' && c <= '9';
        if (digit && inDigits)
            continue;
        out += digit ? '#' : c;
        inDigits = digit;
    }
    return out;
}

SessionFeatures sessionFeatures(const std::vector<std::string>& lines,
                                const SessionOutcome& outcome, const WorthTrying& worthTrying) {
    SessionFeatures features;
    std::vector<std::string> steps;
    for (const std::string& line : lines)
        if (line.rfind("startup ", 0) != 0)
            steps.push_back(line);
    std::set<std::uint64_t> seen;
    std::set<std::string> words;
    std::map<std::uint64_t, int> times; // how often each answer came
    std::uint64_t previous = 0;
    for (size_t i = 0; i < outcome.records.size() && i < steps.size(); ++i) {
        const StepRecord& record = outcome.records[i];
        std::uint64_t answer = mix(fnvStart, verbOf(steps[i]));
        for (size_t c = 0; c < record.commands.size() && c < 12; ++c) {
            answer = mix(answer, normalisedCommand(record.commands[c]));
            for (const std::string& value : quotedValues(record.commands[c]))
                if (words.size() < 24 && !value.empty() && value.size() <= 48)
                    words.insert(value);
        }
        if (record.commands.size() >= 12)
            answer = mix(answer, std::string("many"));
        if (record.reply)
            answer = mix(answer, "reply " + normalisedCommand("'" + *record.reply + "'"));
        ++times[answer];
        // The step is named for an answer of its own, not for a new pair.
        const std::uint64_t alone = mix(1, answer), pair = mix(mix(2, previous), answer);
        for (std::uint64_t feature : {alone, pair})
            if (seen.insert(feature).second) {
                features.responses.push_back(feature);
                features.responseSteps.push_back(feature == alone ? static_cast<int>(i) : -1);
            }
        previous = answer;
    }
    for (const auto& [answer, count] : times)
        if (count > 1) {
            features.responses.push_back(mix(mix(5, answer), countBucket(count)));
            features.responseSteps.push_back(-1);
        }
    if (outcome.failed) {
        features.responses.push_back(mix(
            mix(3, outcome.kind),
            verbOf(outcome.failedStep >= 0 && static_cast<size_t>(outcome.failedStep) < steps.size()
                       ? steps[outcome.failedStep]
                       : "")));
        features.responseSteps.push_back(-1);
    }
    if (outcome.coverage)
        for (const CodeRange& block : outcome.coverage->reached)
            features.blocks.push_back(mix(mix(4, block.module), block.offset));
    // A block or guard run more often than before, by bucket: a loop that went
    // round twelve times where it went four is new, though no new code ran.
    for (const auto& [where, count] : outcome.hits)
        if (count > 1) {
            features.responses.push_back(mix(mix(6, where), countBucket(count)));
            features.responseSteps.push_back(-1);
        }
    features.sentWords.assign(words.begin(), words.end());
    // The texts the script compared with, as words to try elsewhere too.
    std::size_t comparedWords = 0;
    for (const Comparison& compared : outcome.comparisons)
        if ((compared.kind == Comparison::equal || compared.kind == Comparison::prefix) &&
            comparedWords < 16 && !compared.right.empty() && compared.right.size() <= 48 &&
            compared.right.find_first_of(" \t\r\n") == std::string::npos) {
            features.sentWords.push_back(compared.right);
            ++comparedWords;
        }
    features.replacements =
        replacementsFor(steps, outcome.comparisons, maxReplacements, worthTrying);
    // What the code compared against, as the numbers an operator or a router
    // would send: small ones only (addresses and masks say nothing).
    for (std::uint32_t value : outcome.compared) {
        auto number = static_cast<std::int32_t>(value);
        if (number >= -100000 && number <= 100000 && features.sentWords.size() < 24 + 64)
            features.sentWords.push_back(std::to_string(number));
    }
    return features;
}

std::string encodeFeatures(const std::vector<SessionFeatures>& sessions) {
    std::ostringstream out;
    out << sessions.size() << "\n";
    for (const SessionFeatures& s : sessions) {
        out << s.responses.size() << " " << s.blocks.size() << " " << s.sentWords.size() << " "
            << s.replacements.size() << "\n";
        for (std::uint64_t f : s.responses)
            out << f << " ";
        for (size_t i = 0; i < s.responses.size(); ++i)
            out << (i < s.responseSteps.size() ? s.responseSteps[i] : -1) << " ";
        for (std::uint64_t f : s.blocks)
            out << f << " ";
        out << "\n";
        for (const std::string& w : s.sentWords)
            out << w.size() << ":" << w;
        for (const Replacement& r : s.replacements)
            out << r.step << " " << r.tried << " " << r.line.size() << ":" << r.line;
        out << "\n";
    }
    return out.str();
}

bool decodeFeatures(const std::string& text, std::vector<SessionFeatures>& sessions) {
    std::istringstream in(text);
    size_t count = 0;
    if (!(in >> count) || count > 1000000)
        return false;
    sessions.assign(count, {});
    for (SessionFeatures& s : sessions) {
        size_t responses = 0, blocks = 0, words = 0, replacements = 0;
        if (!(in >> responses >> blocks >> words >> replacements) || responses > 10000000 ||
            blocks > 10000000 || words > 1000 || replacements > maxReplacements)
            return false;
        s.responses.resize(responses);
        s.responseSteps.resize(responses);
        s.blocks.resize(blocks);
        for (std::uint64_t& f : s.responses)
            if (!(in >> f))
                return false;
        for (int& step : s.responseSteps)
            if (!(in >> step) || step < -1)
                return false;
        for (std::uint64_t& f : s.blocks)
            if (!(in >> f))
                return false;
        for (size_t w = 0; w < words; ++w) {
            std::string word;
            if (!readSized(in, 4096, word))
                return false;
            s.sentWords.push_back(word);
        }
        for (size_t r = 0; r < replacements; ++r) {
            Replacement replacement;
            if (!(in >> replacement.step >> replacement.tried) || replacement.step < 0 ||
                !readSized(in, maxReplacementLine, replacement.line) ||
                replacement.tried > replacement.line.size())
                return false;
            s.replacements.push_back(std::move(replacement));
        }
    }
    return true;
}
