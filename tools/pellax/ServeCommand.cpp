// pellax serve: a server that prints every notification, and optionally echoes requests.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstring>
#include <thread>

#include "Commands.h"
#include "Endpoint.h"
#include "LibraryScope.h"
#include "MessageText.h"
#include "Terminal.h"
#include "pellax.h"

namespace pellax_tool {

namespace {
struct ServeOptions {
    std::string listen = "127.0.0.1:7000";
    int keepaliveInterval = 0;
    int keepaliveTimeout = 0;
    bool echo = false;
    bool quiet = false;
};

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

// Answers a request (even command) with command+1, the same sequence and the same body.
void Echo(unsigned int id, const PELLAX_Message* request)
{
    if (request->command % 2 != 0) {
        return;
    }
    PELLAX_Message answer;
    std::memset(&answer, 0, sizeof(answer));
    static unsigned char empty = 0;
    answer.command = request->command + 1;
    answer.sequence = request->sequence;
    answer.data = request->data != nullptr ? request->data : &empty;
    answer.dataLength = request->dataLength;
    answer.ext = request->ext;
    answer.flag = request->flag;
    PELLAX_SERVER_Send(id, &answer);
}

int OnServerNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    const auto* options = static_cast<const ServeOptions*>(user);
    if (type == PELLAX_SERVER_NOTIFY_DATA && options->echo && message != nullptr) {
        Echo(id, message);
    }
    if (options->quiet) {
        return 0;
    }
    std::string text = Format("client %u  %-14s", id, ServerNotificationName(type).c_str());
    if (message != nullptr) {
        text += "  " + DescribeMessage(message);
    }
    Terminal::Line(type == PELLAX_SERVER_NOTIFY_LEFT ? Tone::Bad : Tone::Server, text);
    return 0;
}

std::string BuildOptions(const ServeOptions& options)
{
    std::string json = "{";
    if (options.keepaliveInterval > 0) {
        json += Format("\"keepalive-interval\":%d", options.keepaliveInterval);
    }
    if (options.keepaliveTimeout > 0) {
        json += Format("%s\"keepalive-timeout\":%d", json.size() > 1 ? "," : "", options.keepaliveTimeout);
    }
    return json + "}";
}

int RunServe(ServeOptions& options)
{
    Endpoint endpoint;
    if (!ParseEndpoint(options.listen, endpoint)) {
        std::fprintf(stderr, "pellax: --listen wants HOST:PORT, got '%s'\n", options.listen.c_str());
        return 2;
    }
    LibraryScope library(LogLevelOption());
    PELLAX_SERVER_SetNotifyCallBack(OnServerNotify, &options);
    std::string json = BuildOptions(options);
    int result = PELLAX_SERVER_CreateSession(endpoint.host.c_str(), endpoint.port, json.c_str());
    if (result != 0) {
        std::fprintf(stderr, "pellax: cannot listen on %s (code %d): port in use or address not IPv4?\n",
                     options.listen.c_str(), result);
        return 1;
    }
    Terminal::Line(Tone::Good, Format("listening on %s%s; Ctrl-C stops", options.listen.c_str(),
                                      options.echo ? " (echoing requests)" : ""));
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (g_stop == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    PELLAX_SERVER_DestroySession();
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    Terminal::Line(Tone::Good, "server stopped");
    return 0;
}
}

void AddServeCommand(CLI::App& app, int& exitCode)
{
    static ServeOptions options;
    auto* serve = app.add_subcommand("serve", "Run a server and print every notification live");
    serve->add_option("--listen", options.listen, "IPv4 address and port to listen on")->capture_default_str();
    serve->add_option("--keepalive-interval", options.keepaliveInterval, "Seconds between client keepalives")
        ->check(CLI::Range(1, 86400));
    serve->add_option("--keepalive-timeout", options.keepaliveTimeout, "Keepalive time-out in seconds")
        ->check(CLI::Range(1, 86400));
    serve->add_flag("--echo", options.echo, "Answer every request with command+1, same sequence and body");
    serve->add_flag("--quiet", options.quiet, "Print nothing per notification");
    serve->footer("Example: pellax serve --listen 127.0.0.1:7000 --echo");
    serve->callback([&exitCode] { exitCode = RunServe(options); });
}

}  // namespace pellax_tool
