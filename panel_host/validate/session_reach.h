// What validate's sessions reached of a panel: how many steps of each kind
// were played, and which of the panel's controls received an event.
#ifndef SESSION_REACH_H
#define SESSION_REACH_H

#include "panel_layout.h"
#include "session_runner.h"

#include <map>
#include <set>
#include <string>
#include <vector>

struct SessionReach {
    std::map<std::string, long long> stepKinds; // verb -> steps played
    std::set<std::string> controls;             // ids of the panel's controls that got an event

    // Counts the steps of `lines` that `outcome` played (all of them, or up to
    // and with the failing one).
    void add(const std::vector<std::string>& lines, const SessionOutcome& outcome,
             const PanelLayout& layout);
    void merge(const SessionReach& other);

    // As text, one "k VERB COUNT" or "c ID" line each; false for text that is not.
    std::string encode() const;
    bool decode(const std::string& text);
};

#endif
