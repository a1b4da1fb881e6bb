// What validate writes beside its verdict: the code its sessions reached, the
// blocks listed for --coverage-out, and the JUnit report.
#ifndef VALIDATE_OUTPUT_H
#define VALIDATE_OUTPUT_H

#include "junit_report.h"
#include "session_reach.h"
#include "validate_report.h"

#include <string>
#include <vector>

// "validate: PELDAN.dll code reached: ..." a line a module, with the largest
// runs never reached; nothing where the route could not see the code.
std::string codeReachedText(const SessionReach& reach);
// Every block reached: "MODULE+OFFSET [EXPORT] SIZE", a line each, in address order.
std::string blockListText(const SessionReach& reach);
// "validate: panel source lines reached in PELDAN.dll: 412 of 530 (77.7%)".
std::string sourceLinesText(const LineCoverage& lines);
// A test case a kind of failure, naming every session of that kind with its
// seed, the step it failed in (`failedSteps`, one a failure) and the command
// that replays its saved scenario; one passing case when nothing failed.
JUnitSuite validateJUnit(const ValidateReport& report, const std::vector<std::string>& failedSteps);

#endif
