// A tiny pass/fail tally for the Windows check programs (no test framework
// links there): each failed check prints one line; main returns the count.
#ifndef CHECK_REPORT_H
#define CHECK_REPORT_H

#include <stdio.h>
#include <string.h>

struct CheckReport {
    int checks;
    int failures;
};

inline void check(CheckReport& report, bool ok, const char* what) {
    ++report.checks;
    if (!ok) {
        ++report.failures;
        printf("FAILED: %s\n", what);
    }
}

inline void checkText(CheckReport& report, const char* got, const char* expected,
                      const char* what) {
    ++report.checks;
    if (got == 0 || strcmp(got, expected) != 0) {
        ++report.failures;
        printf("FAILED: %s\n  expected: %s\n  got:      %s\n", what, expected,
               got == 0 ? "(nothing)" : got);
    }
}

inline int finish(const CheckReport& report, const char* name) {
    printf("%s: %d checks, %d failed\n", name, report.checks, report.failures);
    return report.failures == 0 ? 0 : 1;
}

#endif
