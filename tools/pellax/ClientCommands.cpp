// pellax send | call: a client that connects, registers and sends asynchronously or synchronously.
#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <vector>

#include "Commands.h"
#include "Endpoint.h"
#include "LibraryScope.h"
#include "MessageText.h"
#include "Terminal.h"
#include "pellax.h"

namespace pellax_tool {

namespace {
struct ClientOptions {
    std::string connect = "127.0.0.1:7000";
    unsigned int command = 0;
    std::string data;
    std::string file;
    bool stdinData = false;
    std::vector<std::string> exts;
    int flag = 0;
    unsigned int timeout = 5;
    int count = 1;
};

// The events of the one session, as the waiting command thread sees them.
class SessionEvents {
public:
    static constexpr unsigned int Bit(unsigned int type) { return 1u << type; }

    void Raise(unsigned int type)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen |= Bit(type);
        m_changed.notify_all();
    }
    // True when any of the wanted events was raised in time.
    bool WaitFor(unsigned int mask, std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return (m_seen & mask) != 0; });
    }
    bool Seen(unsigned int type)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return (m_seen & Bit(type)) != 0;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    unsigned int m_seen = 0;
};

int OnClientNotify(unsigned int, unsigned int type, PELLAX_Message* message, void* user)
{
    static_cast<SessionEvents*>(user)->Raise(type);
    if (type == PELLAX_CLIENT_EVENT_DATA && message != nullptr) {
        Terminal::Line(Tone::Client, "received " + DescribeMessage(message));
    }
    return 0;
}

bool LoadData(const ClientOptions& options, std::string& data)
{
    if (!options.file.empty()) {
        std::ifstream file(options.file, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "pellax: cannot read %s\n", options.file.c_str());
            return false;
        }
        data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        return true;
    }
    if (options.stdinData) {
        data.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    data = options.data;
    return true;
}

// "TYPE=TEXT" pairs become a linked extension list; the nodes point into texts.
bool BuildExtensions(const std::vector<std::string>& pairs, std::vector<std::string>& texts,
                     std::vector<PELLAX_MessageExt>& nodes)
{
    texts.clear();
    nodes.assign(pairs.size(), PELLAX_MessageExt{});
    for (const std::string& pair : pairs) {
        size_t equals = pair.find('=');
        std::string typeText = pair.substr(0, equals);
        char* end = nullptr;
        unsigned long type = std::strtoul(typeText.c_str(), &end, 10);
        if (equals == std::string::npos || equals == 0 || *end != '\0') {
            std::fprintf(stderr, "pellax: --ext wants TYPE=TEXT, got '%s'\n", pair.c_str());
            return false;
        }
        texts.push_back(pair.substr(equals + 1));
        nodes[texts.size() - 1].type = static_cast<uint32_t>(type);
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].length = static_cast<uint32_t>(texts[i].size());
        nodes[i].data = reinterpret_cast<unsigned char*>(&texts[i][0]);
        nodes[i].next = i + 1 < nodes.size() ? &nodes[i + 1] : nullptr;
    }
    return true;
}

// Connects and waits for the registration; -1 when the connection failed.
int OpenSession(const ClientOptions& options, SessionEvents& events)
{
    Endpoint endpoint;
    if (!ParseEndpoint(options.connect, endpoint)) {
        std::fprintf(stderr, "pellax: --connect wants HOST:PORT, got '%s'\n", options.connect.c_str());
        return -1;
    }
    PELLAX_CLIENT_SetNotifyCallBack(OnClientNotify, &events);
    int handle = PELLAX_CLIENT_CreateSession(endpoint.host.c_str(), endpoint.port, "{\"connect-timeout\":3}");
    if (handle < 0) {
        std::fprintf(stderr, "pellax: cannot create a client session (code %d)\n", handle);
        return -1;
    }
    unsigned int joinOutcome = SessionEvents::Bit(PELLAX_CLIENT_EVENT_CONNECTED) |
                               SessionEvents::Bit(PELLAX_CLIENT_EVENT_CONNECT_FAILED);
    if (!events.WaitFor(joinOutcome, std::chrono::seconds(5)) || events.Seen(PELLAX_CLIENT_EVENT_CONNECT_FAILED)) {
        std::fprintf(stderr, "pellax: cannot connect to %s: connection refused or timed out\n",
                     options.connect.c_str());
        PELLAX_CLIENT_DestroySession(handle);
        return -1;
    }
    if (!events.WaitFor(SessionEvents::Bit(PELLAX_CLIENT_EVENT_REGISTERED), std::chrono::seconds(4))) {
        Terminal::Line(Tone::Note, "connected, but the server did not answer Register; sending anyway");
    }
    return handle;
}

void FillRequest(PELLAX_Message& request, const ClientOptions& options, std::string& data,
                 std::vector<PELLAX_MessageExt>& nodes)
{
    std::memset(&request, 0, sizeof(request));
    request.command = options.command;
    request.data = reinterpret_cast<unsigned char*>(&data[0]);
    request.dataLength = static_cast<int32_t>(data.size());
    request.ext = nodes.empty() ? nullptr : nodes.data();
    request.flag = options.flag;
}

int Send(int handle, PELLAX_Message& request, int index)
{
    request.sequence = static_cast<uint32_t>(PELLAX_GenerateSequence());
    int result = PELLAX_CLIENT_Send(static_cast<unsigned int>(handle), &request);
    if (result != 0) {
        std::fprintf(stderr, "pellax: send %d failed (code %d)\n", index + 1, result);
        return 1;
    }
    Terminal::Line(Tone::Client, Format("sent %d: %s", index + 1, DescribeMessage(&request).c_str()));
    return 0;
}

int Call(int handle, PELLAX_Message& request, unsigned int timeout, int index)
{
    PELLAX_Message response;
    std::memset(&response, 0, sizeof(response));
    auto start = std::chrono::steady_clock::now();
    int result = PELLAX_CLIENT_SynSend(static_cast<unsigned int>(handle), &request, &response, timeout);
    double micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    if (result != 0) {
        std::fprintf(stderr, "pellax: call %d got no answer within %u s (code %d)\n", index + 1, timeout, result);
        return 1;
    }
    Terminal::Line(Tone::Good, Format("answer %d in %.1f us: %s", index + 1, micros, DescribeMessage(&response).c_str()));
    for (PELLAX_MessageExt* node = response.ext; node != nullptr;) {
        PELLAX_MessageExt* next = node->next;
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(node);
        node = next;
    }
    PELLAX_FreeBuffer(response.data);
    return 0;
}

int RunClient(const ClientOptions& options, bool synchronous)
{
    std::string data;
    std::vector<std::string> extTexts;
    std::vector<PELLAX_MessageExt> nodes;
    if (!LoadData(options, data) || !BuildExtensions(options.exts, extTexts, nodes)) {
        return 2;
    }
    LibraryScope library(LogLevelOption());
    SessionEvents events;
    int handle = OpenSession(options, events);
    if (handle < 0) {
        return 1;
    }
    PELLAX_Message request;
    FillRequest(request, options, data, nodes);
    int failures = 0;
    for (int i = 0; i < options.count; ++i) {
        failures += synchronous ? Call(handle, request, options.timeout, i) : Send(handle, request, i);
    }
    // The destroy writes out the frames still queued before it closes the connection.
    PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle));
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    return failures == 0 ? 0 : 1;
}

CLI::App* AddClientCommand(CLI::App& app, const char* name, const char* description, ClientOptions& options)
{
    auto* command = app.add_subcommand(name, description);
    command->add_option("--connect", options.connect, "Server HOST:PORT")->capture_default_str();
    command->add_option("--command", options.command, "Command number (even: request)")->required();
    auto* data = command->add_option("--data", options.data, "Body text");
    auto* file = command->add_option("--file", options.file, "Read the body from a file");
    auto* input = command->add_flag("--stdin", options.stdinData, "Read the body from standard input");
    data->excludes(file)->excludes(input);
    file->excludes(input);
    command->add_option("--ext", options.exts, "Extension header TYPE=TEXT (repeatable)");
    command->add_option("--flag", options.flag, "Flag byte carried with the frame")->check(CLI::Range(0, 255));
    command->add_option("--timeout", options.timeout, "Seconds to wait for each answer")->capture_default_str();
    command->add_option("--count", options.count, "How many messages to send")->check(CLI::Range(1, 1000000));
    return command;
}
}

void AddClientCommands(CLI::App& app, int& exitCode)
{
    static ClientOptions sendOptions;
    static ClientOptions callOptions;
    auto* send = AddClientCommand(app, "send", "Connect, register and send asynchronously", sendOptions);
    send->footer("Example: pellax send --connect 127.0.0.1:7000 --command 1000 --data hello --ext 7=meta");
    send->callback([&exitCode] { exitCode = RunClient(sendOptions, false); });
    auto* call = AddClientCommand(app, "call", "Connect, register, send a request and wait for its answer",
                                  callOptions);
    call->footer("Example: pellax call --connect 127.0.0.1:7000 --command 1000 --data ping --timeout 3");
    call->callback([&exitCode] { exitCode = RunClient(callOptions, true); });
}

}  // namespace pellax_tool
