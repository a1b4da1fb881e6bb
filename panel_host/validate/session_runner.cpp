#include "session_runner.h"

#include "script_sandbox.h"
#include "symbolizer_process.h"

#include "host_startup.h"
#include "open_script_route.h"
#include "panel_host.h"
#include "scenario.h"
#include "studio.h"

#include <unistd.h>

namespace {

class Session {
  public:
    Session(const SessionSettings& settings, ChildProgress& progress, int job,
            ResidentRoute* resident)
        : settings_(settings), progress_(progress), job_(job), resident_(resident),
          host_(studio_, [this](const std::string& line) { note(line); }) {}

    SessionOutcome run(const std::vector<std::string>& lines) {
        std::vector<ScenarioStep> all;
        std::string error;
        HostStartup startup;
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        if (!parseScenario("session", text, all, error) || !gatherStartup(all, startup, error)) {
            fail("bad-session", error, -1);
            return std::move(outcome_);
        }
        std::vector<ScenarioStep> steps;
        for (ScenarioStep& step : all)
            if (step.verb != "startup")
                steps.push_back(std::move(step));
        progress_.begin(job_, 0);
        route_ = residentRoute();
        if (!route_) {
            route_ = openScriptRoute(settings_.library, error);
            if (route_ && settings_.logCompares)
                route_->logCompares();
        }
        ScriptRoute* route = route_.get();
        if (!route) {
            outcome_.cannotLoad = true;
            fail("cannot-load", error, -1);
            return std::move(outcome_);
        }
        if (settings_.countHits)
            route->startCountingHits();
        stepBudgetMs_ = applyStartup(startup, host_, studio_, *route);
        bool opened = host_.open(*route);
        if (settings_.logCompares)
            route->forgetComparisons(); // the load's are of no step
        if (!opened)
            failOnBreach("load", "the export returned no script", -1);
        else if (play(steps))
            finish(steps.size());
        outcome_.shownLayout = studio_.shownLayoutFile();
        // What it printed, however the session ended, so none is counted in the next.
        outcome_.prints = takePrinted();
        if (route_) {
            if (std::optional<CodeCoverage> coverage = route_->coverage())
                outcome_.coverage = std::make_shared<const CodeCoverage>(std::move(*coverage));
            outcome_.compared = route_->comparedValues();
            if (settings_.countHits)
                outcome_.hits = route_->hitCounts();
        }
        keepResident();
        return std::move(outcome_);
    }

    std::unique_ptr<ScriptRoute> residentRoute() {
        if (resident_ == nullptr || resident_->library != settings_.library || !resident_->route)
            return nullptr;
        return std::move(resident_->route);
    }

    // A route whose session passed is rewound for the next; after a failure
    // (a fault among them) the next session loads the library anew.
    void keepResident() {
        if (resident_ == nullptr || outcome_.failed || !route_ || host_.isOpen() ||
            !route_->rewind())
            return;
        resident_->library = settings_.library;
        resident_->route = std::move(route_);
    }

  private:
    void note(const std::string& line) {
        if (settings_.keepTranscript)
            outcome_.transcript.push_back(line);
    }

    void fail(const std::string& kind, const std::string& message, int step) {
        outcome_.failed = true;
        outcome_.kind = kind;
        outcome_.message = message;
        outcome_.failedStep = step;
    }

    // The first breach, or `otherwise`, as the failure of `step`.
    void failOnBreach(const std::string& where, const std::string& otherwise, int step) {
        const auto& breaches = host_.breaches();
        if (!breaches.empty())
            fail("breach: " + kindOf(breaches.front()),
                 "BREACH in " + where + ": " + breaches.front(), step);
        else
            fail(otherwise, otherwise, step);
    }

    // A breach's text without the particulars (quoted texts, numbers), so that
    // a shrunk session can be told to fail the same way.
    static std::string kindOf(const std::string& breach) {
        std::string kind;
        bool quoted = false;
        for (char c : breach) {
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c < '0' || c > '9'))
                kind += c;
        }
        return kind.substr(0, kind.find(':'));
    }

    bool play(const std::vector<ScenarioStep>& steps) {
        ScenarioPlayer player(host_);
        player.setStepBudgetMs(stepBudgetMs_);
        for (size_t i = 0; i < steps.size(); ++i) {
            progress_.begin(job_, static_cast<std::int64_t>(i + 1));
            bool played = player.play(steps[i]);
            record(steps[i], player);
            takeComparisons(static_cast<int>(i));
            int at = static_cast<int>(i);
            if (!host_.breaches().empty()) {
                failOnBreach("step", "", at);
                return false;
            }
            if (!played) {
                const std::string& why = player.failures().back();
                fail(why.find("ms, over its budget") != std::string::npos ? "slow step"
                                                                          : "step failed",
                     why, at);
                return false;
            }
            if (!host_.isOpen()) {
                fail("closed", "the panel closed during the step", at);
                return false;
            }
        }
        return true;
    }

    // What the step's values were compared with, while the route still has it.
    void takeComparisons(int step) {
        if (!settings_.logCompares || !route_)
            return;
        for (Comparison& compared : route_->takeComparisons()) {
            compared.step = step;
            outcome_.comparisons.push_back(std::move(compared));
        }
    }

    void record(const ScenarioStep& step, const ScenarioPlayer& player) {
        StepRecord record;
        for (size_t i = 0; settings_.recordCommands && i < player.pending().size(); ++i)
            record.commands.push_back(host_.shown(player.pending()[i]));
        record.parameter = step.verb == "param" || step.verb == "param-null";
        if (record.parameter)
            record.reply = player.reply();
        record.transcriptEnd = static_cast<int>(outcome_.transcript.size());
        outcome_.records.push_back(std::move(record));
    }

    void finish(size_t steps) {
        int at = static_cast<int>(steps);
        progress_.begin(job_, static_cast<std::int64_t>(steps + 1));
        host_.close();
        if (!host_.breaches().empty())
            failOnBreach("delete", "", at);
        else if (int left = leftoverProcesses(getppid(), {sharedSymbolizer().runningChild()}))
            fail(leftProcessesKind,
                 "the script left " + std::to_string(left) + " process" + (left == 1 ? "" : "es") +
                     " running after its delete",
                 at);
    }

    const SessionSettings& settings_;
    ChildProgress& progress_;
    int job_;
    ResidentRoute* resident_;
    Studio studio_;
    // Declared before the host, which may still delete the script through it.
    std::unique_ptr<ScriptRoute> route_;
    PanelHost host_;
    SessionOutcome outcome_;
    long long stepBudgetMs_ = 0;
};

} // namespace

SessionOutcome runSession(const SessionSettings& settings, const std::vector<std::string>& lines,
                          ChildProgress& progress, int job, ResidentRoute* resident) {
    return Session(settings, progress, job, resident).run(lines);
}
