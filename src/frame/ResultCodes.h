// Results the layers pass among themselves; none of them reaches the host, which sees the PELLAX_E_*
// codes of pellax.h.
#ifndef PELLAX_FRAME_RESULT_CODES_H
#define PELLAX_FRAME_RESULT_CODES_H

#include "pellax.h"

namespace ORV {
namespace PELLAX {

constexpr int kResultNotDone = 10001;     // the operation was not carried out
constexpr int kResultNotOpen = 10002;     // the session is not open
constexpr int kResultNotStarted = 10005;  // not started, nothing to stop, or a null argument
constexpr int kResultNoSink = 10008;      // no sink to report to
constexpr int kResultShortEntry = 10010;  // an extension entry runs past its frame
constexpr int kResultExtTooLong = 10011;  // extension entries above 65535 bytes
constexpr int kResultNoTransport = -6;    // no transport session
constexpr int kResultOwnThread = -7;      // a synchronous send on the thread that must deliver its answer

}  // namespace PELLAX
}  // namespace ORV

#endif
