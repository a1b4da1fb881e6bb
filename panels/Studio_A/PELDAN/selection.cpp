// Feed and source selection, the flashing Take, and the route to the feed.
#include "PELDAN.h"

#include "panel_constants.h"

void PELDAN::controlCallback(controlEventView& event) {
    if (!(event.panel() == panelNumber))
        return;
    vesk_string control = event.controlId();
    if (control == "GrpSelect")
        changePage(event.value());
    else if (control == "SourceSel")
        chooseSource(event.value());
    else if (control.startsWith("OS_"))
        chooseFeed(control);
    else if (control == "Take")
        take();
    else if (control == "Clear")
        clearSelection();
}

void PELDAN::changePage(const vesk_string& page) {
    textPut("page", page, panelText(), "SourceSel");
    sourceIndex = 0;
    sourceChosen = false;
    updateTake();
}

void PELDAN::chooseSource(const vesk_string& value) {
    int source = value;
    sourceChosen = source >= 0;
    sourceIndex = sourceChosen ? source : 0;
    updateTake();
}

void PELDAN::chooseFeed(const vesk_string& controlId) {
    if (osChosen)
        showLook("KTSourceDeselected", feedButton());
    osNumber = controlId.firstInt();
    // A feed number near the 32-bit limit wraps, as the host's own arithmetic
    // would, instead of overflowing.
    destinationIndex = static_cast<int>(static_cast<unsigned int>(osNumber) +
                                        static_cast<unsigned int>(feedDestinationOffset));
    showLook("KTSourceSelected", feedButton());
    osChosen = true;
    updateTake();
}

void PELDAN::take() {
    // A route needs both choices: without them the crosspoint would carry a
    // destination or source the operator never chose and could take a feed off air.
    if (!sourceChosen || !osChosen)
        return;
    routerCrosspoint(packagerDevice, sourceIndex, destinationIndex, "2", false);
    textPut("index=0", panelText(), "SourceSel");
    showLook("KTSourceDeselected", feedButton());
    sourceIndex = 0;
    destinationIndex = 0;
    sourceChosen = false;
    osChosen = false;
    updateTake();
}

void PELDAN::clearSelection() {
    if (sourceChosen)
        textPut("index=0", panelText(), "SourceSel");
    sourceIndex = 0;
    sourceChosen = false;
    if (osChosen)
        showLook("KTSourceDeselected", feedButton());
    destinationIndex = 0;
    osChosen = false;
    updateTake();
}

void PELDAN::updateTake() {
    if (sourceChosen && osChosen) {
        showLook("KT_TakeHigh", "Take");
        flashCount = flashTicks;
        timerStart(flashTimer, flashPeriod);
        if (!takeEnabled) {
            controlEnable(panelText(), "Take");
            takeEnabled = true;
        }
    } else if (takeEnabled) {
        timerStop(flashTimer);
        takeEnabled = false;
        controlDisable(panelText(), "Take");
    }
}

void PELDAN::timerCallback(int timerId) {
    if (timerId != flashTimer) {
        timerStop(timerId);
        return;
    }
    // Unsigned arithmetic keeps a long run of stray ticks from overflowing.
    flashCount = static_cast<int>(static_cast<unsigned int>(flashCount) - 1u);
    if (flashCount == 0) {
        showLook("KT_TakeHigh", "Take");
        timerStop(flashTimer);
        controlDisable(panelText(), "Take");
        takeEnabled = false;
    } else if ((flashCount & 1) == 0) {
        showLook("KT_TakeLow", "Take");
    } else {
        showLook("KT_TakeHigh", "Take");
    }
}

void PELDAN::showLook(const char* statesheet, const vesk_string& control) {
    textPut("statesheet", statesheet, panelText(), control);
}

vesk_string PELDAN::feedButton() const { return "OS_" + vesk_string(osNumber, 0, 0, 10); }
