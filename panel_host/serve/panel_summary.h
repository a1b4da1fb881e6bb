// The one-line account of the operator panel that the browser page shows:
// which feed and source the script has chosen, whether Take is armed or its
// flash has run out, and the last take the script sent.
#ifndef PANEL_SUMMARY_H
#define PANEL_SUMMARY_H

#include "studio.h"

#include <string>

struct PanelSelection {
    std::string feed;   // control id of the feed the script marks selected, or empty
    std::string source; // the list's picked index while the script keeps it, or empty
    std::string take;   // "armed", "expired" or empty
};

PanelSelection panelSelection(const Studio& studio);

// "OS 3 ← OS 2 · Take armed · last take: source 17 to destination 193"
std::string panelSummary(const Studio& studio, const std::string& lastTake);

// The last take, from a transcript line of the script's "RC" command; empty
// for any other line.
std::string takeOf(const std::string& transcriptLine);

#endif
