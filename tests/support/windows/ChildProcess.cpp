#include "support/ChildProcess.h"

#include <windows.h>

namespace pellax_test {

const bool CChildProcess::kCtrlC = false;

bool CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    // A cross-built test running under Wine is given the tool's Unix path; Wine shows the Unix root as Z:.
    std::string commandLine = "\"" + (program.rfind('/', 0) == 0 ? "Z:" + program : program) + "\"";
    for (const std::string& argument : arguments) {
        commandLine += " \"" + argument + "\"";
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    bool started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process) != 0;
    CloseHandle(writeEnd);
    m_output = reinterpret_cast<std::intptr_t>(readEnd);
    if (started) {
        CloseHandle(process.hThread);
        m_process = reinterpret_cast<std::intptr_t>(process.hProcess);
    }
    return true;
}

long CChildProcess::ReadSome(char* buffer, size_t size)
{
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(m_output), buffer, static_cast<DWORD>(size), &got, nullptr) || got == 0) {
        CloseHandle(reinterpret_cast<HANDLE>(m_output));
        return 0;
    }
    return static_cast<long>(got);
}

bool CChildProcess::Exited(int* code)
{
    HANDLE process = reinterpret_cast<HANDLE>(m_process);
    DWORD exitCode = 0;
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &exitCode)) {
        return false;
    }
    *code = static_cast<int>(exitCode);
    CloseHandle(process);
    m_process = -1;
    return true;
}

void CChildProcess::Interrupt(bool kill)
{
    if (m_process != -1) {
        TerminateProcess(reinterpret_cast<HANDLE>(m_process), kill ? 1 : STATUS_CONTROL_C_EXIT);
    }
}

}  // namespace pellax_test
