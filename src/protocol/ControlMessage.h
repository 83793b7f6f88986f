// Bodies of the control frames: Register and Keepalive requests (client to server) and their
// responses (server to client), as compact JSON. User-data texts go in verbatim, unvalidated.
//
//   request:            {"method":"Register","params":{"pid":4242,"userdata":<raw>}}
//   register response:  {"resultCode":"200","message":"OK","data":{"ppid":N,"keepalive-interval":5,
//                        "keepalive-timeout":30,"userdata":<raw>}}
//   keepalive response: {"resultCode":"200","message":"OK","data":{"ppid":N,"userdata":<raw>}}
//
// "userdata" is left out when the text is empty. A builder returns an empty text only when memory ran out.
#ifndef PELLAX_PROTOCOL_CONTROL_MESSAGE_H
#define PELLAX_PROTOCOL_CONTROL_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace ORV {
namespace PELLAX {

std::string BuildRegisterRequest(uint32_t pid, const std::string& userData);
std::string BuildKeepaliveRequest(uint32_t pid, const std::string& userData);
std::string BuildRegisterResponse(uint32_t ppid, int32_t keepaliveInterval, int32_t keepaliveTimeout,
                                  const std::string& userData);
std::string BuildKeepaliveResponse(uint32_t ppid, const std::string& userData);

enum class ControlReadResult {
    kOk,
    kParseError,  // the body is not JSON: log "[rsp=%s]parse json failed" (0x1900014)
    kNotObject,   // "params" / "data" is missing or not an object
    kNoMemory,    // no buffer for the text: end the handling silently
};

// What a client takes from a response; the settings only when they are JSON integers.
struct ControlResponseData {
    std::string strData;  // "data" written out again as compact JSON
    bool bHasKeepaliveInterval = false;
    int32_t nKeepaliveInterval = 0;
    bool bHasKeepaliveTimeout = false;
    int32_t nKeepaliveTimeout = 0;
};

// Server side: the request's "params" object as compact JSON. "method" is never looked at.
ControlReadResult ReadParams(const void* body, size_t length, std::string* paramsText);
// Client side: the response's "data" object as compact JSON, with "keepalive-interval" and
// "keepalive-timeout" from inside it. "resultCode" and "message" are never looked at.
ControlReadResult ReadData(const void* body, size_t length, ControlResponseData* data);

}  // namespace PELLAX
}  // namespace ORV

#endif
