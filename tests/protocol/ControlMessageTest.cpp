#include <gtest/gtest.h>

#include <string>

#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"
#include "support/WireFrame.h"

using namespace ORV::PELLAX;

namespace {

ControlReadResult Params(const std::string& body, std::string* text)
{
    return ReadParams(body.data(), body.size(), text);
}

ControlReadResult Data(const std::string& body, ControlResponseData* data)
{
    return ReadData(body.data(), body.size(), data);
}

TEST(ControlBodies, RequestsAreCompactWithUserDataVerbatimOnlyWhenGiven)
{
    EXPECT_EQ(BuildRegisterRequest(4242, ""), R"({"method":"Register","params":{"pid":4242}})");
    EXPECT_EQ(BuildKeepaliveRequest(7, R"({"k": [1, 2]})"),
              R"({"method":"Keepalive","params":{"pid":7,"userdata":{"k": [1, 2]}}})");
}

TEST(ControlBodies, ResponsesCarryTheServerSettingsAndUserData)
{
    EXPECT_EQ(BuildRegisterResponse(99, 5, 30, ""),
              R"({"resultCode":"200","message":"OK","data":{"ppid":99,"keepalive-interval":5,"keepalive-timeout":30}})");
    EXPECT_EQ(BuildRegisterResponse(99, 5, 30, R"({"x":"y"})"),
              R"({"resultCode":"200","message":"OK","data":{"ppid":99,"keepalive-interval":5,"keepalive-timeout":30,"userdata":{"x":"y"}}})");
    EXPECT_EQ(BuildKeepaliveResponse(99, R"({"a":1})"),
              R"({"resultCode":"200","message":"OK","data":{"ppid":99,"userdata":{"a":1}}})");
    EXPECT_EQ(BuildKeepaliveResponse(99, ""), R"({"resultCode":"200","message":"OK","data":{"ppid":99}})");
}

TEST(ControlBodies, TheServerReadsParamsBackCompactlyWhateverTheMethod)
{
    std::string params;
    EXPECT_EQ(Params(BuildRegisterRequest(4242, R"({ "n" : 1 })"), &params), ControlReadResult::kOk);
    EXPECT_EQ(params, R"({"pid":4242,"userdata":{"n":1}})");
    EXPECT_EQ(Params(R"({"method":"Keepalive","params":{}})", &params), ControlReadResult::kOk);
    EXPECT_EQ(params, "{}");
}

TEST(ControlBodies, TheServerTellsUnparsableBodiesFromMissingParams)
{
    std::string params = "untouched";
    EXPECT_EQ(Params(R"({"method":"Register")", &params), ControlReadResult::kParseError);
    EXPECT_EQ(Params("", &params), ControlReadResult::kParseError);
    EXPECT_EQ(Params(R"({"method":"Register"})", &params), ControlReadResult::kNotObject);
    EXPECT_EQ(Params(R"({"params":[1,2]})", &params), ControlReadResult::kNotObject);
    EXPECT_EQ(Params(R"([{"params":{}}])", &params), ControlReadResult::kNotObject);
    EXPECT_EQ(params, "untouched");
}

TEST(ControlBodies, TheClientAdoptsIntegerSettingsFromARegisterResponse)
{
    ControlResponseData data;
    ASSERT_EQ(Data(BuildRegisterResponse(1, 8, 40, R"({"u":true})"), &data), ControlReadResult::kOk);
    EXPECT_EQ(data.strData, R"({"ppid":1,"keepalive-interval":8,"keepalive-timeout":40,"userdata":{"u":true}})");
    EXPECT_TRUE(data.bHasKeepaliveInterval);
    EXPECT_EQ(data.nKeepaliveInterval, 8);
    EXPECT_TRUE(data.bHasKeepaliveTimeout);
    EXPECT_EQ(data.nKeepaliveTimeout, 40);

    ControlResponseData odd;
    ASSERT_EQ(Data(R"({"data":{"keepalive-interval":"8","keepalive-timeout":4.5}})", &odd), ControlReadResult::kOk);
    EXPECT_FALSE(odd.bHasKeepaliveInterval);
    EXPECT_FALSE(odd.bHasKeepaliveTimeout);
}

TEST(ControlBodies, TheClientTellsUnparsableBodiesFromDataThatIsNoObject)
{
    ControlResponseData data;
    EXPECT_EQ(Data("{\"data\":", &data), ControlReadResult::kParseError);
    EXPECT_EQ(Data(R"({"resultCode":"200"})", &data), ControlReadResult::kNotObject);
    EXPECT_EQ(Data(R"({"data":"text"})", &data), ControlReadResult::kNotObject);
    EXPECT_EQ(Data("null", &data), ControlReadResult::kNotObject);
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

TEST(ControlBodies, AControlFrameHasFlagZeroNoEntriesAndTheJsonAsBody)
{
    std::string body = BuildKeepaliveResponse(5, "");
    MessageBlockPtr frame;
    ASSERT_EQ(BuildControlFrame(11, 0x1234, body, &frame), 0);

    pellax_test::WireFrame wire;
    ASSERT_TRUE(pellax_test::DecodeFrame(
        std::vector<uint8_t>(frame->GetReadPtr(), frame->GetReadPtr() + frame->GetLength()), &wire));
    EXPECT_EQ(wire.command, 11u);
    EXPECT_EQ(wire.sequence, 0x1234u);
    EXPECT_EQ(wire.flag, 0);
    EXPECT_TRUE(wire.exts.empty());
    EXPECT_EQ(wire.BodyText(), body);
}

}  // namespace
