#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellax_test {

const bool CChildProcess::kCtrlC = true;

void CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int output = open(m_outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0) {
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec in a threaded process.
        dup2(output, 1);
        dup2(output, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(output);
    m_process = pid > 0 ? pid : -1;
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
