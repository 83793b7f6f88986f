#include "support/RawServerPeer.h"

namespace pellax_test {

bool CRawServerPeer::ReceiveCommand(uint32_t command, WireFrame* frame, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReceiveFrame(frame, left)) {
            return false;
        }
        if (frame->command == command) {
            return true;
        }
    }
}

}  // namespace pellax_test
