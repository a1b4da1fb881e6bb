#include "session_generator.h"

#include <string>

std::uint64_t SessionRandom::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint32_t SessionRandom::below(std::uint32_t bound) {
    return static_cast<std::uint32_t>(next() % bound);
}

namespace {

struct Controls {
    std::vector<const LayoutControl*> buttons, pickers, labels, all;
};

Controls sortControls(const PanelLayout& layout) {
    Controls c;
    for (const LayoutControl& control : layout.controls) {
        c.all.push_back(&control);
        if (control.kind == "selector" || control.kind == "list")
            c.pickers.push_back(&control);
        else if (control.kind == "label")
            c.labels.push_back(&control);
        else
            c.buttons.push_back(&control);
    }
    return c;
}

class Drawer {
  public:
    Drawer(const SessionPlan& plan, const PanelLayout& layout, int router)
        : plan_(plan), random_(plan.seed * 0x100000001B3ULL ^ (0xC0FFEEULL + plan.session)),
          controls_(sortControls(layout)), router_(router) {}

    GeneratedSession draw() {
        GeneratedSession session;
        session.startup = startup();
        for (int i = 0; i < plan_.steps; ++i)
            session.steps.push_back(step());
        return session;
    }

  private:
    std::vector<std::string> startup() {
        std::vector<std::string> lines{"startup strict"};
        if (random_.chance(40)) {
            const std::vector<std::string> replies{"7", "'7'", "7 8", "none", "", "x"};
            lines.push_back("startup sd-reply " + random_.pick(replies));
        }
        if (random_.chance(20))
            lines.push_back("startup ps-reply none");
        if (random_.chance(20))
            lines.push_back("startup path empty");
        return lines;
    }

    std::string step() {
        std::uint32_t roll = random_.below(100);
        int tickShare = 8 + 2 * plan_.level; // more ticks at higher levels
        if (roll < 34)
            return press();
        if (roll < 56)
            return pick();
        if (roll < 56 + tickShare)
            return tick();
        if (roll < 70 + tickShare)
            return revertive();
        if (roll < 77 + tickShare)
            return parameter();
        if (roll < 81 + tickShare)
            return event();
        if (roll < 84 + tickShare)
            return "notify " + random_.pick(std::vector<std::string>{"0", "6", "7", "8", "-1"});
        if (roll < 87 + tickShare) {
            int destination = 12 + static_cast<int>(random_.below(10));
            int source = static_cast<int>(random_.below(30));
            return "route " + std::to_string(destination) + " " + std::to_string(source);
        }
        return "wait " + std::to_string(100 * (1 + random_.below(30)));
    }

    std::string press() {
        const std::vector<const LayoutControl*>& from =
            !controls_.buttons.empty() && random_.chance(85) ? controls_.buttons : controls_.all;
        return from.empty() ? "tick" : "press " + random_.pick(from)->id;
    }

    std::string pick() {
        if (controls_.pickers.empty())
            return press();
        const LayoutControl& control = *random_.pick(controls_.pickers);
        std::uint32_t kind = random_.below(100);
        if (kind < 60 && !control.items.empty()) {
            const LayoutItem& item = random_.pick(control.items);
            int value = control.kind == "selector" ? item.page : item.index;
            return "pick " + control.id + " " + std::to_string(value);
        }
        if (kind < 75)
            return "pick " + control.id + " " +
                   random_.pick(std::vector<std::string>{"-1", "1000", "99", "2147483647",
                                                         "-2147483648", "0", "17x", "007"});
        // Values a pick word cannot carry go as the raw event.
        std::string property = control.kind == "selector" ? "page" : "index";
        return "event 1 " + control.id + " " + property + "=" + oddValue();
    }

    std::string oddValue() {
        return random_.pick(std::vector<std::string>{"", " 3", "'3'", "\"3\"", "3 4", "%s%n", "=",
                                                     "a=b", "3%", "' OR '"});
    }

    std::string tick() {
        if (random_.chance(75))
            return "tick";
        return "tick " + random_.pick(std::vector<std::string>{"2", "0", "-1", "99", "1000000"});
    }

    std::string revertive() {
        int device = random_.chance(75) ? router_
                                        : random_.pick(std::vector<int>{5, 0, -1, 99, router_ + 1});
        int index = random_.chance(75) ? 12 + static_cast<int>(random_.below(10))
                                       : random_.pick(std::vector<int>{0, 11, 22, 1000, -5});
        return "revertive " + std::to_string(device) + " " + std::to_string(index) + " " + text();
    }

    // A text of a length and strangeness that grow with the level.
    std::string text() {
        std::uint32_t kind = random_.below(100);
        if (kind < 40)
            return random_.pick(std::vector<std::string>{"MIC 1", "OS 3", "LINE 8", "---", ""});
        size_t length = 1 + random_.below(static_cast<std::uint32_t>(8 << (2 * plan_.level)));
        std::string out;
        for (size_t i = 0; i < length; ++i)
            out += character();
        return out;
    }

    char character() {
        std::uint32_t kind = random_.below(100);
        if (plan_.level >= 3 && kind < 10)
            return static_cast<char>(0x80 + random_.below(0x80)); // not UTF-8 on its own
        if (plan_.level >= 4 && kind < 15) {
            char control = static_cast<char>(1 + random_.below(31));
            return control == '\n' || control == '\r' ? '\t' : control;
        }
        if (kind < 25)
            return "%'\"=. ,"[random_.below(7)];
        return static_cast<char>(' ' + random_.below(95));
    }

    std::string parameter() {
        std::uint32_t kind = random_.below(100);
        if (kind < 10)
            return "param-null";
        if (kind < 15)
            return "param";
        if (kind < 60) {
            std::string key = random_.pick(
                std::vector<std::string>{"return", "instance", "myParam", "_events", "_commands"});
            return "param " + key +
                   random_.pick(std::vector<std::string>{"", "=1", "=", "=abc", ".x=2"});
        }
        if (kind < 75) {
            std::string dotted = "a";
            int parts = random_.chance(50) ? 32 + static_cast<int>(random_.below(8))
                                           : static_cast<int>(random_.below(5));
            for (int i = 0; i < parts; ++i)
                dotted += "." + std::to_string(i);
            return "param " + dotted + "=" + text();
        }
        return "param " + text();
    }

    std::string event() {
        const LayoutControl* control =
            controls_.all.empty() ? nullptr : random_.pick(controls_.all);
        std::string id = control ? control->id : "X";
        std::string panel = random_.pick(std::vector<std::string>{"1", "1", "2", "0"});
        std::string message = random_.pick(std::vector<std::string>{
            "button=released", "button=pressed", "index=", "x", "a.b.c=d", "=", ""});
        if (random_.chance(30))
            message += text();
        return "event " + panel + " " + id + " " + message;
    }

    const SessionPlan& plan_;
    SessionRandom random_;
    Controls controls_;
    int router_;
};

} // namespace

GeneratedSession generateSession(const SessionPlan& plan, const PanelLayout& layout,
                                 int audioRouterDevice) {
    return Drawer(plan, layout, audioRouterDevice).draw();
}
