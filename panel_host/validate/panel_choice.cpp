#include "panel_choice.h"

#include "session_batch.h"

namespace {

bool readChoice(const std::string& file, const std::string& source, PanelChoice& choice,
                std::string& why) {
    PanelLayout layout;
    if (!readPanelLayout(file, layout, why))
        return false;
    choice = {layout, file, source, false, std::nullopt};
    return true;
}

// A session with no steps: what the script's "PS" showed, or that it cannot load.
SessionOutcome probeSession(const std::string& library, int hangTimeoutMs,
                            ChildProcess::Deadline deadline) {
    BatchSettings settings;
    settings.session.library = library;
    settings.hangTimeoutMs = hangTimeoutMs;
    settings.deadline = deadline;
    std::vector<SessionOutcome> probe = runSessionBatch(settings, {probeLines()}, nullptr);
    return probe.empty() ? SessionOutcome{} : probe.front();
}

} // namespace

bool choosePanel(const std::string& library, const std::string& layoutFile, int hangTimeoutMs,
                 PanelChoice& choice, std::string& why, ChildProcess::Deadline deadline) {
    if (!layoutFile.empty()) {
        if (readChoice(layoutFile, "--layout", choice, why))
            return true;
        why = "--layout " + layoutFile + ": " + why;
        return false;
    }
    std::string ignored;
    SessionOutcome probe = probeSession(library, hangTimeoutMs, deadline);
    if (probe.cannotLoad) {
        choice = {PanelLayout{}, "", probe.message, true, std::nullopt};
        return true;
    }
    if (!probe.shownLayout.empty() &&
        readChoice(probe.shownLayout, "the script's PS", choice, ignored))
        return true;
    std::string beside = library.substr(0, library.find_last_of('.')) + ".vesk_ui";
    if (readChoice(beside, "beside the library (the script showed none)", choice, ignored))
        return true;
    // A load or delete that hung, crashed or exited hides the panel it showed:
    // that is the script's failure, not a panel missing.
    if (probe.failed && probe.kind.rfind("breach", 0) != 0) {
        choice = {PanelLayout{}, "", "the script failed before any step", false, probe};
        return true;
    }
    choice = {PanelLayout{}, "", "the script showed no panel and none lies beside it", false,
              std::nullopt};
    return true;
}
