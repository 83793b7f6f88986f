#include "support/HostRecorder.h"

namespace pellax_test {

// Windows has no per-process socket limit to raise. The other process figures serve only the tests
// that stay on Linux.
size_t RaiseFdLimit(size_t wanted)
{
    return wanted;
}

}  // namespace pellax_test
