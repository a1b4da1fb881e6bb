#include "script_sandbox.h"

#if defined(__linux__)

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(PANEL_HOST_HAS_SECCOMP)
#include <seccomp.h>
#endif

namespace {

bool writeFile(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// The children of every thread of `pid`, from /proc (a script's threads may fork too).
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (folder == nullptr)
        return children;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/children");
        for (long child; in >> child;)
            children.push_back(static_cast<pid_t>(child));
    }
    closedir(folder);
    return children;
}

// Running, or stopped: anything but a zombie waiting to be reaped.
bool isRunning(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    std::size_t close = line.rfind(')'); // the name may hold spaces and parentheses
    char state = close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 'X';
    return state != 'Z' && state != 'X';
}

// /proc shows this process under the number it has for itself (false where
// the namespace could not mount its own /proc).
bool procMatchesThisProcess() {
    std::ifstream in("/proc/self/stat");
    long pid = 0;
    return (in >> pid) && pid == getpid();
}

// In a namespace of its own, /proc lists the namespace's processes alone:
// nothing but the supervisor, this process and its helpers means nothing
// left, found with one listing instead of a walk of the tree.
bool onlyKnownProcesses(pid_t supervisor, pid_t self, const std::vector<pid_t>& helpers) {
    DIR* folder = opendir("/proc");
    if (folder == nullptr)
        return false;
    int listed = 0, others = 0;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        bool known = pid == supervisor || pid == self;
        for (pid_t helper : helpers)
            known = known || pid == helper;
        ++listed;
        others += known ? 0 : 1;
        if (listed > 64)
            break; // the machine's /proc, not a namespace's: walk the tree instead
    }
    closedir(folder);
    return listed <= 64 && others == 0;
}

bool probeNamespaces() {
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (!enterScriptNamespaces())
            _exit(1);
        pid_t first = fork();
        if (first == 0)
            _exit(mountNamespaceProc() && getpid() == 1 && procMatchesThisProcess() ? 0 : 1);
        int status = 0;
        _exit(first > 0 && waitpid(first, &status, 0) == first && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool probeFilter() {
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0)
        _exit(confineScript(SandboxKind::seccompFilter) ? 0 : 1);
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#if defined(PANEL_HOST_HAS_SECCOMP)
// Signals, ptrace and another process's memory or descriptors, each refused
// (EPERM) unless aimed at the script's own process: kill only to its own
// process group (0), the thread calls (raise among them) only within its own
// process. A rule takes one comparison an argument, so kill(getpid(), ...)
// is refused too: raise() is the way to signal oneself.
bool loadFilter() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (filter == nullptr)
        return false;
    const scmp_datum_t self = static_cast<scmp_datum_t>(getpid());
    const auto refuse = SCMP_ACT_ERRNO(EPERM);
    bool ok = seccomp_rule_add(filter, refuse, SCMP_SYS(kill), 1, SCMP_A0_32(SCMP_CMP_NE, 0)) == 0;
    for (int call : {SCMP_SYS(tkill), SCMP_SYS(tgkill), SCMP_SYS(rt_sigqueueinfo),
                     SCMP_SYS(rt_tgsigqueueinfo)})
        ok = ok && seccomp_rule_add(filter, refuse, call, 1, SCMP_A0_32(SCMP_CMP_NE, self)) == 0;
    for (int call : {SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev),
                     SCMP_SYS(pidfd_send_signal), SCMP_SYS(pidfd_getfd)})
        ok = ok && seccomp_rule_add(filter, refuse, call, 0) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}
#else
bool loadFilter() {
    return false;
}
#endif

} // namespace

SandboxKind sandboxKind() {
    static const SandboxKind kind = [] {
        const char* asked = std::getenv("PANEL_HOST_SANDBOX");
        bool filterAsked = asked != nullptr && std::strcmp(asked, "seccomp") == 0;
        if (!filterAsked && probeNamespaces())
            return SandboxKind::pidNamespace;
        return probeFilter() ? SandboxKind::seccompFilter : SandboxKind::none;
    }();
    return kind;
}

std::string sandboxText(SandboxKind kind) {
    switch (kind) {
    case SandboxKind::pidNamespace:
        return "a PID namespace of its own";
    case SandboxKind::seccompFilter:
        return "a seccomp filter (no PID namespace allowed here)";
    case SandboxKind::none:
        break;
    }
    return "its own process group only (neither namespaces nor seccomp allowed here)";
}

bool enterScriptNamespaces() {
    uid_t user = geteuid();
    gid_t group = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNS) != 0)
        return false;
    return writeFile("/proc/self/uid_map",
                     std::to_string(user) + " " + std::to_string(user) + " 1\n") &&
           writeFile("/proc/self/setgroups", "deny") &&
           writeFile("/proc/self/gid_map",
                     std::to_string(group) + " " + std::to_string(group) + " 1\n");
}

bool mountNamespaceProc() {
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0;
}

bool confineScript(SandboxKind kind) {
    setpgid(0, 0);
    return kind != SandboxKind::seccompFilter || loadFilter();
}

int leftoverProcesses(pid_t supervisor, const std::vector<pid_t>& helpers) {
    static const bool procIsOurs = procMatchesThisProcess();
    if (!procIsOurs)
        return 0; // numbers read there would be another namespace's
    const pid_t self = getpid();
    if (onlyKnownProcesses(supervisor, self, helpers))
        return 0;
    auto isHelper = [&](pid_t pid) {
        for (pid_t helper : helpers)
            if (helper == pid)
                return true;
        return false;
    };
    int left = 0;
    std::vector<pid_t> pending = childrenOf(supervisor);
    for (std::size_t seen = 0; !pending.empty() && seen < 100000; ++seen) {
        pid_t pid = pending.back();
        pending.pop_back();
        if (isHelper(pid))
            continue;
        if (pid != self && isRunning(pid))
            ++left;
        for (pid_t child : childrenOf(pid))
            pending.push_back(child);
    }
    return left;
}

void endDescendants() {
    for (int round = 0; round < 500; ++round) {
        std::vector<pid_t> children = childrenOf(getpid());
        for (pid_t child : children)
            kill(child, SIGKILL);
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (children.empty())
            return;
        usleep(1000);
    }
}

#else // no namespaces, seccomp or /proc: the script runs in its child, as before

SandboxKind sandboxKind() {
    return SandboxKind::none;
}
std::string sandboxText(SandboxKind) {
    return "a child process only";
}
bool enterScriptNamespaces() {
    return false;
}
bool mountNamespaceProc() {
    return false;
}
bool confineScript(SandboxKind) {
    return false;
}
int leftoverProcesses(pid_t, const std::vector<pid_t>&) {
    return 0;
}
void endDescendants() {}

#endif
