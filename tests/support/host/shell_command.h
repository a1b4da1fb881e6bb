// Runs a shell command as a user would, with its output redirected to a file,
// and gives back its exit status and everything it wrote.
#ifndef SHELL_COMMAND_H
#define SHELL_COMMAND_H

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct ShellResult {
    int status = -1; // the exit status; -1 when a signal ended it
    std::string output;
};

inline ShellResult shell(const std::string& command, const std::string& outputFile) {
    ShellResult result;
    int raw = std::system((command + " >" + outputFile + " 2>&1").c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(outputFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

// A fresh folder under /tmp, removed by the destructor.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        char made[] = "/tmp/panel-host-test.XXXXXX";
        path_ = mkdtemp(made) != nullptr ? made : "/tmp";
    }
    ~TemporaryFolder() {
        if (path_ != "/tmp")
            std::system(("rm -rf " + path_).c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

#endif
