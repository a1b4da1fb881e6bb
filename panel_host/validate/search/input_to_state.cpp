#include "input_to_state.h"

#include "step_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
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
        for (const Field& field : fields)
            index_[steps[field.step].substr(field.start,
                                            std::min(field.length, Comparison::maxOperand))]
                .push_back(field);
    }

    bool full() const { return out_.size() >= limit_; }
    // Each comparison gets a few, so that the first ones leave room for others;
    // only the fields of the step it was made in (all, where that is unknown).
    void nextComparison(int step) {
        fromThis_ = 0;
        step_ = step;
    }
    std::vector<Replacement> take() { return std::move(out_); }

    // Every field that is `value`, given `by` in its place.
    void replace(const std::string& value, const std::string& by) {
        for (const Field& field : fieldsHolding(value))
            put(field, 0, field.length, by);
    }

    // Every field that is `text`, with `prefix` before it, and `prefix` alone.
    void prefix(const std::string& text, const std::string& prefix) {
        for (const Field& field : fieldsHolding(text)) {
            put(field, 0, 0, prefix);
            put(field, 0, field.length, prefix);
        }
    }

    // Every field that is a text read as `number`: its digits of the number
    // (or, where they differ, the whole text) given as `by`.
    void replaceNumberIn(const std::string& text, const std::string& number,
                         const std::string& by) {
        for (const Field& field : fieldsHolding(text)) {
            std::string value = steps_[field.step].substr(field.start, field.length);
            std::size_t digits = number.empty() ? std::string::npos : value.find(number);
            if (digits == std::string::npos)
                put(field, 0, field.length, by);
            else
                put(field, digits, number.size(), by);
        }
    }

  private:
    std::vector<Field> fieldsHolding(const std::string& value) const {
        std::vector<Field> fields;
        auto found = index_.find(value);
        if (found != index_.end())
            for (const Field& field : found->second)
                if (step_ < 0 || field.step == step_)
                    fields.push_back(field);
        return fields;
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
    std::vector<Replacement> out_;
    std::set<std::pair<int, std::string>> tried_;
    std::size_t fromThis_ = 0;
    int step_ = -1;
};

// Both numbers' neighbours count: an ordering test passes one step past.
std::vector<std::string> numbersNear(const std::string& number) {
    long long value = 0;
    if (!asNumber(number, value))
        return {number};
    std::vector<std::string> near = {number};
    if (value < LLONG_MAX)
        near.push_back(std::to_string(value + 1));
    if (value > LLONG_MIN)
        near.push_back(std::to_string(value - 1));
    return near;
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
