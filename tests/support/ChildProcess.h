// A program run as a child process, its standard output and error written to one file, for tests of the
// command-line tool. Every wait is bounded, and a child still running at the end is killed.
#ifndef PELLAX_TEST_SUPPORT_CHILD_PROCESS_H
#define PELLAX_TEST_SUPPORT_CHILD_PROCESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/Wait.h"

namespace pellax_test {

class CChildProcess {
public:
    // False from Interrupt on Windows: Wine delivers no console Ctrl-C to a child, so it is terminated there.
    static const bool kCtrlC;

    CChildProcess(const std::string& program, const std::vector<std::string>& arguments)
        : m_outputPath((std::filesystem::temp_directory_path() /
                        ("pellax-child-" + std::to_string(std::random_device()()) + ".txt")).string())
    {
        Start(program, arguments);
    }
    ~CChildProcess()
    {
        Wait(std::chrono::milliseconds(0));
        std::remove(m_outputPath.c_str());
    }

    // What the child wrote so far.
    std::string Output() const
    {
        std::ifstream file(m_outputPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    // Ctrl-C (SIGINT), or with kill, or where kCtrlC is false, the end of the child.
    void Interrupt(bool kill = false);
    // The exit code once the child ended within the limit; -1 when it was killed.
    int Wait(std::chrono::milliseconds limit = kWaitLimit)
    {
        int code = -1;
        if (m_process != -1 && !WaitUntil([&] { return Exited(&code); }, limit)) {
            Interrupt(true);
            WaitUntil([&] { return Exited(&code); });
            code = -1;
        }
        return code;
    }

private:
    void Start(const std::string& program, const std::vector<std::string>& arguments);
    // True, with the exit code, once the child ended; the process is released then.
    bool Exited(int* code);

    std::intptr_t m_process = -1;  // a process id or a process handle
    const std::string m_outputPath;
};

}  // namespace pellax_test

#endif
