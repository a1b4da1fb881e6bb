#include "panel_summary.h"

#include <sstream>

namespace {

const LayoutControl* firstOfKind(const PanelLayout& layout, const std::string& kind) {
    for (const LayoutControl& c : layout.controls)
        if (c.kind == kind)
            return &c;
    return nullptr;
}

std::string captionOf(const PanelLayout& layout, const std::string& id) {
    const LayoutControl* control = layout.find(id);
    return control && !control->caption.empty() ? control->caption : id;
}

std::string sourceCaption(const LayoutControl& list, const std::string& index) {
    for (const LayoutItem& item : list.items)
        if (std::to_string(item.index) == index)
            return item.caption;
    return "source " + index;
}

} // namespace

PanelSelection panelSelection(const Studio& studio) {
    PanelSelection selection;
    const PanelLayout& layout = studio.layout();
    for (const LayoutControl& c : layout.controls) {
        auto state = studio.controls().find(c.id);
        if (c.kind != "button" || state == studio.controls().end())
            continue;
        auto look = state->second.properties.find("statesheet");
        if (look != state->second.properties.end() && look->second == "KTSourceSelected") {
            selection.feed = c.id;
            break;
        }
    }
    if (const LayoutControl* list = firstOfKind(layout, "list")) {
        auto state = studio.controls().find(list->id);
        if (state != studio.controls().end())
            selection.source = state->second.operatorPick;
    }
    auto take = studio.controls().find("Take");
    if (take != studio.controls().end()) {
        if (take->second.enabled)
            selection.take = "armed";
        else if (!selection.feed.empty() && !selection.source.empty())
            selection.take = "expired";
    }
    return selection;
}

std::string panelSummary(const Studio& studio, const std::string& lastTake) {
    const PanelLayout& layout = studio.layout();
    PanelSelection selection = panelSelection(studio);
    std::string summary =
        selection.feed.empty() ? "no feed chosen" : captionOf(layout, selection.feed);
    const LayoutControl* list = firstOfKind(layout, "list");
    if (!selection.source.empty() && list != nullptr)
        summary += " \u2190 " + sourceCaption(*list, selection.source);
    if (selection.take == "armed")
        summary += " \u00b7 Take armed";
    else if (selection.take == "expired")
        summary += " \u00b7 flash expired: pick the source again to arm Take";
    if (!lastTake.empty())
        summary += " \u00b7 last take: " + lastTake;
    return summary;
}

std::string takeOf(const std::string& line) {
    const std::string prefix = "script> RC ";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return "";
    std::istringstream words(line.substr(prefix.size()));
    std::string device, source, destination;
    if (!(words >> device >> source >> destination))
        return "";
    return "source " + source + " to destination " + destination;
}
