#include "support/ChildProcess.h"

#include <windows.h>

namespace pellax_test {

const bool CChildProcess::kCtrlC = false;

void CChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments)
{
    // A cross-built test running under Wine is given the tool's Unix path; Wine shows the Unix root as Z:.
    std::string commandLine = "\"" + (program.rfind('/', 0) == 0 ? "Z:" + program : program) + "\"";
    for (const std::string& argument : arguments) {
        commandLine += " \"" + argument + "\"";
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE output = CreateFileA(m_outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        m_process = reinterpret_cast<std::intptr_t>(process.hProcess);
    }
    CloseHandle(output);
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
