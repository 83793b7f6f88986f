#include "ServerFixture.h"

#include <cstdarg>
#include <cstdio>

#include "frame/Singleton.h"
#include "server/Server.h"
#include "support/Wait.h"

namespace pellax_test {

namespace {
std::mutex g_logMutex;
std::vector<LogLine> g_logs;

int RecordLog(int level, const char*, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logs.push_back({level, line});
    return 0;
}
}  // namespace

std::vector<LogLine> RecordedLogs()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_logs;
}

bool HasLog(int level, const std::string& part)
{
    for (const LogLine& line : RecordedLogs()) {
        if (line.level == level && line.text.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void ClearLogs()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logs.clear();
}

void NotificationRecorder::Add(const Notification& notification)
{
    std::function<void(const Notification&)> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(notification);
        hook = m_hook;
    }
    if (hook) {
        hook(notification);
    }
}

std::vector<Notification> NotificationRecorder::Snapshot()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items;
}

size_t NotificationRecorder::Count(unsigned int type)
{
    size_t count = 0;
    for (const Notification& item : Snapshot()) {
        count += item.type == type ? 1 : 0;
    }
    return count;
}

bool NotificationRecorder::WaitFor(unsigned int type, Notification* found, int id)
{
    return WaitUntil([&] {
        for (const Notification& item : Snapshot()) {
            if (item.type == type && (id < 0 || item.id == static_cast<unsigned int>(id))) {
                if (found != nullptr) {
                    *found = item;
                }
                return true;
            }
        }
        return false;
    });
}

bool NotificationRecorder::WaitForCount(unsigned int type, size_t count)
{
    return WaitUntil([&] { return Count(type) >= count; }, std::chrono::milliseconds(30000));
}

void NotificationRecorder::SetHook(std::function<void(const Notification&)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hook = std::move(hook);
}

int ServerTest::OnNotify(unsigned int id, unsigned int type, PELLAX_Message* message, void* user)
{
    Notification note;
    note.id = id;
    note.type = type;
    if (message != nullptr) {
        note.hasRecord = true;
        note.command = message->command;
        note.dataLength = message->dataLength;
        note.data.assign(reinterpret_cast<const char*>(message->data), static_cast<size_t>(message->dataLength));
        note.sequence = message->sequence;
        note.timestamp = message->timestamp;
        note.flag = message->flag;
        for (PELLAX_MessageExt* ext = message->ext; ext != nullptr; ext = ext->next) {
            note.exts.emplace_back(ext->type, std::string(reinterpret_cast<const char*>(ext->data), ext->length));
        }
    }
    static_cast<NotificationRecorder*>(user)->Add(note);
    return 0;
}

void ServerTest::SetUp()
{
    ClearLogs();
    PELLAX_Init(&RecordLog);
    PELLAX_SERVER_SetNotifyCallBack(&ServerTest::OnNotify, &m_notes);
}

void ServerTest::TearDown()
{
    PELLAX_SERVER_DestroySession();
    PELLAX_SERVER_SetNotifyCallBack(nullptr, nullptr);
    PELLAX_Uninit();
}

uint16_t ServerTest::StartServer(const char* options)
{
    if (PELLAX_SERVER_CreateSession("127.0.0.1", 0, options) != 0) {
        return 0;
    }
    m_port = COrvSingletonT<ORV::PELLAX::CServer>::Instance()->GetListenPort();
    return m_port;
}

int ServerTest::Join(CRawClientPeer& peer)
{
    size_t before = m_notes.Count(1);
    if (!peer.Connect(m_port) || !m_notes.WaitForCount(1, before + 1)) {
        return -1;
    }
    size_t seen = 0;
    for (const Notification& item : m_notes.Snapshot()) {
        if (item.type == 1 && ++seen == before + 1) {
            return static_cast<int>(item.id);
        }
    }
    return -1;
}

bool ServerTest::Register(CRawClientPeer& peer, uint32_t sequence, const std::string& params, WireFrame* answer)
{
    return peer.SendFrame(MakeRegister(sequence, params)) && peer.ReceiveFrame(answer);
}

}  // namespace pellax_test
