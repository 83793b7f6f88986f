// A helper process for the fault tests: this test program run again in a child role, or the pellax
// tool. Its standard output comes back through a pipe, line by line, and every wait is bounded.
#ifndef PELLAX_TESTS_FAULTS_CHILD_PROCESS_H
#define PELLAX_TESTS_FAULTS_CHILD_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace pellax_test {

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // This program in a child role (see FaultMain.cpp): "client PORT" or "mute-client PORT".
    bool StartRole(const std::vector<std::string>& arguments);
    // `pellax serve` on 127.0.0.1:port, quiet, answering requests unless mute.
    bool StartServe(uint16_t port, bool echo, int keepaliveInterval, int keepaliveTimeout);

    pid_t GetPid() const { return m_pid; }
    // The next line the child printed, without its newline; false on time-out or end of output.
    bool ReadLine(std::string* line, std::chrono::milliseconds limit);
    void Signal(int signal);
    // SIGKILL and reap; safe to call more than once.
    void Kill();

private:
    bool Start(const std::string& program, const std::vector<std::string>& arguments);

    pid_t m_pid = -1;
    int m_nOutput = -1;
    std::string m_pending;
};

}  // namespace pellax_test

#endif
