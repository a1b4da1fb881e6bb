#include "panel_layout.h"

#include "text_file.h"

#include <sstream>

namespace {

std::string restOfLine(std::istringstream& in) {
    std::string rest;
    std::getline(in >> std::ws, rest);
    return rest;
}

// The next word as a whole number of at least `least`, or why not.
bool numberAtLeast(std::istringstream& in, int least, const std::string& what, int& value,
                   std::string& why) {
    std::string word;
    if (!(in >> word))
        return why = what, false;
    if (!wholeNumber(word, value))
        return why = "'" + visibleText(word) + "' is not a whole number", false;
    if (value < least)
        return why = "'" + word + "' is below " + std::to_string(least), false;
    return true;
}

bool parseLine(const std::string& line, PanelLayout& layout, std::string& why) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "panel") {
        in >> layout.panel;
        layout.title = restOfLine(in);
        if (layout.panel.size() > maxScriptText)
            return why = tooLongForScript("the panel's name", layout.panel.size()), false;
        return !layout.panel.empty() || (why = "panel needs a number", false);
    }
    if (word == "button" || word == "selector" || word == "list" || word == "label") {
        LayoutControl control;
        control.kind = word;
        if (!(in >> control.id))
            return why = word + " needs an id", false;
        if (control.id.size() > maxScriptText)
            return why = tooLongForScript("the id", control.id.size()), false;
        if (layout.find(control.id) != nullptr)
            return why = "control " + visibleText(control.id) + " appears twice", false;
        if (word == "label" &&
            !numberAtLeast(in, 1, "label needs a destination number", control.destination, why))
            return false;
        control.caption = restOfLine(in);
        layout.controls.push_back(control);
        return true;
    }
    if (word == "item") {
        std::string id;
        LayoutItem item;
        const char* usage = "item needs a control id, a page and an index";
        if (!(in >> id))
            return why = usage, false;
        // Pages count from 1, an entry's index on its page from 0.
        if (!numberAtLeast(in, 1, usage, item.page, why) ||
            !numberAtLeast(in, 0, usage, item.index, why))
            return false;
        item.caption = restOfLine(in);
        LayoutControl* control = layout.find(id);
        if (control != nullptr && (control->kind == "list" || control->kind == "selector")) {
            control->items.push_back(item);
            return true;
        }
        return why = "item for " + visibleText(id) + ", which is no list or selector above", false;
    }
    return why = "unknown line kind '" + visibleText(word) + "'", false;
}

} // namespace

const LayoutControl* PanelLayout::find(const std::string& id) const {
    if (indexed_ > controls.size()) {
        index_.clear();
        indexed_ = 0;
    }
    for (; indexed_ < controls.size(); ++indexed_)
        index_.emplace(controls[indexed_].id, indexed_); // the first of equal ids stays
    auto found = index_.find(id);
    return found == index_.end() ? nullptr : &controls[found->second];
}

LayoutControl* PanelLayout::find(const std::string& id) {
    return const_cast<LayoutControl*>(static_cast<const PanelLayout&>(*this).find(id));
}

bool parsePanelLayout(const std::string& text, PanelLayout& layout, std::string& error,
                      const std::string& file) {
    return forEachContentLine(text, [&](int number, const std::string& line) {
        std::string why = nulByteIn(line);
        if (why.empty() && parseLine(line, layout, why))
            return true;
        error = fileLine(file, number) + ": " + why;
        return false;
    });
}

bool readPanelLayout(const std::string& path, PanelLayout& layout, std::string& error) {
    std::string text;
    if (!readTextFile(path, text, error))
        return false;
    return parsePanelLayout(text, layout, error, path);
}
