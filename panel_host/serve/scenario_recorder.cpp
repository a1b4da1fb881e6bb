#include "scenario_recorder.h"

#include "expect_lines.h"

bool ScenarioRecorder::open(const std::string& file, const std::string& header, std::string& why) {
    if (!file.empty()) {
        path_ = file;
        file_.open(file, std::ios::binary | std::ios::trunc);
        if (!file_) {
            why = "cannot write " + file;
            return false;
        }
    }
    write(header);
    return true;
}

void ScenarioRecorder::ticked(long long now, const std::vector<std::string>& commands) {
    pending_.insert(pending_.end(), commands.begin(), commands.end());
    // A long idle flash must not grow without end: write what is pending.
    if (pending_.size() >= maxPendingCommands)
        flushWait(now);
}

void ScenarioRecorder::step(long long now, const std::optional<std::string>& line,
                            const std::vector<std::string>& commands, bool parameter,
                            const std::optional<std::string>& reply) {
    if (finished_)
        return;
    flushWait(now);
    if (!line || line->find_first_of("\r\n") != std::string::npos) {
        write("# (an operator step no scenario line can hold)\n");
        return;
    }
    write(*line + "\n" + expectLines(commands, parameter, reply));
}

void ScenarioRecorder::finish(long long now) {
    if (finished_)
        return;
    flushWait(now);
    write("# End of the recorded session.\n");
    finished_ = true;
    if (file_.is_open()) {
        file_.close();
        if (!file_ && failure_.empty())
            failure_ = "cannot write " + path_ + ": the recording there is incomplete";
    }
}

void ScenarioRecorder::flushWait(long long now) {
    if (now <= last_ && pending_.empty())
        return;
    write("wait " + std::to_string(now > last_ ? now - last_ : 0) + "\n" +
          expectLines(pending_, false, std::nullopt));
    pending_.clear();
    last_ = now > last_ ? now : last_;
}

void ScenarioRecorder::write(const std::string& lines) {
    if (file_.is_open() && failure_.empty()) {
        file_ << lines;
        file_.flush();
        if (!file_) // serve says so when it stops, and ends with a failure
            failure_ = "cannot write " + path_ + ": the recording there is incomplete";
    }
    if (text_.size() + lines.size() <= maxKeptBytes) {
        text_ += lines;
    } else if (!textCut_) {
        text_ += "# (the page keeps no more of this recording: see the --record file)\n";
        textCut_ = true;
    }
}
