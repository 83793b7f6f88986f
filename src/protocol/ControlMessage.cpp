#include "protocol/ControlMessage.h"

#include <new>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace ORV {
namespace PELLAX {

namespace {
using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteUserData(JsonWriter& writer, const std::string& userData)
{
    if (userData.empty()) {
        return;
    }
    writer.Key("userdata");
    writer.RawValue(userData.data(), userData.size(), rapidjson::kObjectType);
}

std::string BuildRequest(const char* method, uint32_t pid, const std::string& userData)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    writer.StartObject();
    writer.Key("method");
    writer.String(method);
    writer.Key("params");
    writer.StartObject();
    writer.Key("pid");
    writer.Int(static_cast<int32_t>(pid));
    WriteUserData(writer, userData);
    writer.EndObject();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

void StartResponse(JsonWriter& writer, uint32_t ppid)
{
    writer.StartObject();
    writer.Key("resultCode");
    writer.String("200");
    writer.Key("message");
    writer.String("OK");
    writer.Key("data");
    writer.StartObject();
    writer.Key("ppid");
    writer.Int(static_cast<int32_t>(ppid));
}

void EndResponse(JsonWriter& writer, const std::string& userData)
{
    WriteUserData(writer, userData);
    writer.EndObject();
    writer.EndObject();
}

template <class Build>
std::string Guarded(Build build)
{
    try {
        return build();
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

// The parser and the writer recurse once per nesting level; a hostile body must not exhaust the stack.
constexpr size_t kMaxNesting = 512;

bool NestsTooDeep(const std::string& text)
{
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char* c = text.c_str(); *c != '\0'; ++c) {
        if (escaped) {
            escaped = false;
        } else if (inString) {
            escaped = *c == '\\';
            inString = *c != '"';
        } else if (*c == '"') {
            inString = true;
        } else if (*c == '[' || *c == '{') {
            if (++depth > kMaxNesting) {
                return true;
            }
        } else if ((*c == ']' || *c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

// Parses a body as it arrived: a zero-terminated copy of exactly its length, default options.
ControlReadResult ParseBody(const void* body, size_t length, rapidjson::Document* document)
{
    if (body == nullptr && length > 0) {
        return ControlReadResult::kParseError;
    }
    std::string text(static_cast<const char*>(body), length);
    if (NestsTooDeep(text)) {
        return ControlReadResult::kParseError;
    }
    document->Parse(text.c_str());
    return document->HasParseError() ? ControlReadResult::kParseError : ControlReadResult::kOk;
}

const rapidjson::Value* FindObject(const rapidjson::Value& root, const char* name)
{
    if (!root.IsObject()) {
        return nullptr;
    }
    auto member = root.FindMember(name);
    if (member == root.MemberEnd() || !member->value.IsObject()) {
        return nullptr;
    }
    return &member->value;
}

std::string WriteCompact(const rapidjson::Value& value)
{
    rapidjson::StringBuffer buffer;
    JsonWriter writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

bool ReadInt(const rapidjson::Value& object, const char* name, int32_t* value)
{
    auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsInt()) {
        return false;
    }
    *value = member->value.GetInt();
    return true;
}

template <class Read>
ControlReadResult GuardedRead(Read read)
{
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return ControlReadResult::kNoMemory;
    }
}
}

std::string BuildRegisterRequest(uint32_t pid, const std::string& userData)
{
    return Guarded([&] { return BuildRequest("Register", pid, userData); });
}

std::string BuildKeepaliveRequest(uint32_t pid, const std::string& userData)
{
    return Guarded([&] { return BuildRequest("Keepalive", pid, userData); });
}

std::string BuildRegisterResponse(uint32_t ppid, int32_t keepaliveInterval, int32_t keepaliveTimeout,
                                  const std::string& userData)
{
    return Guarded([&] {
        rapidjson::StringBuffer buffer;
        JsonWriter writer(buffer);
        StartResponse(writer, ppid);
        writer.Key("keepalive-interval");
        writer.Int(keepaliveInterval);
        writer.Key("keepalive-timeout");
        writer.Int(keepaliveTimeout);
        EndResponse(writer, userData);
        return std::string(buffer.GetString(), buffer.GetSize());
    });
}

std::string BuildKeepaliveResponse(uint32_t ppid, const std::string& userData)
{
    return Guarded([&] {
        rapidjson::StringBuffer buffer;
        JsonWriter writer(buffer);
        StartResponse(writer, ppid);
        EndResponse(writer, userData);
        return std::string(buffer.GetString(), buffer.GetSize());
    });
}

ControlReadResult ReadParams(const void* body, size_t length, std::string* paramsText)
{
    return GuardedRead([&] {
        rapidjson::Document document;
        ControlReadResult result = ParseBody(body, length, &document);
        if (result != ControlReadResult::kOk) {
            return result;
        }
        const rapidjson::Value* params = FindObject(document, "params");
        if (params == nullptr) {
            return ControlReadResult::kNotObject;
        }
        if (paramsText != nullptr) {
            *paramsText = WriteCompact(*params);
        }
        return ControlReadResult::kOk;
    });
}

ControlReadResult ReadData(const void* body, size_t length, ControlResponseData* data)
{
    return GuardedRead([&] {
        rapidjson::Document document;
        ControlReadResult result = ParseBody(body, length, &document);
        if (result != ControlReadResult::kOk) {
            return result;
        }
        const rapidjson::Value* object = FindObject(document, "data");
        if (object == nullptr) {
            return ControlReadResult::kNotObject;
        }
        if (data != nullptr) {
            data->strData = WriteCompact(*object);
            data->bHasKeepaliveInterval = ReadInt(*object, "keepalive-interval", &data->nKeepaliveInterval);
            data->bHasKeepaliveTimeout = ReadInt(*object, "keepalive-timeout", &data->nKeepaliveTimeout);
        }
        return ControlReadResult::kOk;
    });
}

}  // namespace PELLAX
}  // namespace ORV
