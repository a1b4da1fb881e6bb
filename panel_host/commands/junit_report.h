// JUnit XML, the report CI servers (Jenkins, GitLab, GitHub's reporters) show
// by test name. Every text is made well-formed XML: escaped, with bytes that
// are not UTF-8 and characters XML cannot carry replaced by U+FFFD.
#ifndef JUNIT_REPORT_H
#define JUNIT_REPORT_H

#include <optional>
#include <string>
#include <vector>

struct JUnitCase {
    std::string name;
    std::string className;
    double seconds = 0;
    // A failed expectation or breach (failure), or a run that could not go on (error).
    std::optional<std::string> failure;
    std::optional<std::string> error;
    std::optional<std::string> skipped;
    std::string details;   // the failure's or error's text
    std::string systemOut; // the transcript
};

struct JUnitSuite {
    std::string name;
    double seconds = 0;
    std::vector<JUnitCase> cases;
};

std::string junitXml(const JUnitSuite& suite);
// Writes the report; false when the file cannot be written.
bool writeJUnit(const std::string& path, const JUnitSuite& suite);

#endif
