// A program run as a child process, its standard output and error read into one text, for tests of the
// command-line tool. Every wait is bounded, and a child still running at the end is killed.
#ifndef PELLAX_TEST_SUPPORT_CHILD_PROCESS_H
#define PELLAX_TEST_SUPPORT_CHILD_PROCESS_H

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Wait.h"

namespace pellax_test {

class CChildProcess {
public:
    // False from Interrupt on Windows: Wine delivers no console Ctrl-C to a child, so it is terminated there.
    static const bool kCtrlC;

    CChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    {
        if (Start(program, arguments)) {
            m_reader = std::thread([this] {
                char buffer[4096];
                for (long got; (got = ReadSome(buffer, sizeof(buffer))) > 0;) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_text.append(buffer, static_cast<size_t>(got));
                }
            });
        }
    }
    ~CChildProcess() { Wait(std::chrono::milliseconds(0)); }

    std::string Output()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }
    // Ctrl-C (SIGINT), or with kill, or where kCtrlC is false, the end of the child.
    void Interrupt(bool kill = false);
    // The exit code once the child ended within the limit and its output is all read; -1 when it was killed.
    int Wait(std::chrono::milliseconds limit = kWaitLimit)
    {
        int code = -1;
        if (m_process != -1 && !WaitUntil([&] { return Exited(&code); }, limit)) {
            Interrupt(true);
            WaitUntil([&] { return Exited(&code); });
            code = -1;
        }
        if (m_reader.joinable()) {
            m_reader.join();
        }
        return code;
    }

private:
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // Blocks for output; 0 once the child's end of the pipe is closed.
    long ReadSome(char* buffer, size_t size);
    // True, with the exit code, once the child ended; the process is released then.
    bool Exited(int* code);

    std::intptr_t m_process = -1;  // a process id or a process handle
    std::intptr_t m_output = -1;   // the read end of the output pipe
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_text;
};

}  // namespace pellax_test

#endif
