// JUnit reports of run and validate, as a CI server reads them: valid against
// the schema, a case a scenario file or a kind of failure, any bytes escaped.
#include "shell_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class JUnit : public ::testing::Test {
  protected:
    ShellResult panelHost(const std::string& arguments) {
        return shell(std::string(PANEL_HOST) + " " + arguments, folder + "/out.txt");
    }
    std::string write(const std::string& name, const std::string& text) {
        std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The report is valid against the JUnit schema, checked by xmllint.
    void expectValid(const std::string& path) {
        ShellResult check =
            shell("xmllint --noout --schema " JUNIT_SCHEMA " " + path, folder + "/xmllint.txt");
        EXPECT_EQ(check.status, 0) << check.output << "\n" << read(path);
    }

    TemporaryFolder temporary;
    const std::string folder = temporary.path();
};

TEST_F(JUnit, RunHasACaseAScenarioFileFailingAtItsFirstFailure) {
    std::string good =
        write("good.scenario", "press OS_3\nexpect TP 'statesheet=KTSourceSelected' '1' 'OS_3'\n");
    std::string bad = write("bad.scenario", "press Take\nexpect RC 9 9 9\n");
    std::string later = write("later.scenario", "press Clear\n");
    std::string report = folder + "/run.xml";
    ShellResult run = panelHost("run " PELDAN_LIBRARY_PATH " " + good + " " + bad + " " + later +
                                " --junit " + report);
    EXPECT_EQ(run.status, 1) << run.output;
    expectValid(report);
    std::string xml = read(report);
    EXPECT_NE(xml.find("tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"1\""), std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testcase name=\"good\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("<failure message=\"FAILED " + bad + ":2: expected RC 9 9 9"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<skipped message=\"not played"), std::string::npos) << xml;
    EXPECT_NE(xml.find("host&gt; control 1 OS_3 button=pressed"), std::string::npos) << xml;

    ShellResult passing = panelHost("run " PELDAN_LIBRARY_PATH " " + good + " --junit " + report);
    EXPECT_EQ(passing.status, 0) << passing.output;
    expectValid(report);
    EXPECT_NE(read(report).find("tests=\"1\" failures=\"0\" errors=\"0\" skipped=\"0\""),
              std::string::npos);
}

TEST_F(JUnit, RunReportsACrashABadLineAndALibraryThatCannotLoad) {
    std::string go = write("go.scenario", "press Go\n");
    std::string report = folder + "/crash.xml";
    ShellResult crash =
        shell("PANEL_SCRIPT_MISBEHAVIOUR=crash " PANEL_HOST " run " UNRULY_LIBRARY " " + go + " " +
                  go + " --junit " + report,
              folder + "/out.txt");
    EXPECT_EQ(crash.status, 4) << crash.output;
    expectValid(report);
    EXPECT_NE(read(report).find("<error message=\"the script crashed with signal 11"),
              std::string::npos)
        << read(report);

    std::string broken = write("broken.scenario", "wait soon\n");
    EXPECT_EQ(panelHost("run " PELDAN_LIBRARY_PATH " " + broken + " --junit " + report).status, 2);
    expectValid(report);
    EXPECT_NE(read(report).find("<error message=\"" + broken + ":1: wait MILLISECONDS"),
              std::string::npos)
        << read(report);

    EXPECT_EQ(panelHost("run " + folder + "/none.so " + go + " --junit " + report).status, 3);
    expectValid(report);
    EXPECT_NE(read(report).find("errors=\"1\""), std::string::npos) << read(report);
}

// Label texts come from the router as the studio holds them: bytes that are
// not UTF-8, control characters and markup must not break the report.
TEST_F(JUnit, BytesThatAreNotUtf8OrNotXmlAreReplacedAndEscaped) {
    std::string odd =
        write("odd.scenario",
              std::string("revertive 7 12 \xff\x01<&\"]]>\xc3\x28\n") + "expect nothing-at-all\n");
    std::string report = folder + "/odd.xml";
    panelHost("run " PELDAN_LIBRARY_PATH " " + odd + " --junit " + report);
    expectValid(report);
    std::string xml = read(report);
    EXPECT_NE(xml.find("\xEF\xBF\xBD\xEF\xBF\xBD&lt;&amp;&quot;]]&gt;\xEF\xBF\xBD("),
              std::string::npos)
        << xml;
}

TEST_F(JUnit, ValidateHasACaseAKindOfFailureWithItsSessionsAndReplays) {
    std::string report = folder + "/validate.xml";
    ShellResult found = panelHost("validate " PLANTED_CRASH " --sessions 60 --seed 7 --out " +
                                  folder + "/found --junit " + report);
    EXPECT_EQ(found.status, 1) << found.output;
    expectValid(report);
    std::string xml = read(report);
    EXPECT_NE(xml.find("<testcase name=\"crashed with signal 11\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("(seed 7, every level, sessions 0 to 59)"), std::string::npos) << xml;
    EXPECT_NE(
        xml.find("replay: panel-host run " PLANTED_CRASH " " + folder + "/found/seed-7-session-"),
        std::string::npos)
        << xml;

    ShellResult clean =
        panelHost("validate " PELDAN_LIBRARY_PATH " --sessions 10 --junit " + report);
    EXPECT_EQ(clean.status, 0) << clean.output;
    expectValid(report);
    EXPECT_NE(read(report).find("tests=\"1\" failures=\"0\" errors=\"0\""), std::string::npos);
}

} // namespace
