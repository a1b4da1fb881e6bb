// The fixed facts of the Studio A outside-source panel.
#ifndef PANEL_CONSTANTS_H
#define PANEL_CONSTANTS_H

#include "vesk_string.h"

enum {
    panelNumber = 1,
    firstLabelDestination = 12,
    lastLabelDestination = 21,
    labelNumberOffset = 11, // destination 12 is UMD_1
    feedDestinationOffset = 190,
    flashTimer = 1,
    flashPeriod = 1000,
    flashTicks = 15
};

// Every command of this panel names it as "1".
inline vesk_string panelText() { return vesk_string(panelNumber, 0, 0, 10); }

#endif
