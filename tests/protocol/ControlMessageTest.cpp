#include <gtest/gtest.h>

#include <string>

#include "protocol/ControlMessage.h"

using namespace ORV::PELLAX;

namespace {

ControlReadResult Params(const std::string& body, std::string* text)
{
    return ReadParams(body.data(), body.size(), text);
}

// What the bodies say and how a wrong one is answered is checked on the wire by the server and
// client tests; these are the limits of the reader itself.
TEST(ControlBodies, TheBodyEndsAtItsLengthOrAtAZeroByte)
{
    std::string body = R"({"params":{"a":1}})";
    std::string params;
    EXPECT_EQ(ReadParams(body.data(), body.size() - 1, &params), ControlReadResult::kParseError);
    std::string withZero = body + std::string(1, '\0') + "garbage";
    EXPECT_EQ(Params(withZero, &params), ControlReadResult::kOk);
    EXPECT_EQ(params, R"({"a":1})");
}

TEST(ControlBodies, DeeplyNestedBodiesAreRejectedWithoutExhaustingTheStack)
{
    std::string deep = R"({"params":)" + std::string(200000, '[') + std::string(200000, ']') + "}";
    std::string params;
    EXPECT_EQ(Params(deep, &params), ControlReadResult::kParseError);
    std::string quoted = R"({"params":{"s":"[[[[\"[[["}})";
    EXPECT_EQ(Params(quoted, &params), ControlReadResult::kOk);
    EXPECT_EQ(params, R"({"s":"[[[[\"[[["})");
}

}  // namespace
