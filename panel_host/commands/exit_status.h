// How panel-host ends, for scripts and CI that call it.
#ifndef EXIT_STATUS_H
#define EXIT_STATUS_H

// Exit statuses of panel-host (docs/scenarios.md).
enum ExitStatus {
    passed = 0,
    failedChecks = 1,
    badInput = 2,
    cannotLoad = 3,
    scriptCrashed = 4, // a signal ended the script: a fault, an abort
    scriptExited = 5,  // the script ended the process itself
    scriptHung = 6,    // a step did not finish within the step timeout
    noPanel = 7,       // validate: no panel to drive, so no control step could be drawn
    nothingTested = 8, // validate: --time ran out before the first session ended
};

#endif
