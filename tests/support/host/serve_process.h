// A `panel-host serve` of its own for a test: started on a free loopback port,
// waited for, and stopped with SIGTERM at the end.
#ifndef SERVE_PROCESS_H
#define SERVE_PROCESS_H

#include <httplib.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

inline int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class ServeProcess {
  public:
    // `extra`: more arguments after the library; output goes to `logFile`.
    ServeProcess(const std::string& program, const std::string& library,
                 std::vector<std::string> extra, const std::string& logFile, int port = 0)
        : port_(port != 0 ? port : freeLoopbackPort()), log_(logFile) {
        std::vector<std::string> arguments{program, "serve", library, "--port",
                                           std::to_string(port_)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> argv;
            for (std::string& a : arguments)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~ServeProcess() { stop(); }

    // True once the server answers on its port (within five seconds).
    bool ready() {
        for (int i = 0; i < 250; ++i) {
            if (exited())
                return false;
            httplib::Client client("127.0.0.1", port_);
            client.set_connection_timeout(0, 200000);
            if (client.Get("/index.html"))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    bool exited() {
        if (pid_ <= 0)
            return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
            pid_ = -1;
            return true;
        }
        return false;
    }

    // SIGTERM, then the time it took to end (SIGKILL after ten seconds).
    std::chrono::milliseconds stop() {
        auto start = std::chrono::steady_clock::now();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 1000 && !exited(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (pid_ > 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status_, 0);
                pid_ = -1;
            }
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }

    int exitStatus() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string log() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

  private:
    int port_;
    std::string log_;
    pid_t pid_ = -1;
    int status_ = 0;
};

#endif
