#include "Demo.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Endpoint.h"
#include "MessageText.h"
#include "Terminal.h"

namespace pellax_tool {

namespace {
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr unsigned int kTimeRequest = 1000;
// Not a notification: the demo's own note that the server decrypted a payload.
constexpr unsigned int kDecryptedNote = 100;
constexpr unsigned int kStatusRequest = 2000;
constexpr unsigned int kTaggedMessage = 3000;
constexpr unsigned int kSecretMessage = 4000;

std::string DataText(const PELLAX_Message* message)
{
    if (message == nullptr || message->data == nullptr || message->dataLength <= 0) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
}

NotedEvent Noted(Side side, unsigned int id, unsigned int type, const PELLAX_Message* message)
{
    NotedEvent event{side, id, type, DataText(message), {}, 0};
    for (const PELLAX_MessageExt* node = message != nullptr ? message->ext : nullptr; node != nullptr && event.extCount < 4;
         node = node->next) {
        event.extTypes[event.extCount++] = node->type;
    }
    return event;
}

// Keepalives come every second: show the first of each kind from each peer, not all of them.
bool FirstOfItsKind(Side side, unsigned int id, const std::string& kind)
{
    static std::mutex mutex;
    static std::set<std::string> seen;
    std::lock_guard<std::mutex> lock(mutex);
    return seen.insert(Format("%d/%u/%s", static_cast<int>(side), id, kind.c_str())).second;
}

// The name a client put into its registration's user data, e.g. "alpha".
std::string NameIn(const std::string& params)
{
    size_t start = params.find("\"name\":\"");
    if (start == std::string::npos) {
        return "";
    }
    start += 8;
    return params.substr(start, params.find('"', start) - start);
}

void FreeResponse(PELLAX_Message& response)
{
    for (PELLAX_MessageExt* node = response.ext; node != nullptr;) {
        PELLAX_MessageExt* next = node->next;
        PELLAX_FreeBuffer(node->data);
        PELLAX_FreeBuffer(node);
        node = next;
    }
    PELLAX_FreeBuffer(response.data);
}

PELLAX_Message MakeMessage(unsigned int command, uint32_t sequence, std::string& body)
{
    PELLAX_Message message;
    std::memset(&message, 0, sizeof(message));
    message.command = command;
    message.sequence = sequence;
    message.data = reinterpret_cast<unsigned char*>(&body[0]);
    message.dataLength = static_cast<int32_t>(body.size());
    return message;
}

double MicrosSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}
}

int Demo::OnServer(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    auto* demo = static_cast<Demo*>(user);
    if (type == PELLAX_SERVER_NOTIFY_DATA && message != nullptr) {
        demo->AnswerOnServer(id, *message);
    }
    if (type == PELLAX_SERVER_NOTIFY_REGISTERED) {
        std::lock_guard<std::mutex> lock(demo->m_namesMutex);
        demo->m_serverNames[id] = NameIn(DataText(message));
    }
    if (type != PELLAX_SERVER_NOTIFY_KEEPALIVE || FirstOfItsKind(Side::Server, id, "keepalive")) {
        std::string text = Format("server   id %u%s %s", id, demo->ServerName(id).c_str(),
                                  ServerNotificationName(type).c_str());
        if (message != nullptr) {
            text += type == PELLAX_SERVER_NOTIFY_DATA ? "  " + DescribeMessage(message) : "  params " + DataText(message);
        }
        Terminal::Line(type == PELLAX_SERVER_NOTIFY_LEFT ? Tone::Bad : Tone::Server, text + (type == PELLAX_SERVER_NOTIFY_KEEPALIVE ? "  (one per second from now on)" : ""));
    }
    demo->m_book.Note(Noted(Side::Server, id, type, message));
    return 0;
}

int Demo::OnClient(unsigned int handle, unsigned int type, PELLAX_Message* message, void* user)
{
    auto* demo = static_cast<Demo*>(user);
    if (type == PELLAX_CLIENT_EVENT_DATA && message != nullptr) {
        demo->AnswerOnClient(handle, *message);
    }
    bool userData = DataText(message).find("userdata") != std::string::npos;
    if (type != PELLAX_CLIENT_EVENT_KEEPALIVE || FirstOfItsKind(Side::Client, handle, userData ? "userdata" : "keepalive")) {
        std::string text = Format("%-8s %s", demo->ClientName(handle).c_str(), ClientEventName(type).c_str());
        if (message != nullptr) {
            text += type == PELLAX_CLIENT_EVENT_DATA ? "  " + DescribeMessage(message) : "  data " + DataText(message);
        }
        Terminal::Line(type == PELLAX_CLIENT_EVENT_DISCONNECTED || type == PELLAX_CLIENT_EVENT_SERVER_SILENT ? Tone::Bad : Tone::Client, text);
    }
    demo->m_book.Note(Noted(Side::Client, handle, type, message));
    return 0;
}

void Demo::AnswerOnServer(unsigned int id, const PELLAX_Message& request)
{
    if (request.command == kTimeRequest) {
        std::time_t now = std::time(nullptr);
        char text[64];
        std::strftime(text, sizeof(text), "it is %H:%M:%S", std::localtime(&now));
        std::string body = text;
        PELLAX_Message answer = MakeMessage(kTimeRequest + 1, request.sequence, body);
        PELLAX_SERVER_Send(id, &answer);
        return;
    }
    if (request.command == kSecretMessage) {
        std::vector<unsigned char> plain(static_cast<size_t>(request.dataLength) + 1);
        int length = static_cast<int>(plain.size());
        int result = PELLAX_CLIENT_Decrypt(m_key, 16, reinterpret_cast<const char*>(request.data), request.dataLength,
                                           plain.data(), &length);
        std::string text = result == 0 ? std::string(reinterpret_cast<char*>(plain.data()), static_cast<size_t>(length))
                                       : Format("(decrypt failed, code %d)", result);
        m_book.Note(NotedEvent{Side::Server, id, kDecryptedNote, text, {}, 0});
        Terminal::Line(Tone::Server, "server   decrypted with the shared data key: \"" + text + "\"");
    }
}

void Demo::AnswerOnClient(unsigned int handle, const PELLAX_Message& request)
{
    if (request.command != kStatusRequest) {
        return;
    }
    std::string body = "beta: all good";
    PELLAX_Message answer = MakeMessage(kStatusRequest + 1, request.sequence, body);
    PELLAX_CLIENT_Send(handle, &answer);
}

std::string Demo::ServerName(unsigned int id)
{
    std::lock_guard<std::mutex> lock(m_namesMutex);
    auto name = m_serverNames.find(id);
    return name != m_serverNames.end() && !name->second.empty() ? " (" + name->second + ")" : "";
}

std::string Demo::ClientName(unsigned int handle) const
{
    if (handle == static_cast<unsigned int>(m_alpha)) {
        return "alpha";
    }
    return handle == static_cast<unsigned int>(m_beta) ? "beta" : Format("client %u", handle);
}

bool Demo::Step(const char* title, bool (Demo::*step)())
{
    Terminal::Line(Tone::Plain, Format("--- %s", title));
    bool ok = (this->*step)();
    Terminal::Line(ok ? Tone::Good : Tone::Bad, ok ? "    ok" : "    FAILED");
    ok ? ++m_passed : ++m_failed;
    return ok;
}

bool Demo::Run()
{
    PELLAX_SERVER_SetNotifyCallBack(OnServer, this);
    PELLAX_CLIENT_SetNotifyCallBack(OnClient, this);
    bool started = Step("start a server on a free loopback port (keepalive every 1 s, time-out 2 s)",
                        &Demo::StartServer) &&
                   Step("connect client alpha and client beta with the library, and gamma over a plain socket",
                        &Demo::ConnectClients);
    if (started) {
        Step("every client registers and receives the server's keepalive settings", &Demo::Register);
        Step("keepalives flow; the server adds user data to alpha's keepalive answers", &Demo::KeepAlive);
        Step("alpha asks the server host synchronously; the host answers from its callback", &Demo::CallServer);
        Step("the server asks beta synchronously; beta's host answers from its callback", &Demo::CallClient);
        Step("alpha sends an asynchronous message with two extension headers", &Demo::SendWithExtensions);
        Step("alpha encrypts a payload with a fresh data key; the server host decrypts it", &Demo::SendEncrypted);
        Step("gamma falls silent and the server drops it after 2 x keepalive time-out", &Demo::DropSilentClient);
        Step("the server disconnects beta", &Demo::DisconnectClient);
    }
    Step("shut down: clients, server, library", &Demo::ShutDown);
    Terminal::Line(m_failed == 0 ? Tone::Good : Tone::Bad,
                   Format("demo finished: %d steps behaved as expected, %d did not", m_passed, m_failed));
    return m_failed == 0;
}

bool Demo::StartServer()
{
    m_port = FindFreePort();
    int result = PELLAX_SERVER_CreateSession("127.0.0.1", m_port, "{\"keepalive-interval\":1,\"keepalive-timeout\":2}");
    Terminal::Line(Tone::Server, Format("server   listening on 127.0.0.1:%d (result %d)", m_port, result));
    return result == 0;
}

bool Demo::ConnectClients()
{
    m_alpha = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, "{\"connect-timeout\":3}");
    m_beta = PELLAX_CLIENT_CreateSession("127.0.0.1", m_port, "{\"connect-timeout\":3}");
    if (m_alpha < 0 || m_beta < 0) {
        return false;
    }
    PELLAX_CLIENT_SetUserData(static_cast<unsigned int>(m_alpha), 0, "{\"name\":\"alpha\"}");
    PELLAX_CLIENT_SetUserData(static_cast<unsigned int>(m_beta), 0, "{\"name\":\"beta\"}");
    Terminal::Line(Tone::Client, Format("client   session handles: alpha %d, beta %d", m_alpha.load(), m_beta.load()));
    if (!m_silent.Connect(m_port)) {
        return false;
    }
    auto joined = [this](int handle) {
        return m_book.WaitFor([handle](const NotedEvent& e) {
            return e.side == Side::Client && e.id == static_cast<unsigned int>(handle) && e.type == PELLAX_CLIENT_EVENT_CONNECTED;
        }, seconds(5));
    };
    bool serverSawAll = m_book.WaitForCount([](const NotedEvent& e) { return e.side == Side::Server && e.type == PELLAX_SERVER_NOTIFY_JOINED; },
                                            3, seconds(5));
    return joined(m_alpha) && joined(m_beta) && serverSawAll;
}

bool Demo::FindServerId(const char* name, unsigned int& id)
{
    NotedEvent found;
    std::string wanted = Format("\"name\":\"%s\"", name);
    bool ok = m_book.WaitFor([&wanted](const NotedEvent& e) {
        return e.side == Side::Server && e.type == PELLAX_SERVER_NOTIFY_REGISTERED && e.text.find(wanted) != std::string::npos;
    }, seconds(5), &found);
    id = found.id;
    return ok;
}

bool Demo::Register()
{
    bool sent = m_silent.SendRegister("{\"pid\":1,\"userdata\":{\"name\":\"gamma\"}}");
    std::string answer = m_silent.ReceiveBody(5000);
    Terminal::Line(Tone::Client, "gamma    register answer " + answer);
    auto registered = [this](int handle) {
        return m_book.WaitFor([handle](const NotedEvent& e) {
            return e.side == Side::Client && e.id == static_cast<unsigned int>(handle) && e.type == PELLAX_CLIENT_EVENT_REGISTERED &&
                   e.text.find("\"keepalive-interval\":1") != std::string::npos;
        }, seconds(5));
    };
    return sent && answer.find("\"resultCode\":\"200\"") != std::string::npos && registered(m_alpha) &&
           registered(m_beta) && FindServerId("alpha", m_alphaId) && FindServerId("beta", m_betaId) &&
           FindServerId("gamma", m_gammaId);
}

bool Demo::KeepAlive()
{
    PELLAX_SERVER_SetUserData(m_alphaId, 1, "{\"motd\":\"welcome back\"}");
    bool serverSaw = m_book.WaitFor([this](const NotedEvent& e) {
        return e.side == Side::Server && e.type == PELLAX_SERVER_NOTIFY_KEEPALIVE && e.id == m_betaId;
    }, seconds(5));
    bool alphaGotUserData = m_book.WaitFor([this](const NotedEvent& e) {
        return e.side == Side::Client && e.type == PELLAX_CLIENT_EVENT_KEEPALIVE && e.id == static_cast<unsigned int>(m_alpha) &&
               e.text.find("welcome back") != std::string::npos;
    }, seconds(5));
    return serverSaw && alphaGotUserData;
}

bool Demo::CallServer()
{
    std::string body = "what time is it?";
    PELLAX_Message request = MakeMessage(kTimeRequest, 0, body);
    PELLAX_Message response;
    std::memset(&response, 0, sizeof(response));
    auto start = std::chrono::steady_clock::now();
    int result = PELLAX_CLIENT_SynSend(static_cast<unsigned int>(m_alpha), &request, &response, 5);
    double micros = MicrosSince(start);
    std::string answer = DataText(&response);
    Terminal::Line(Tone::Client, Format("alpha    answer \"%s\" (command %u) after %.0f us, result %d", answer.c_str(),
                                        response.command, micros, result));
    FreeResponse(response);
    return result == 0 && answer.rfind("it is ", 0) == 0;
}

bool Demo::CallClient()
{
    std::string body = "status?";
    PELLAX_Message request = MakeMessage(kStatusRequest, 0, body);
    PELLAX_Message response;
    std::memset(&response, 0, sizeof(response));
    auto start = std::chrono::steady_clock::now();
    int result = PELLAX_SERVER_SynSend(m_betaId, &request, &response, 5);
    double micros = MicrosSince(start);
    std::string answer = DataText(&response);
    Terminal::Line(Tone::Server, Format("server   beta answered \"%s\" (command %u) after %.0f us, result %d",
                                        answer.c_str(), response.command, micros, result));
    PELLAX_FreeBuffer(response.data);
    return result == 0 && answer == "beta: all good";
}

bool Demo::SendWithExtensions()
{
    unsigned char traceText[] = "trace-42";
    unsigned char langText[] = "lang=en";
    PELLAX_MessageExt second{2, 7, langText, nullptr};
    PELLAX_MessageExt first{1, 8, traceText, &second};
    std::string body = "hello with headers";
    PELLAX_Message message = MakeMessage(kTaggedMessage, static_cast<uint32_t>(PELLAX_GenerateSequence()), body);
    message.ext = &first;
    if (PELLAX_CLIENT_Send(static_cast<unsigned int>(m_alpha), &message) != 0) {
        return false;
    }
    // The host receives the extension list in reverse frame order.
    return m_book.WaitFor([this](const NotedEvent& e) {
        return e.side == Side::Server && e.type == PELLAX_SERVER_NOTIFY_DATA && e.id == m_alphaId && e.text == "hello with headers" &&
               e.extCount == 2 && e.extTypes[0] == 2 && e.extTypes[1] == 1;
    }, seconds(5));
}

bool Demo::SendEncrypted()
{
    if (PELLAX_CLIENT_GetDataKey(reinterpret_cast<char*>(m_key), 16) != 0) {
        return false;
    }
    std::string hex;
    for (unsigned char byte : m_key) {
        hex += Format("%02x", byte);
    }
    const char secret[] = "meet at the usual place";
    char text[128];
    int length = sizeof(text);
    int result = PELLAX_CLIENT_Encrypt(m_key, 16, reinterpret_cast<const unsigned char*>(secret), sizeof(secret) - 1,
                                       text, &length);
    if (result != 0) {
        return false;
    }
    std::string body(text, static_cast<size_t>(length));
    Terminal::Line(Tone::Client, "alpha    data key " + hex + ", cipher text " + body);
    PELLAX_Message message = MakeMessage(kSecretMessage, static_cast<uint32_t>(PELLAX_GenerateSequence()), body);
    return PELLAX_CLIENT_Send(static_cast<unsigned int>(m_alpha), &message) == 0 &&
           m_book.WaitFor([&secret](const NotedEvent& e) { return e.type == kDecryptedNote && e.text == secret; }, seconds(5));
}

bool Demo::DropSilentClient()
{
    Terminal::Line(Tone::Note, "gamma    says nothing more ...");
    bool dropped = m_book.WaitFor([this](const NotedEvent& e) {
        return e.side == Side::Server && e.type == PELLAX_SERVER_NOTIFY_LEFT && e.id == m_gammaId;
    }, seconds(10));
    return dropped && m_silent.WaitClosed(3000);
}

bool Demo::DisconnectClient()
{
    int result = PELLAX_SERVER_DestroyClientSession(m_betaId);
    bool betaLeft = m_book.WaitFor([this](const NotedEvent& e) {
        return e.side == Side::Client && e.type == PELLAX_CLIENT_EVENT_DISCONNECTED && e.id == static_cast<unsigned int>(m_beta);
    }, seconds(5));
    return result == 0 && betaLeft;
}

bool Demo::ShutDown()
{
    bool ok = true;
    for (int handle : {m_alpha.load(), m_beta.load()}) {
        if (handle >= 0) {
            ok = PELLAX_CLIENT_DestroySession(static_cast<unsigned int>(handle)) == 0 && ok;
        }
    }
    ok = PELLAX_SERVER_DestroySession() == 0 && ok;
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_CLIENT_SetNotifyCallBack(nullptr, nullptr);
    return ok;
}

}  // namespace pellax_tool
