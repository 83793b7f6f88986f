// The codes of the library's failure lines, named so each call site says what went wrong.
#ifndef PELLAX_FRAME_LOG_CODES_H
#define PELLAX_FRAME_LOG_CODES_H

namespace ORV {
namespace PELLAX {

constexpr unsigned int kCodeParse = 0x01900014;
constexpr unsigned int kCodeNoMemory = 0x01900016;
constexpr unsigned int kCodeInvalid = 0x01900017;
constexpr unsigned int kCodeNoClient = 0x01900018;
constexpr unsigned int kCodeOpen = 0x01900021;
constexpr unsigned int kCodeHeartbeatTimer = 0x01900025;
constexpr unsigned int kCodeTimer = 0x01900026;
constexpr unsigned int kCodeListen = 0x0190002A;
constexpr unsigned int kCodeFull = 0x01900042;
constexpr unsigned int kCodeExists = 0x01900062;
constexpr unsigned int kCodeNoSession = 0x01900063;
constexpr unsigned int kCodeSend = 0x01900608;

}  // namespace PELLAX
}  // namespace ORV

#endif
