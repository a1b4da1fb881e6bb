// Where `panel-host serve` finds its page when --web-root is not given.
#ifndef WEB_ROOT_H
#define WEB_ROOT_H

#include <string>

// The installed page beside the running program (its folder, then the
// relative path the install uses), else the page in the source tree the
// program was built from; empty when neither holds an index.html.
std::string defaultWebRoot();

// True when FOLDER holds the page's index.html.
bool holdsPage(const std::string& folder);

#endif
