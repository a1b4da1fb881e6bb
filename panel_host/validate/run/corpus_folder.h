// A folder of sessions a validate run starts its corpus from and adds what it
// keeps to, shared by runs one after the other or at once: each session is an
// ordinary scenario file named by its content's hash, so that writers never
// clash and a session is never there twice.
#ifndef CORPUS_FOLDER_H
#define CORPUS_FOLDER_H

#include "panel_layout.h"

#include <set>
#include <string>
#include <vector>

struct CorpusSessions {
    std::vector<std::vector<std::string>> sessions; // by file name, so every reader sees one order
    int skipped = 0; // files that are unreadable, too large, malformed, or for another panel
};

// Every session in `folder` that `layout`'s panel can play, less the files
// named in `known` (which gains the names read); nothing, and no error, for
// a folder that does not exist yet.
CorpusSessions readCorpusFolder(const std::string& folder, const PanelLayout& layout,
                                std::set<std::string>& known);

// Writes `lines` as a session file, unless one with the same content is
// there; written under a temporary name and renamed, so a reader never sees
// half a file. The file's name, or nothing when it cannot be written.
std::string writeCorpusSession(const std::string& folder, const std::vector<std::string>& lines);

#endif
