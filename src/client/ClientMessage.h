// Between the host's PELLAX_Message records and frames: requests into header and body, received
// frames and synchronous answers into records.
#ifndef PELLAX_CLIENT_CLIENT_MESSAGE_H
#define PELLAX_CLIENT_CLIENT_MESSAGE_H

#include <vector>

#include "context/MessageResponse.h"
#include "pellax.h"
#include "platform/OrvMessageBlock.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

// Fills a host response record from a synchronous answer: extension nodes in reverse order in front of
// whatever the list held, data from the record's allocator or library memory. 0, -3 when the data
// could not be allocated.
int FillResponseRecord(uint32_t requestSequence, const CMessageResponse& response, PELLAX_Message* record);

// A zeroed record describing a received frame for the duration of one notification. It points into
// the frame and into nodes, so both must outlive the callback. False when memory ran out.
bool FillNotifyRecord(const CPellaxMessageHeader& header, COrvMessageBlock* block,
                      std::vector<PELLAX_MessageExt>& nodes, PELLAX_Message* record);

}  // namespace PELLAX
}  // namespace ORV

#endif
