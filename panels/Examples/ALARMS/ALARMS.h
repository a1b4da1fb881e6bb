// An example panel of the script base with alarm handling on: four alarm
// indicators (alm_1 to alm_4) and the two buttons the base itself serves,
// "ActionAll" (one alarm action for every indicator) and "AckAll"
// (acknowledge them all). Pressing one indicator acknowledges that one.
#ifndef ALARMS_H
#define ALARMS_H

#include "vesk_script_helper.h"

class ALARMS : public vesk_script_helper {
  public:
    // Shows the panel; the base takes "ActionAll" and "AckAll" from here on.
    ALARMS(vesk_client_callback* host, const char* path);

    virtual void controlCallback(controlEventView& event);
    virtual int revertiveCallback(revertiveView& revertive);
    virtual vesk_string parameterCallback(messageView& message);
    virtual void timerCallback(int timerId);
};

#endif
