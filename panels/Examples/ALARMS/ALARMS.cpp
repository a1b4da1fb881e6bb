// The alarm panel's handlers: the base deals with the panel-wide actions, the
// panel only with a press on one indicator.
#include "ALARMS.h"

namespace {

const char* const panel = "1";

} // namespace

ALARMS::ALARMS(vesk_client_callback* hostCallback, const char* path)
    : vesk_script_helper(hostCallback, path) {
    alarmHandling = true;
    panelShow(panel, "ALARMS.vesk_ui", "");
}

void ALARMS::controlCallback(controlEventView& event) {
    vesk_string control = event.controlId();
    if (!control.startsWith("alm_") || !(event.messageName() == "button"))
        return;
    textPut("alarm", "ack", panel, control);
    textPut("value", "4", panel, control);
}

int ALARMS::revertiveCallback(revertiveView&) {
    return 0;
}

// "alarms" asks how many indicators the panel has; nothing else is answered.
vesk_string ALARMS::parameterCallback(messageView& message) {
    if (!(message.name() == "alarms"))
        return vesk_string();
    int count = 0;
    vesk_stringlist ids = getIdList(panel, "alm_");
    for (vesk_stringlistIterator id = ids.begin(); id != ids.end(); ++id)
        ++count;
    return vesk_string("alarms=") + vesk_string(count, 0, 0, 10);
}

void ALARMS::timerCallback(int) {}
