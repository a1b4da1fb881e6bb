#include "input_to_state.h"

#include "step_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// A value a step sent: where it lies in the step's line.
struct Field {
    int step;
    std::size_t start, length;
};

// The values a step hands the script, each as the script receives it: the
// words before its text (a device, an index, a control, a value picked), the
// text whole, and of a message (a parameter's, an event's) its key, the key's
// name before a '.', and its value. Words inside a text are not values of
// their own: a random label text holds many that only look like one. A
// notification's type, a wait's or a tick's number are no operator's value.
void addFields(const std::string& line, int step, std::vector<Field>& fields) {
    std::size_t verbEnd = line.find(' ');
    if (verbEnd == std::string::npos)
        return;
    std::string verb = line.substr(0, verbEnd);
    if (verb == "notify" || verb == "tick" || verb == "wait")
        return;
    std::size_t text = textStart(line);         // npos: a step without a text
    if (verb == "event" && text <= line.size()) // the whole message, not only its value
        text = step_text_detail::afterWords(line, 3);
    std::size_t wordsEnd = text <= line.size() ? text - 1 : line.size();
    for (std::size_t begin = verbEnd + 1; begin < wordsEnd;) {
        std::size_t end = std::min(line.find(' ', begin), wordsEnd);
        if (end > begin)
            fields.push_back({step, begin, end - begin});
        begin = end + 1;
    }
    if (text > line.size())
        return;
    fields.push_back({step, text, line.size() - text});
    if (verb != "param" && verb != "event")
        return;
    std::size_t equals = line.find('=', text);
    if (equals == std::string::npos)
        return;
    fields.push_back({step, text, equals - text});
    fields.push_back({step, equals + 1, line.size() - equals - 1});
    std::size_t dot = line.find('.', text);
    if (dot < equals)
        fields.push_back({step, text, dot - text});
}

// Fields by their first maxOperand bytes: what a logged operand can equal.
using FieldIndex = std::unordered_map<std::string, std::vector<Field>>;

// Where an operand lies in a field: the whole field, or a piece of it (a
// part the script split off, a name before its '.').
struct Match {
    Field field;
    std::size_t at, length; // within the field
};

// How far into a field a piece is looked for, and how many pieces a field gives.
constexpr std::size_t pieceSearch = 4096, piecesPerField = 2;

bool asNumber(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 20)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

class Replacer {
  public:
    Replacer(const std::vector<std::string>& steps, std::size_t limit,
             const WorthTrying& worthTrying)
        : steps_(steps), limit_(limit), worthTrying_(worthTrying) {
        std::vector<Field> fields;
        for (std::size_t i = 0; i < steps.size(); ++i)
            addFields(steps[i], static_cast<int>(i), fields);
        byStep_.resize(steps.size());
        for (const Field& field : fields) {
            index_[steps[field.step].substr(field.start,
                                            std::min(field.length, Comparison::maxOperand))]
                .push_back(field);
            byStep_[static_cast<std::size_t>(field.step)].push_back(field);
        }
    }

    bool full() const { return out_.size() >= limit_; }
    // Each comparison gets a few, so that the first ones leave room for others;
    // only the fields of the step it was made in (all, where that is unknown).
    void nextComparison(int step) {
        fromThis_ = 0;
        step_ = step;
        noStep_ = step >= static_cast<int>(steps_.size()); // a step the session lacks
    }
    std::vector<Replacement> take() { return std::move(out_); }

    // Where `value` is, `by` in its place.
    void replace(const std::string& value, const std::string& by) {
        for (const Match& m : matches(value))
            put(m.field, m.at, m.length, by);
    }

    // Where `text` is, `prefix` before it, and `prefix` alone.
    void prefix(const std::string& text, const std::string& prefix) {
        for (const Match& m : matches(text)) {
            put(m.field, m.at, 0, prefix);
            put(m.field, m.at, m.length, prefix);
        }
    }

    // Where a text read as `number` is: its digits of the number (or, where
    // they differ, the whole text) given as `by`.
    void replaceNumberIn(const std::string& text, const std::string& number,
                         const std::string& by) {
        for (const Match& m : matches(text)) {
            std::string value = steps_[m.field.step].substr(m.field.start + m.at, m.length);
            std::size_t digits = number.empty() ? std::string::npos : value.find(number);
            if (digits == std::string::npos)
                put(m.field, m.at, m.length, by);
            else
                put(m.field, m.at + digits, number.size(), by);
        }
    }

    // A step's value inside a longer operand (the script added to it before
    // comparing: "OS_" and a feed's number, say): where the other operand has
    // the same around it, what it has in the value's place.
    void replaceAround(const std::string& operand, const std::string& other) {
        if (step_ < 0 || noStep_)
            return;
        for (const Field& field : byStep_[static_cast<std::size_t>(step_)]) {
            if (field.length == 0 || field.length >= operand.size())
                continue;
            std::size_t at = operand.find(steps_[field.step].substr(field.start, field.length));
            if (at == std::string::npos)
                continue;
            std::size_t before = at, after = operand.size() - at - field.length;
            if (other.size() >= before + after &&
                other.compare(0, before, operand, 0, before) == 0 &&
                other.compare(other.size() - after, after, operand, at + field.length, after) == 0)
                put(field, 0, field.length, other.substr(before, other.size() - before - after));
        }
    }

  private:
    // The fields that are `value`, then, in the step the comparison was made
    // in, the pieces of longer fields that are.
    std::vector<Match> matches(const std::string& value) const {
        std::vector<Match> found;
        if (noStep_)
            return found;
        auto whole = index_.find(value);
        if (whole != index_.end())
            for (const Field& field : whole->second)
                if (step_ < 0 || field.step == step_)
                    found.push_back({field, 0, field.length});
        if (step_ < 0 || value.empty())
            return found;
        for (const Field& field : byStep_[static_cast<std::size_t>(step_)]) {
            if (field.length <= value.size())
                continue;
            std::string_view text(steps_[field.step].data() + field.start,
                                  std::min(field.length, pieceSearch));
            std::size_t pieces = 0;
            for (std::size_t at = text.find(value);
                 at != std::string_view::npos && pieces < piecesPerField;
                 at = text.find(value, at + 1), ++pieces)
                found.push_back({field, at, value.size()});
        }
        return found;
    }

    // The field's bytes [offset, offset + length) replaced by `by`.
    void put(const Field& field, std::size_t offset, std::size_t length, const std::string& by) {
        if (full() || fromThis_ >= perComparison)
            return;
        std::string line = steps_[field.step];
        line.replace(field.start + offset, length, by);
        std::size_t tried = field.start + offset + by.size();
        if (line == steps_[field.step] || !tried_.insert({field.step, line}).second ||
            (worthTrying_ && !worthTrying_(line, line.substr(0, tried))))
            return;
        out_.push_back({field.step, std::move(line), tried});
        ++fromThis_;
    }

    static constexpr std::size_t perComparison = 3;

    const std::vector<std::string>& steps_;
    std::size_t limit_;
    const WorthTrying& worthTrying_;
    FieldIndex index_;
    std::vector<std::vector<Field>> byStep_;
    std::vector<Replacement> out_;
    std::set<std::pair<int, std::string>> tried_;
    std::size_t fromThis_ = 0;
    int step_ = -1;
    bool noStep_ = false;
};

// Both numbers' neighbours count: an ordering test passes one step past.
std::vector<std::string> numbersNear(const std::string& number) {
    long long value = 0;
    if (!asNumber(number, value))
        return {number};
    return {number, std::to_string(value + 1), std::to_string(value - 1)};
}

// The texts the script read as each number, by the step it read them in.
using Readings = std::unordered_multimap<std::string, std::string>;

std::string readingKey(int step, const std::string& number) {
    return std::to_string(step) + " " + number;
}

void replaceNumbers(Replacer& replacer, const Comparison& compared, const Readings& readings) {
    for (int side = 0; side < 2; ++side) {
        const std::string& mine = side == 0 ? compared.left : compared.right;
        const std::string& other = side == 0 ? compared.right : compared.left;
        auto [first, last] = readings.equal_range(readingKey(compared.step, mine));
        for (const std::string& by : numbersNear(other)) {
            replacer.replace(mine, by);
            for (auto read = first; read != last; ++read)
                replacer.replaceNumberIn(read->second, mine, by);
        }
    }
}

} // namespace

std::vector<Replacement> replacementsFor(const std::vector<std::string>& steps,
                                         const std::vector<Comparison>& comparisons,
                                         std::size_t limit, const WorthTrying& worthTrying) {
    Replacer replacer(steps, limit, worthTrying);
    Readings readings;
    for (const Comparison& read : comparisons)
        if (read.kind == Comparison::conversion)
            readings.insert({readingKey(read.step, read.right), read.left});
    for (const Comparison& compared : comparisons) {
        if (replacer.full())
            break;
        replacer.nextComparison(compared.step);
        switch (compared.kind) {
        case Comparison::equal:
            replacer.replace(compared.left, compared.right);
            replacer.replace(compared.right, compared.left);
            replacer.replaceAround(compared.left, compared.right);
            replacer.replaceAround(compared.right, compared.left);
            break;
        case Comparison::prefix:
            replacer.prefix(compared.left, compared.right);
            break;
        case Comparison::number:
            replaceNumbers(replacer, compared, readings);
            break;
        case Comparison::conversion:
            break; // a link for numbers, not a comparison
        }
    }
    return replacer.take();
}
