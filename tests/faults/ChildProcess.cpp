#include "ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellax_test {

CChildProcess::~CChildProcess()
{
    Kill();
}

bool CChildProcess::StartRole(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{"--pellax-fault-role"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Start("/proc/self/exe", all);
}

bool CChildProcess::StartServe(uint16_t port, bool echo, int keepaliveInterval, int keepaliveTimeout)
{
    std::vector<std::string> arguments{"serve", "--listen", "127.0.0.1:" + std::to_string(port),
                                       "--keepalive-interval", std::to_string(keepaliveInterval),
                                       "--keepalive-timeout", std::to_string(keepaliveTimeout), "--quiet"};
    if (echo) {
        arguments.push_back("--echo");
    }
    return Start(PELLAX_TOOL_PATH, arguments);
}

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    // The argument vector is built before fork: the child only calls async-signal-safe functions.
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        // A helper never outlives the test that started it, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    if (m_pid < 0) {
        close(pipeFds[0]);
        return false;
    }
    m_nOutput = pipeFds[0];
    return true;
}

bool CChildProcess::ReadLine(std::string* line, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            *line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (m_nOutput < 0 || left.count() <= 0) {
            return false;
        }
        pollfd waiting{m_nOutput, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[256];
        ssize_t got = read(m_nOutput, buffer, sizeof(buffer));
        if (got <= 0) {
            return false;
        }
        m_pending.append(buffer, static_cast<size_t>(got));
    }
}

void CChildProcess::Signal(int signal)
{
    if (m_pid > 0) {
        kill(m_pid, signal);
    }
}

void CChildProcess::Kill()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    if (m_nOutput >= 0) {
        close(m_nOutput);
        m_nOutput = -1;
    }
}

}  // namespace pellax_test
