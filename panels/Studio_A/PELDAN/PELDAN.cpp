// Start-up and teardown of the panel.
#include "PELDAN.h"

#include "panel_constants.h"

PELDAN::PELDAN(vesk_client_callback* hostCallback, const char* path)
    : vesk_script_helper(hostCallback, path), myParam(), instanceName(), sourceIndex(0),
      destinationIndex(0), flashCount(0), packagerDevice(0), audioRouterDevice(0), osNumber(0),
      sourceChosen(false), osChosen(false), takeEnabled(false) {
    vesk_string panel = panelText();
    panelShow(panel, "PELDAN.vesk_ui", "");
    controlDisable(panel, "Take");
    textPut("button.001=released", panel, "GrpSelect");
    getDev("DUD VESK Packager", &packagerDevice, 0);
    getDev("DUD Audio Router", &audioRouterDevice, 0);
    routerRegister(audioRouterDevice, firstLabelDestination, lastLabelDestination, false);
    routerPoll(audioRouterDevice, firstLabelDestination, lastLabelDestination);
}

PELDAN::~PELDAN() { routerUnregister(audioRouterDevice); }
