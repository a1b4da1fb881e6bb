// Scenarios: line-based scripts of what an operator and the studio do, and
// what the panel must send in answer (docs/scenarios.md).
#ifndef SCENARIO_H
#define SCENARIO_H

#include <optional>
#include <string>
#include <vector>

struct ScenarioStep {
    std::string file;
    int line = 0;
    std::string verb; // press, pick, event, revertive, route, param, tick, wait, expect, close
    std::vector<std::string> words; // the words after the verb
    std::string rest;               // the text after the verb, as written
};

// One line (leading blanks gone, no comment); a bad one gives false and
// "file:line: why" in error.
bool parseScenarioLine(const std::string& file, int number, const std::string& body,
                       ScenarioStep& step, std::string& error);
// Reads steps from text; a bad line gives false and "file:line: why" in error.
bool parseScenario(const std::string& file, const std::string& text,
                   std::vector<ScenarioStep>& steps, std::string& error);

class PanelHost;

// Plays steps one at a time on an open panel, keeping what the last action
// made the script send until `expect` steps read it.
class ScenarioPlayer {
  public:
    explicit ScenarioPlayer(PanelHost& host);
    // Plays one step; false when it failed (an expectation, or an action that
    // cannot be done), with a FAILED line in the transcript.
    bool play(const ScenarioStep& step);
    // The commands the last action made the script send, not yet expected.
    const std::vector<std::string>& pending() const { return pending_; }
    // The reply to the last parameter message.
    const std::optional<std::string>& reply() const { return reply_; }
    const std::vector<std::string>& failures() const { return failures_; }
    // An action that takes longer than this (0: no limit) fails.
    void setStepBudgetMs(long long budget) { stepBudgetMs_ = budget; }

  private:
    std::string controlMissing(const std::string& panel, const std::string& control) const;
    std::string act(const ScenarioStep& s);
    std::string route(int destination, const std::string& source);
    bool expect(const ScenarioStep& s);
    bool expectReply(const ScenarioStep& s);
    bool expectControl(const ScenarioStep& s);
    bool expectCrosspoint(const ScenarioStep& s);
    bool fail(const ScenarioStep& s, const std::string& why);

    PanelHost& host_;
    std::vector<std::string> pending_;
    std::optional<std::string> reply_;
    std::vector<std::string> failures_;
    long long stepBudgetMs_ = 0;
};

// Plays steps on an open panel; failed expectations are written to the
// transcript. Returns the number of failed expectations; stops at the first.
int playScenario(PanelHost& host, const std::vector<ScenarioStep>& steps);

#endif
