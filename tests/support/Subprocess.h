#pragma once
// Runs a program with arguments, collects its standard output and error, and kills it when it
// outlives a time limit, so an end-to-end test can never hang.

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ProcessResult {
    int exitCode = -1; // -1 when killed or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

class Subprocess {
public:
    explicit Subprocess(const std::vector<std::string>& args) {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        m_out = outPipe[0];
        m_err = errPipe[0];
    }
    ~Subprocess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
        if (m_err >= 0)
            close(m_err);
    }
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    void Signal(int signal) {
        if (m_pid > 0)
            kill(m_pid, signal);
    }

    pid_t Pid() const { return m_pid; }

    // What the program has written to its standard output so far.
    const std::string& Output() const { return m_result.out; }

    // What the program has written to its error stream so far, after up to `waitMs` for more.
    const std::string& Errors(int waitMs = 50) {
        Pump(waitMs);
        return m_result.err;
    }

    // Reads until `text` appears in the output or the time passes.
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_result.out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= end || !Pump(20))
                return m_result.out.find(text) != std::string::npos;
        }
        return true;
    }

    // Waits for the program to end, killing it after `timeoutMs`.
    ProcessResult Finish(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Pump(20)) {
            if (std::chrono::steady_clock::now() >= end) {
                m_result.timedOut = true;
                kill(m_pid, SIGKILL);
                break;
            }
        }
        int status = 0;
        if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status) &&
            !m_result.timedOut)
            m_result.exitCode = WEXITSTATUS(status);
        m_pid = -1;
        return m_result;
    }

private:
    // False once both pipes are at their end.
    bool Pump(int waitMs) {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (m_out < 0 && m_err < 0)
            return false;
        poll(fds, 2, waitMs);
        ReadFrom(m_out, fds[0].revents, m_result.out);
        ReadFrom(m_err, fds[1].revents, m_result.err);
        return m_out >= 0 || m_err >= 0;
    }
    static void ReadFrom(int& fd, short revents, std::string& into) {
        if (fd < 0 || !(revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    ProcessResult m_result;
};

inline ProcessResult RunProgram(const std::vector<std::string>& args, int timeoutMs = 20000) {
    Subprocess process(args);
    return process.Finish(timeoutMs);
}
