// Readable descriptions of notifications and messages for the transcripts.
#ifndef PELLAX_TOOL_MESSAGE_TEXT_H
#define PELLAX_TOOL_MESSAGE_TEXT_H

#include <string>

#include "pellax.h"

namespace pellax_tool {

std::string ServerNotificationName(unsigned int type);
std::string ClientEventName(unsigned int type);
// command, sequence, length, extension types and a printable preview of the data.
std::string DescribeMessage(const PELLAX_Message* message);
// The data as text, non-printable bytes shown as '.', cut at limit characters.
std::string Preview(const unsigned char* data, int length, size_t limit = 64);

}  // namespace pellax_tool

#endif
