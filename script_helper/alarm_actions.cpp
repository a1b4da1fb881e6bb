// Turns "ActionAll" and "AckAll" events into actions on every alarm control
// of panel 1, for scripts that switch alarmHandling on.
#include "vesk_script_helper.h"

namespace {

// The level an action text selects; -1 when it selects none.
int alarmLevel(const vesk_string& action) {
    if (action == "ack")
        return 4;
    if (action.length() == 1)
        return action.toInt();
    return -1;
}

// Values that a level-4 action leaves alone.
bool keptUnderLevel4(int value) { return value == 0 || (value >= 2 && value <= 5); }

} // namespace

bool vesk_script_helper::filterAlarmEvent(controlEventView& event) {
    vesk_string control = event.controlId();
    if (control == "ActionAll" && event.messageName() == "alarm") {
        alarmAction(event.value());
        return true;
    }
    if (control == "AckAll") {
        alarmAction(vesk_string(4, 0, 0, 10));
        return true;
    }
    return false;
}

void vesk_script_helper::alarmAction(const vesk_string& action) {
    int level = alarmLevel(action);
    vesk_string panel(1, 0, 0, 10);
    vesk_stringlist ids = getIdList(panel, "alm_");
    for (vesk_stringlistIterator id = ids.begin(); id != ids.end(); ++id) {
        textPut("alarm", action, panel, *id);
        if (level == 4) {
            vesk_string reading;
            textGet("value", panel, *id, reading);
            if (!keptUnderLevel4(reading.toInt()))
                textPut("value", "4", panel, *id);
        } else if (level != -1) {
            textPut("value", vesk_string(level, 0, 0, 10), panel, *id);
        }
    }
}
