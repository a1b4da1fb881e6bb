// What a validate run gives back to whoever prints and writes it.
#ifndef VALIDATION_RESULT_H
#define VALIDATION_RESULT_H

#include "validation_report.h"

#include <string>
#include <vector>

struct ValidationResult {
    // ran: the report says the rest; otherwise the run could not start (the
    // log has said why).
    enum End { ran, badInput, cannotLoad, noPanel } end = ran;
    ValidateReport report;
    std::vector<std::string> failedSteps; // each failure's step as generated, for people
    int sessionsPlayed = 0;
    int sessionsPlanned = 0;  // of this shard
    int namedKeys = 0;        // parameter keys sent that the library itself names
    long long blocksSeen = 0; // the guided search's
    // --corpus: sessions read and played first, files skipped, sessions added.
    int corpusRead = 0;
    int corpusSkipped = 0;
    int corpusWritten = 0;
    int corpusPickedUp = 0; // sessions other runs added to the folder while this one ran
};

#endif
