#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

// A private X server for one test: Xvfb on a display number it picks itself (so tests running at
// once each get their own), reachable only through its local socket, gone with the test even
// when the test dies. Start it first thing in main, while the process has one thread (the
// server is forked), after entering the private network.
class XvfbDisplay
{
public:
    XvfbDisplay() = default;
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;
    ~XvfbDisplay() { stop(); }

    // Empty once the server answers on its display, else why there is none.
    std::string start(const std::string& screen = "1600x1000x24", int timeoutMs = 15000)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return std::string("no pipe for Xvfb: ") + std::strerror(errno);
        const pid_t pid = ::fork();
        if (pid < 0) {
            const int error = errno;
            ::close(fds[0]);
            ::close(fds[1]);
            return std::string("cannot fork for Xvfb: ") + std::strerror(error);
        }
        if (pid == 0)
            runServer(fds[1], screen);
        ::close(fds[1]);
        m_pid = pid;
        const std::string number = readDisplayNumber(fds[0], timeoutMs);
        ::close(fds[0]);
        if (number.empty()) {
            const std::string reason = whyNoDisplay();
            stop();
            return reason;
        }
        m_name = ":" + number;
        return {};
    }

    // ":N" once started.
    const std::string& name() const { return m_name; }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

private:
    static constexpr int kNotFound = 127;

    [[noreturn]] static void runServer(int displayFd, const std::string& screen)
    {
        // The server goes with the test, however the test ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::fcntl(displayFd, F_SETFD, 0);
        // Its complaints about keymaps and fonts are of no use to the test.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        const std::string fd = std::to_string(displayFd);
        const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),     "-nolisten", "tcp",
                              "-screen", "0",          screen.c_str(), "-nocursor", nullptr};
        ::execvp(argv[0], const_cast<char* const*>(argv));
        ::_exit(kNotFound);
    }

    // The digits the server writes once it listens, or empty when it never does.
    static std::string readDisplayNumber(int fd, int timeoutMs)
    {
        std::string digits;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return {};
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return {};
            char c = 0;
            const ssize_t got = ::read(fd, &c, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return {};
            if (c == '\n')
                return digits;
            if (c < '0' || c > '9' || digits.size() > 6)
                return {};
            digits += c;
        }
    }

    std::string whyNoDisplay()
    {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            if (WIFEXITED(status) && WEXITSTATUS(status) == kNotFound)
                return "Xvfb not found (Debian package xvfb)";
            return "Xvfb ended before it gave a display (status " + std::to_string(status) + ")";
        }
        return "Xvfb gave no display in time";
    }

    pid_t m_pid = -1;
    std::string m_name;
};
