#include "symbolizer_process.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Questions in flight at once: their answers fit the socket's buffers, so
// neither side waits on the other while both write.
constexpr std::size_t batchSize = 128;
constexpr int answerTimeoutMs = 10000;
constexpr std::size_t maxAnswerLine = 1u << 20;
constexpr std::size_t maxFramesPerAnswer = 64;
// A name read from a PDB goes into messages: longer ones are cut.
constexpr std::size_t maxNameSize = 1024;
// Where the win32 build roots the sources it records (/pdbsourcepath).
constexpr const char* buildSourceRoot = "/source/";

// Relative to the source tree where the build said so: under the win32
// build's root, or behind "./" (a native build with its folder mapped to ".").
std::string withoutBuildRoot(const std::string& file) {
    std::size_t root = std::strlen(buildSourceRoot);
    std::string name = file.compare(0, root, buildSourceRoot) == 0 ? file.substr(root) : file;
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    return name;
}

std::string text(const nlohmann::json& value) {
    if (!value.is_string())
        return std::string();
    std::string name = value.get<std::string>();
    if (name.size() > maxNameSize)
        name = name.substr(0, maxNameSize) + "...";
    return name;
}

// One JSON answer: {"Symbol": [{"FunctionName", "FileName", "Line"}, ...]}, or an "Error".
std::optional<SymbolizerProcess::Frames> parseAnswer(const std::string& line) {
    nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
    if (answer.is_discarded() || !answer.is_object())
        return std::nullopt;
    SymbolizerProcess::Frames frames;
    auto symbols = answer.find("Symbol");
    if (symbols == answer.end() || !symbols->is_array())
        return frames;
    for (const nlohmann::json& symbol : *symbols) {
        if (!symbol.is_object() || frames.size() >= maxFramesPerAnswer)
            break;
        SourceFrame frame;
        frame.function = text(symbol.value("FunctionName", nlohmann::json()));
        frame.file = withoutBuildRoot(text(symbol.value("FileName", nlohmann::json())));
        auto line = symbol.find("Line");
        if (line != symbol.end() && line->is_number_unsigned())
            frame.line = line->get<std::uint32_t>();
        if (frame.function.empty() && frame.file.empty())
            continue;
        frames.push_back(std::move(frame));
    }
    return frames;
}

bool quotable(const std::string& path) {
    return !path.empty() && path.find_first_of("\"\n\r") == std::string::npos;
}

} // namespace

SymbolizerProcess::~SymbolizerProcess() {
    stop();
}

std::string SymbolizerProcess::program() {
    const char* chosen = std::getenv("PANEL_HOST_SYMBOLIZER");
    return chosen != nullptr && *chosen != '\0' ? chosen : "llvm-symbolizer";
}

bool SymbolizerProcess::start() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string path = program();
    std::vector<std::string> args = {path, "--inlines", "--relative-address",
                                     "--output-style=JSON"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        return false;
    }
    child_ = pid;
    socket_ = ends[0];
    owner_ = getpid();
    pending_.clear();
    return true;
}

void SymbolizerProcess::stop() {
    if (socket_ >= 0)
        close(socket_);
    socket_ = -1;
    // A child inherited through fork belongs to the process that started it.
    if (child_ > 0 && owner_ == getpid()) {
        kill(child_, SIGKILL);
        while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    child_ = -1;
}

bool SymbolizerProcess::readLine(std::string& line) {
    for (;;) {
        std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (pending_.size() > maxAnswerLine)
            return false;
        pollfd ready{socket_, POLLIN, 0};
        int polled = poll(&ready, 1, answerTimeoutMs);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        char buffer[65536];
        ssize_t got = recv(socket_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool SymbolizerProcess::ask(const std::vector<Query>& queries, std::size_t from,
                            std::size_t count) {
    std::string request;
    char offset[16];
    for (std::size_t i = from; i < from + count; ++i) {
        std::snprintf(offset, sizeof offset, "0x%x", queries[i].offset);
        request += "\"" + *queries[i].module + "\" " + offset + "\n";
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t wrote = send(socket_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        sent += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::optional<std::vector<SymbolizerProcess::Frames>>
SymbolizerProcess::lookup(const std::vector<Query>& queries) {
    if (!enabled_)
        return std::nullopt;
    for (const Query& query : queries)
        if (query.module == nullptr || !quotable(*query.module))
            return std::nullopt;
    if (child_ > 0 && owner_ != getpid())
        stop(); // inherited across fork: start our own
    if (failed_ || (child_ < 0 && !start())) {
        failed_ = true;
        return std::nullopt;
    }
    std::vector<Frames> answers;
    answers.reserve(queries.size());
    for (std::size_t from = 0; from < queries.size(); from += batchSize) {
        std::size_t count = std::min(batchSize, queries.size() - from);
        if (!ask(queries, from, count)) {
            failed_ = true;
            stop();
            return std::nullopt;
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::string line;
            std::optional<Frames> frames;
            if (!readLine(line) || !(frames = parseAnswer(line))) {
                failed_ = true;
                stop();
                return std::nullopt;
            }
            answers.push_back(std::move(*frames));
        }
    }
    return answers;
}

pid_t SymbolizerProcess::runningChild() const {
    return owner_ == getpid() ? child_ : -1;
}

SymbolizerProcess& sharedSymbolizer() {
    static SymbolizerProcess symbolizer;
    return symbolizer;
}
