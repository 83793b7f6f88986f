#include <gtest/gtest.h>

#include <string>

#include "protocol/ControlMessage.h"

using namespace ORV::PELLAX;

namespace {

ControlReadResult Params(const std::string& body, std::string* text)
{
    return ReadParams(body.data(), body.size(), text);
}

TEST(ControlBodies, TheServerReadsParamsBackCompactlyAndTellsUnparsableBodiesFromMissingParams)
{
    std::string params;
    EXPECT_EQ(Params(BuildRegisterRequest(4242, R"({ "n" : 1 })"), &params), ControlReadResult::kOk);
    EXPECT_EQ(params, R"({"pid":4242,"userdata":{"n":1}})");

    params = "untouched";
    const std::pair<const char*, ControlReadResult> refused[] = {
        {R"({"method":"Register")", ControlReadResult::kParseError},
        {"", ControlReadResult::kParseError},
        {R"({"method":"Register"})", ControlReadResult::kNotObject},
        {R"({"params":[1,2]})", ControlReadResult::kNotObject},
        {R"([{"params":{}}])", ControlReadResult::kNotObject},
    };
    for (const auto& [body, result] : refused) {
        EXPECT_EQ(Params(body, &params), result) << body;
    }
    EXPECT_EQ(params, "untouched");
}

TEST(ControlBodies, TheClientAdoptsOnlyIntegerSettingsAndTellsUnparsableBodiesFromDataThatIsNoObject)
{
    ControlResponseData data;
    std::string body = BuildRegisterResponse(1, 8, 40, R"({"u":true})");
    ASSERT_EQ(ReadData(body.data(), body.size(), &data), ControlReadResult::kOk);
    EXPECT_EQ(data.strData, R"({"ppid":1,"keepalive-interval":8,"keepalive-timeout":40,"userdata":{"u":true}})");
    EXPECT_TRUE(data.bHasKeepaliveInterval && data.bHasKeepaliveTimeout);
    EXPECT_EQ(data.nKeepaliveInterval, 8);
    EXPECT_EQ(data.nKeepaliveTimeout, 40);

    const std::pair<std::string, ControlReadResult> bodies[] = {
        {R"({"data":{"keepalive-interval":"8","keepalive-timeout":4.5}})", ControlReadResult::kOk},
        {"{\"data\":", ControlReadResult::kParseError},
        {R"({"resultCode":"200"})", ControlReadResult::kNotObject},
        {R"({"data":"text"})", ControlReadResult::kNotObject},
        {"null", ControlReadResult::kNotObject},
    };
    for (const auto& [text, result] : bodies) {
        ControlResponseData odd;
        EXPECT_EQ(ReadData(text.data(), text.size(), &odd), result) << text;
        EXPECT_FALSE(odd.bHasKeepaliveInterval || odd.bHasKeepaliveTimeout) << text;
    }
}

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
