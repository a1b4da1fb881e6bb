// panel-host serve --record: the operator's session in the browser kept as a
// scenario that `panel-host run` replays. Each press, pick, event, studio
// change and parameter becomes a step, followed by `expect` lines for what the
// script sent; the time between steps is a `wait` of the studio's own
// (virtual) time, so the same timer ticks fall due on replay, followed by what
// the script sent on those ticks. The text is kept for the page's "Save as
// scenario" and, with a file, written and flushed line by line as it grows.
//
// Threads: called under the server's lock only.
#ifndef SCENARIO_RECORDER_H
#define SCENARIO_RECORDER_H

#include <fstream>
#include <optional>
#include <string>
#include <vector>

class ScenarioRecorder {
  public:
    static constexpr std::size_t maxKeptBytes = 4 * 1024 * 1024;
    static constexpr std::size_t maxPendingCommands = 1000;

    // `header` names the library and studio; `file` may be empty (kept in memory only).
    bool open(const std::string& file, const std::string& header, std::string& why);

    // Commands the script sent on timer ticks up to virtual time `now`.
    void ticked(long long now, const std::vector<std::string>& commands);
    // One operator step at `now` (a scenario line, or nothing when no line
    // can hold it), what the script sent for it, and a parameter's reply.
    void step(long long now, const std::optional<std::string>& line,
              const std::vector<std::string>& commands, bool parameter = false,
              const std::optional<std::string>& reply = std::nullopt);
    // At the end of the session: the last wait and its ticks, and a closing line.
    void finish(long long now);

    // The scenario so far, as a file of it would read.
    const std::string& text() const { return text_; }
    // Why the file stopped taking lines (a full disk, say); empty while it takes them.
    const std::string& failure() const { return failure_; }

  private:
    void flushWait(long long now);
    void write(const std::string& lines);

    std::ofstream file_;
    std::string path_;
    std::string failure_;
    std::string text_;
    bool textCut_ = false;
    long long last_ = 0;
    std::vector<std::string> pending_; // tick commands since the last line
    bool finished_ = false;
};

#endif
