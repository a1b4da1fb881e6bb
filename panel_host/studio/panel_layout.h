// A panel layout file (".vesk_ui"), in the line format of docs/layout-format.md.
#ifndef PANEL_LAYOUT_H
#define PANEL_LAYOUT_H

#include <string>
#include <unordered_map>
#include <vector>

struct LayoutItem {
    int page = 0;
    int index = 0;
    std::string caption;
};

struct LayoutControl {
    std::string id;
    std::string kind; // button, selector, list, label
    std::string caption;
    int destination = 0;           // labels: the router destination they show
    std::vector<LayoutItem> items; // lists: the entries; selectors: the pages
};

struct PanelLayout {
    std::string panel = "1";
    std::string title;
    std::vector<LayoutControl> controls;

    // By id, through an index of the controls as they were added (ids are
    // not changed in place), so a large layout loads in linear time.
    const LayoutControl* find(const std::string& id) const;
    LayoutControl* find(const std::string& id);

  private:
    mutable std::unordered_map<std::string, std::size_t> index_;
    mutable std::size_t indexed_ = 0; // controls[0, indexed_) are in index_
};

// Reads a layout; on a bad line returns false with "line N: why" in error.
bool readPanelLayout(const std::string& path, PanelLayout& layout, std::string& error);
// Errors read "FILE:N: why", or "line N: why" for a text from no file.
bool parsePanelLayout(const std::string& text, PanelLayout& layout, std::string& error,
                      const std::string& file = "");

#endif
