#include "outcome_frames.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

// Bounds what a frame may claim, whatever bytes it holds.
constexpr std::int64_t maxCoverageEntries = 1 << 22;
constexpr std::int64_t maxComparedEntries = 4096;

// Outcomes cross from child to parent as length-prefixed frames of
// length-prefixed fields, so that any bytes a script sends survive.
class FrameWriter {
  public:
    void number(std::int64_t value) { bytes_.append(reinterpret_cast<const char*>(&value), 8); }
    void text(const std::string& value) {
        number(static_cast<std::int64_t>(value.size()));
        bytes_ += value;
    }
    void texts(const std::vector<std::string>& values) {
        number(static_cast<std::int64_t>(values.size()));
        for (const std::string& value : values)
            text(value);
    }
    // The whole frame, its length first.
    std::string frame() const {
        FrameWriter framed;
        framed.text(bytes_);
        return framed.bytes_;
    }

  private:
    std::string bytes_;
};

class FrameReader {
  public:
    explicit FrameReader(const std::string& bytes) : bytes_(bytes) {}
    bool number(std::int64_t& value) {
        if (bytes_.size() - at_ < 8)
            return false;
        std::memcpy(&value, bytes_.data() + at_, 8);
        at_ += 8;
        return true;
    }
    bool text(std::string& value) {
        std::int64_t size = 0;
        if (!number(size) || size < 0 || static_cast<std::uint64_t>(size) > bytes_.size() - at_)
            return false;
        value.assign(bytes_, at_, static_cast<size_t>(size));
        at_ += static_cast<size_t>(size);
        return true;
    }
    // A count of entries, each of at least `bytesEach` bytes: no more than the
    // frame can hold, so a frame cannot make its reader allocate past its size.
    bool count(std::int64_t& value, std::int64_t most, std::size_t bytesEach) {
        return number(value) && value >= 0 && value <= most &&
               static_cast<std::uint64_t>(value) <= (bytes_.size() - at_) / bytesEach;
    }
    bool texts(std::vector<std::string>& values) {
        std::int64_t count = 0;
        if (!this->count(count, INT32_MAX, 8))
            return false;
        values.resize(static_cast<size_t>(count));
        for (std::string& value : values)
            if (!text(value))
                return false;
        return true;
    }

  private:
    const std::string& bytes_;
    size_t at_ = 0;
};

// How an outcome's coverage is sent.
enum CoverageField : std::int64_t { noCoverage = 0, coverageFollows = 1, coverageAsBefore = 2 };

bool sameRanges(const std::vector<CodeRange>& a, const std::vector<CodeRange>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const CodeRange& x, const CodeRange& y) {
                          return x.offset == y.offset && x.size == y.size && x.module == y.module;
                      });
}

bool sameCoverage(const CodeCoverage& a, const CodeCoverage& b) {
    auto sameExport = [](const std::pair<CodeRange, std::string>& x,
                         const std::pair<CodeRange, std::string>& y) {
        return x.second == y.second && sameRanges({x.first}, {y.first});
    };
    auto sameSource = [](const SymbolSource& x, const SymbolSource& y) {
        return x.module == y.module && x.path == y.path && x.unitAddresses == y.unitAddresses;
    };
    return sameRanges(a.reached, b.reached) && sameRanges(a.code, b.code) &&
           std::equal(a.exports.begin(), a.exports.end(), b.exports.begin(), b.exports.end(),
                      sameExport) &&
           std::equal(a.symbols.begin(), a.symbols.end(), b.symbols.begin(), b.symbols.end(),
                      sameSource);
}

// The comparisons a session's route saw: few, and each operand short.
bool decodeComparisons(FrameReader& in, std::vector<Comparison>& comparisons) {
    std::int64_t count = 0;
    if (!in.count(count, maxComparedEntries, 32))
        return false;
    comparisons.resize(static_cast<size_t>(count));
    for (Comparison& compared : comparisons) {
        std::int64_t kind = 0, step = 0;
        if (!in.number(kind) || kind < Comparison::equal || kind > Comparison::conversion ||
            !in.number(step) || step < -1 || step > INT32_MAX || !in.text(compared.left) ||
            !in.text(compared.right) || compared.left.size() > Comparison::maxOperand ||
            compared.right.size() > Comparison::maxOperand)
            return false;
        compared.kind = static_cast<Comparison::Kind>(kind);
        compared.step = static_cast<int>(step);
    }
    return true;
}

} // namespace

std::string encodeOutcome(const SessionOutcome& outcome, const SessionOutcome* previous) {
    FrameWriter out;
    out.number(outcome.failed);
    out.number(outcome.cannotLoad);
    out.text(outcome.kind);
    out.text(outcome.message);
    out.number(outcome.failedStep);
    out.texts(outcome.transcript);
    out.number(static_cast<std::int64_t>(outcome.records.size()));
    for (const StepRecord& record : outcome.records) {
        out.texts(record.commands);
        out.number(record.parameter);
        out.number(record.reply.has_value());
        out.text(record.reply.value_or(""));
        out.number(record.transcriptEnd);
    }
    out.text(outcome.shownLayout);
    out.number(static_cast<std::int64_t>(outcome.prints.bytes));
    out.text(outcome.prints.kept);
    out.number(static_cast<std::int64_t>(outcome.compared.size()));
    for (std::uint32_t value : outcome.compared)
        out.number(value);
    out.number(static_cast<std::int64_t>(outcome.comparisons.size()));
    for (const Comparison& compared : outcome.comparisons) {
        out.number(compared.kind);
        out.number(compared.step);
        out.text(compared.left);
        out.text(compared.right);
    }
    out.number(static_cast<std::int64_t>(outcome.hits.size()));
    for (const auto& [where, count] : outcome.hits) {
        out.number(where);
        out.number(count);
    }
    if (outcome.coverage && previous != nullptr && previous->coverage &&
        sameCoverage(*outcome.coverage, *previous->coverage)) {
        out.number(coverageAsBefore);
        return out.frame();
    }
    out.number(outcome.coverage ? coverageFollows : noCoverage);
    if (outcome.coverage) {
        auto ranges = [&](const std::vector<CodeRange>& list) {
            out.number(static_cast<std::int64_t>(list.size()));
            for (const CodeRange& r : list) {
                out.text(r.module);
                out.number(r.offset);
                out.number(r.size);
            }
        };
        ranges(outcome.coverage->code);
        ranges(outcome.coverage->reached);
        out.number(static_cast<std::int64_t>(outcome.coverage->exports.size()));
        for (const auto& [at, name] : outcome.coverage->exports) {
            out.text(at.module);
            out.number(at.offset);
            out.text(name);
        }
        out.number(static_cast<std::int64_t>(outcome.coverage->symbols.size()));
        for (const SymbolSource& source : outcome.coverage->symbols) {
            out.text(source.module);
            out.text(source.path);
            out.number(static_cast<std::int64_t>(source.unitAddresses.size()));
            for (std::uint32_t address : source.unitAddresses)
                out.number(address);
        }
    }
    return out.frame();
}

bool decodeOutcome(const std::string& bytes, SessionOutcome& outcome,
                   const SessionOutcome* previous) {
    FrameReader in(bytes);
    std::int64_t failed = 0, cannotLoad = 0, step = 0, count = 0;
    if (!in.number(failed) || !in.number(cannotLoad) || !in.text(outcome.kind) ||
        !in.text(outcome.message) || !in.number(step) || !in.texts(outcome.transcript) ||
        !in.count(count, INT32_MAX, 40))
        return false;
    outcome.failed = failed != 0;
    outcome.cannotLoad = cannotLoad != 0;
    outcome.failedStep = static_cast<int>(step);
    outcome.records.resize(static_cast<size_t>(count));
    for (StepRecord& record : outcome.records) {
        std::int64_t parameter = 0, hasReply = 0, end = 0;
        std::string reply;
        if (!in.texts(record.commands) || !in.number(parameter) || !in.number(hasReply) ||
            !in.text(reply) || !in.number(end))
            return false;
        record.parameter = parameter != 0;
        if (hasReply)
            record.reply = reply;
        record.transcriptEnd = static_cast<int>(end);
    }
    std::int64_t compared = 0, hasCoverage = 0, printed = 0;
    if (!in.text(outcome.shownLayout) || !in.number(printed) || printed < 0 ||
        !in.text(outcome.prints.kept) || outcome.prints.kept.size() > printedKeptBytes ||
        !in.count(compared, maxComparedEntries, 8))
        return false;
    outcome.prints.bytes = static_cast<std::uint64_t>(printed);
    outcome.compared.resize(static_cast<size_t>(compared));
    for (std::uint32_t& value : outcome.compared) {
        std::int64_t number = 0;
        if (!in.number(number) || number < 0 || number > 0xFFFFFFFFll)
            return false;
        value = static_cast<std::uint32_t>(number);
    }
    if (!decodeComparisons(in, outcome.comparisons))
        return false;
    std::int64_t hits = 0;
    if (!in.count(hits, maxCoverageEntries, 16))
        return false;
    outcome.hits.resize(static_cast<size_t>(hits));
    for (auto& [where, count] : outcome.hits) {
        std::int64_t at = 0, times = 0;
        if (!in.number(at) || !in.number(times) || at < 0 || at > 0xFFFFFFFFll || times < 0 ||
            times > 255)
            return false;
        where = static_cast<std::uint32_t>(at);
        count = static_cast<std::uint8_t>(times);
    }
    if (!in.number(hasCoverage))
        return false;
    if (hasCoverage == noCoverage)
        return true;
    if (hasCoverage == coverageAsBefore) {
        if (previous == nullptr || !previous->coverage)
            return false;
        outcome.coverage = previous->coverage; // shared, not copied
        return true;
    }
    if (hasCoverage != coverageFollows)
        return false;
    CodeCoverage coverage;
    auto ranges = [&](std::vector<CodeRange>& list) {
        std::int64_t count = 0;
        if (!in.count(count, maxCoverageEntries, 24))
            return false;
        list.resize(static_cast<size_t>(count));
        for (CodeRange& r : list) {
            std::int64_t offset = 0, size = 0;
            if (!in.text(r.module) || !in.number(offset) || !in.number(size))
                return false;
            r.offset = static_cast<std::uint32_t>(offset);
            r.size = static_cast<std::uint32_t>(size);
        }
        return true;
    };
    std::int64_t exports = 0;
    if (!ranges(coverage.code) || !ranges(coverage.reached) ||
        !in.count(exports, maxCoverageEntries, 24))
        return false;
    coverage.exports.resize(static_cast<size_t>(exports));
    for (auto& [at, name] : coverage.exports) {
        std::int64_t offset = 0;
        if (!in.text(at.module) || !in.number(offset) || !in.text(name))
            return false;
        at.offset = static_cast<std::uint32_t>(offset);
    }
    std::int64_t sources = 0;
    if (!in.count(sources, maxCoverageEntries, 24))
        return false;
    coverage.symbols.resize(static_cast<size_t>(sources));
    for (SymbolSource& source : coverage.symbols) {
        std::int64_t units = 0;
        if (!in.text(source.module) || !in.text(source.path) ||
            !in.count(units, maxCoverageEntries, 8))
            return false;
        source.unitAddresses.resize(static_cast<size_t>(units));
        for (std::uint32_t& address : source.unitAddresses) {
            std::int64_t value = 0;
            if (!in.number(value) || value < 0 || value > 0xffffffffLL)
                return false;
            address = static_cast<std::uint32_t>(value);
        }
    }
    outcome.coverage = std::make_shared<const CodeCoverage>(std::move(coverage));
    return true;
}

std::string encodeOutcomes(const std::vector<SessionOutcome>& outcomes) {
    std::string bytes;
    std::int64_t count = static_cast<std::int64_t>(outcomes.size());
    bytes.append(reinterpret_cast<const char*>(&count), 8);
    for (const SessionOutcome& outcome : outcomes)
        bytes += encodeOutcome(outcome);
    return bytes;
}

std::string frameOf(const std::string& body) {
    std::int64_t size = static_cast<std::int64_t>(body.size());
    return std::string(reinterpret_cast<const char*>(&size), 8) + body;
}

bool takeFrame(const std::string& bytes, std::size_t& at, std::string& body) {
    std::int64_t size = 0;
    if (at > bytes.size() || bytes.size() - at < 8)
        return false;
    std::memcpy(&size, bytes.data() + at, 8);
    if (size < 0 || static_cast<std::uint64_t>(size) > bytes.size() - at - 8)
        return false;
    body = bytes.substr(at + 8, static_cast<std::size_t>(size));
    at += 8 + static_cast<std::size_t>(size);
    return true;
}

std::string encodeCounts(const std::vector<int>& counts) {
    std::string body;
    body.reserve(counts.size() * 4);
    for (int count : counts) {
        std::uint32_t value = count < 0 ? 0 : static_cast<std::uint32_t>(count);
        body.append(reinterpret_cast<const char*>(&value), 4);
    }
    return body;
}

bool decodeCounts(const std::string& body, std::vector<int>& counts) {
    if (body.size() % 4 != 0)
        return false;
    counts.assign(body.size() / 4, 0);
    for (std::size_t i = 0; i < counts.size(); ++i) {
        std::uint32_t value = 0;
        std::memcpy(&value, body.data() + i * 4, 4);
        if (value > 0x7fffffffu)
            return false;
        counts[i] = static_cast<int>(value);
    }
    return true;
}

bool decodeOutcomes(const std::string& bytes, std::size_t& at, std::vector<SessionOutcome>& out) {
    std::int64_t count = 0;
    if (at > bytes.size() || bytes.size() - at < 8)
        return false;
    std::memcpy(&count, bytes.data() + at, 8);
    at += 8;
    if (count < 0 || static_cast<std::uint64_t>(count) > bytes.size())
        return false;
    out.clear();
    std::string body;
    for (std::int64_t i = 0; i < count; ++i) {
        SessionOutcome outcome;
        if (!takeFrame(bytes, at, body) || !decodeOutcome(body, outcome))
            return false;
        out.push_back(std::move(outcome));
    }
    return true;
}
