// pellax bench stall: synchronous calls both ways that must all answer well within their time-out.
#ifndef PELLAX_TOOL_STALL_CHECK_H
#define PELLAX_TOOL_STALL_CHECK_H

namespace pellax_tool {

// count calls per size, half each way; 0 when none failed and none took over a second.
int RunStallCheck(int count, bool json);

}  // namespace pellax_tool

#endif
