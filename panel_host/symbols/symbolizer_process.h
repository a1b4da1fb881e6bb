// llvm-symbolizer kept running as one child process for the whole run: asked
// for a module's address (relative to its image base), it answers the source
// frames there, innermost first (inlined frames included). Started on the
// first question, so a run that asks none pays nothing.
//
// Threads: one caller at a time. The child's answers are untrusted text: each
// is one JSON line, read with a deadline; a child that dies, hangs or answers
// garbage is ended and every later question answered with nothing.
#ifndef SYMBOLIZER_PROCESS_H
#define SYMBOLIZER_PROCESS_H

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct SourceFrame {
    std::string function;
    std::string file; // as the debug information names it, less the build's "/source/" root or "./"
    std::uint32_t line = 0;
};

class SymbolizerProcess {
  public:
    struct Query {
        const std::string* module; // a path without quotes or line breaks
        std::uint32_t offset;      // from the module's image base
    };
    using Frames = std::vector<SourceFrame>; // innermost first; empty: unknown

    SymbolizerProcess() = default;
    SymbolizerProcess(const SymbolizerProcess&) = delete;
    SymbolizerProcess& operator=(const SymbolizerProcess&) = delete;
    ~SymbolizerProcess();

    // One answer per query, in order; nothing when the child cannot be had
    // (not installed, ended) or stopped answering.
    std::optional<std::vector<Frames>> lookup(const std::vector<Query>& queries);

    // The program run: $PANEL_HOST_SYMBOLIZER, else llvm-symbolizer on the PATH.
    static std::string program();
    // Off: every question is answered with nothing, and no child starts.
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // The child this process started, or -1: not a process the script left.
    pid_t runningChild() const;

  private:
    bool start();
    void stop();
    bool ask(const std::vector<Query>& queries, std::size_t from, std::size_t count);
    bool readLine(std::string& line);

    pid_t child_ = -1;
    pid_t owner_ = -1; // the process that started the child
    int socket_ = -1;
    bool failed_ = false;
    bool enabled_ = true;
    std::string pending_; // bytes read past the last whole line
};

// The process-wide symbolizer, started on first use.
SymbolizerProcess& sharedSymbolizer();

#endif
