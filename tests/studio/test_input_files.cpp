// Files panel-host reads from the user: studio files and anything that is not
// a small regular file.
#include "shell_command.h"
#include "studio.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct StudioLine {
    const char* text;
    bool accepted;
};

TEST(StudioFile, AcceptsTheDocumentedLinesAndRefusesTheRest) {
    const StudioLine lines[] = {
        {"instrument 9 DUD Audio Router", true},
        {"source 11 ISDN 1", true},
        {"route 12 11", true},
        {"route 13 0", true},
        {"  # a comment", true},
        {"", true},
        {"route 12", false},
        {"route 12 11 extra", false},
        {"route 0 3", false},
        {"route 12 -1", false},
        {"source 0 NOTHING", false},
        {"source 3", false},
        {"instrument x NAME", false},
        {"volume 3 4", false},
    };
    for (const StudioLine& line : lines) {
        Studio studio;
        std::string error;
        EXPECT_EQ(studio.parseStudio(line.text, error), line.accepted) << line.text;
        if (!line.accepted) // what was expected, or which word is not a number
            EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
    }
}

TEST(StudioFile, LinesChangeTheStudio) {
    Studio studio;
    std::string error;
    ASSERT_TRUE(studio.parseStudio("instrument 9 DUD Audio Router\nsource 11 ISDN 1\nroute 12 11\n",
                                   error));
    EXPECT_EQ(studio.audioRouterDevice(), 9);
    EXPECT_EQ(studio.sourceByName("ISDN 1"), 11);
    EXPECT_EQ(studio.audioSourceName(studio.audioSourceOf(12)), "ISDN 1");
}

class InputFile : public ::testing::Test {
  protected:
    TemporaryFolder temporary;
    const std::string folder = temporary.path();
};

TEST_F(InputFile, RefusesWhatIsNotASmallRegularFile) {
    std::string fifo = folder + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string huge = folder + "/huge";
    int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(ftruncate(fd, maxTextFileBytes + 1), 0); // sparse: costs no disk
    close(fd);
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {
        {folder, "is not a regular file"},      {fifo, "is not a regular file"},
        {"/dev/zero", "is not a regular file"}, {huge, "is larger than 16 MiB"},
        {folder + "/missing", "cannot open"},
    };
    for (const Case& c : cases) {
        std::string text, why;
        EXPECT_FALSE(readTextFile(c.path, text, why)) << c.path;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.path << ": " << why;
        EXPECT_NE(why.find(c.path), std::string::npos) << why;
    }
}

TEST_F(InputFile, ReadsARegularFileWhole) {
    std::string path = folder + "/studio.txt";
    std::string written(200000, 'x');
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(written.data(), 1, written.size(), file);
    std::fclose(file);
    std::string text, why;
    ASSERT_TRUE(readTextFile(path, text, why)) << why;
    EXPECT_EQ(text, written);
}

} // namespace
