#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellax_test {

const bool CChildProcess::kCtrlC = true;

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec in a threaded process.
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    m_output = fds[0];
    m_process = pid > 0 ? pid : -1;
    return true;
}

long CChildProcess::ReadSome(char* buffer, size_t size)
{
    long got = read(static_cast<int>(m_output), buffer, size);
    if (got <= 0) {
        close(static_cast<int>(m_output));
    }
    return got;
}

bool CChildProcess::Exited(int* code)
{
    int status = 0;
    if (waitpid(static_cast<pid_t>(m_process), &status, WNOHANG) != m_process) {
        return false;
    }
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_process = -1;
    return true;
}

void CChildProcess::Interrupt(bool kill)
{
    if (m_process > 0) {
        ::kill(static_cast<pid_t>(m_process), kill ? SIGKILL : SIGINT);
    }
}

}  // namespace pellax_test
