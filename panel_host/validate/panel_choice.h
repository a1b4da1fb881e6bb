// The panel validate drives: the one the script itself shows, as a host would.
#ifndef PANEL_CHOICE_H
#define PANEL_CHOICE_H

#include "child_process.h"
#include "panel_layout.h"
#include "session_runner.h"

#include <optional>
#include <string>

struct PanelChoice {
    PanelLayout layout;
    std::string file;        // where it was read from; empty: no panel
    std::string source;      // how it was found, for people
    bool cannotLoad = false; // the library could not be loaded at all; `source` says why
    // No panel found because the load or delete failed (a hang, a crash, an
    // exit): a failure of the script before any step, not "no panel".
    std::optional<SessionOutcome> failedBeforeSteps;
};

// The session that loads the script to see its panel: no steps.
inline std::vector<std::string> probeLines() {
    return {"startup strict"};
}

// `layoutFile` when given; otherwise the layout the script names in its "PS",
// found by loading it once in a child process and resolved as `run` resolves
// it; otherwise the layout beside the library. False, with why, only when
// `layoutFile` cannot be read; no panel at all is a choice with no file.
// A load still running at `deadline` is stopped and counts as showing none.
bool choosePanel(const std::string& library, const std::string& layoutFile, int hangTimeoutMs,
                 PanelChoice& choice, std::string& why,
                 ChildProcess::Deadline deadline = ChildProcess::noDeadline);

#endif
