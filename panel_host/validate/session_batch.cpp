#include "session_batch.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

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
    bool texts(std::vector<std::string>& values) {
        std::int64_t count = 0;
        if (!number(count) || count < 0)
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

std::string encode(const SessionOutcome& outcome) {
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
    return out.frame();
}

bool decode(const std::string& bytes, SessionOutcome& outcome) {
    FrameReader in(bytes);
    std::int64_t failed = 0, cannotLoad = 0, step = 0, count = 0;
    if (!in.number(failed) || !in.number(cannotLoad) || !in.text(outcome.kind) ||
        !in.text(outcome.message) || !in.number(step) || !in.texts(outcome.transcript) ||
        !in.number(count) || count < 0)
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
    return true;
}

void writeAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0)
            _exit(3); // the parent is gone
        done += static_cast<size_t>(wrote);
    }
}

// Takes every whole frame off the front of `pending`.
void takeFrames(std::string& pending, std::vector<SessionOutcome>& outcomes) {
    for (;;) {
        std::int64_t size = 0;
        if (pending.size() < 8)
            return;
        std::memcpy(&size, pending.data(), 8);
        if (size < 0 || pending.size() - 8 < static_cast<std::uint64_t>(size))
            return;
        SessionOutcome outcome;
        if (!decode(pending.substr(8, static_cast<size_t>(size)), outcome)) {
            outcome.failed = true;
            outcome.kind = outcome.message = "garbled outcome from the session's process";
        }
        outcomes.push_back(std::move(outcome));
        pending.erase(0, 8 + static_cast<size_t>(size));
    }
}

SessionOutcome endedChild(const ChildEnd& end) {
    SessionOutcome outcome;
    outcome.failed = true;
    std::string how = end.describe();
    outcome.kind = end.kind == ChildEnd::signalled ? how.substr(0, how.find(" (")) : how;
    if (end.kind == ChildEnd::exited)
        outcome.kind = "ended the process";
    outcome.message = "the script " + how;
    outcome.failedStep = static_cast<int>(end.step) - 1; // progress counts the load as 0
    return outcome;
}

} // namespace

std::vector<SessionOutcome> runSessionBatch(const BatchSettings& settings,
                                            const std::vector<SessionLines>& sessions,
                                            const std::function<void(size_t done)>& onDone) {
    std::vector<SessionOutcome> outcomes;
    while (outcomes.size() < sessions.size()) {
        size_t first = outcomes.size();
        std::string pending;
        ChildEnd end = ChildProcess::run(
            [&](ChildProgress& progress, int fd) {
                // A native library stays loaded for the child's sessions, as in a
                // host that shows several panels: each session still gets a new
                // script object, without the loader's cost. (A DLL is not
                // something dlopen takes; it is loaded per session.)
                progress.begin(static_cast<std::int64_t>(first), 0);
                void* resident = dlopen(settings.session.library.c_str(), RTLD_NOW | RTLD_LOCAL);
                for (size_t i = first; i < sessions.size(); ++i) {
                    SessionOutcome outcome =
                        runSession(settings.session, sessions[i], progress, static_cast<int>(i));
                    writeAll(fd, encode(outcome));
                    if (outcome.cannotLoad)
                        break;
                }
                if (resident != nullptr)
                    dlclose(resident);
                return 0;
            },
            settings.hangTimeoutMs,
            [&](const char* bytes, size_t size) {
                pending.append(bytes, size);
                takeFrames(pending, outcomes);
                if (onDone)
                    onDone(outcomes.size());
            });
        if (!outcomes.empty() && outcomes.back().cannotLoad)
            break;
        if (end.kind != ChildEnd::finished && outcomes.size() < sessions.size()) {
            outcomes.push_back(endedChild(end));
            if (onDone)
                onDone(outcomes.size());
        }
        if (end.kind == ChildEnd::finished && outcomes.size() < sessions.size())
            break; // a child that finished without every outcome: nothing more to gain
    }
    return outcomes;
}
