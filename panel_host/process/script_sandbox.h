// What keeps a script's child process from panel-host, with what Linux gives
// an unprivileged program: a PID namespace of its own (the script sees no
// process outside it, cannot signal one, and every process it starts ends
// with it), or, where the kernel refuses namespaces, a seccomp filter that
// refuses signals, ptrace and memory access aimed outside the script's own
// process, with its supervisor as the reaper of whatever it leaves.
#ifndef SCRIPT_SANDBOX_H
#define SCRIPT_SANDBOX_H

#include <string>
#include <sys/types.h>
#include <vector>

enum class SandboxKind { pidNamespace, seccompFilter, none };

// What this machine allows, found once per process by a throwaway child
// (call it before forking workers, so they inherit the answer).
// PANEL_HOST_SANDBOX=seccomp asks for the filter even where namespaces work.
SandboxKind sandboxKind();

// For summaries: "a PID namespace of its own", ...
std::string sandboxText(SandboxKind kind);

// In the child that supervises the script: new user, PID and mount
// namespaces, this process mapped to its own user. False when refused.
bool enterScriptNamespaces();

// In the first process of the new PID namespace: a private mount tree and a
// /proc of the namespace's own, so process numbers read there are its own.
bool mountNamespaceProc();

// In the process that runs the script: a process group of its own and, for
// the seccomp kind, the filter (which lets it signal only its own group,
// with kill(0, ...), and its own threads, as raise() does).
bool confineScript(SandboxKind kind);

// Processes running under `supervisor` (the script's own process, its
// children and orphans adopted by the supervisor), other than this process
// and the `helpers` panel-host itself started there. Zombies do not count.
int leftoverProcesses(pid_t supervisor, const std::vector<pid_t>& helpers);

// In a supervisor: ends every process it has adopted or started, round after
// round until none is left (a script's forks race the first rounds).
void endDescendants();

#endif
