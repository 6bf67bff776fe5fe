#include <gtest/gtest.h>

#include "app/host_object.h"
#include "f_home/bridge_request.h"

namespace {

using nlohmann::json;
using Access = ScriptObject::Access;

struct DecodeCase {
    const char* body;
    bool decoded;
    Access access;
    const char* op;
    const char* args; // JSON of the arguments
};

TEST(DecodeBridgeRequest, BodiesTheBridgeScriptPosts) {
    const DecodeCase cases[] = {
        {R"({"kind":"call","op":"setKeys","args":[2,5]})", true, Access::Call, "setKeys", "[2,5]"},
        {R"({"kind":"get","op":"errors","args":[]})", true, Access::Get, "errors", "[]"},
        {R"({"kind":"set","op":"selectedUnits","args":["1,2"]})", true, Access::Set, "selectedUnits",
         R"(["1,2"])"},
        {R"({"op":"startApp","args":[]})", true, Access::Call, "startApp", "[]"},
        {R"({"kind":"other","op":"x","args":[null, 2.5, {"a":[1]}]})", true, Access::Call, "x",
         R"([null, 2.5, {"a":[1]}])"},
        {R"({"op":"","args":[],"extra":1})", true, Access::Call, "", "[]"},
        {R"({"op":"x","args":{}})", false, Access::Call, "", "[]"},
        {R"({"kind":1,"op":"loadConfig","args":[2]})", false, Access::Call, "", "[]"},
        {R"({"kind":[],"op":"errors","args":[]})", false, Access::Call, "", "[]"},
        {R"({"kind":null,"op":"startApp","args":[]})", false, Access::Call, "", "[]"},
        {R"({"op":"x"})", false, Access::Call, "", "[]"},
        {R"({"args":[]})", false, Access::Call, "", "[]"},
        {R"({"op":5,"args":[]})", false, Access::Call, "", "[]"},
        {R"({"op":null,"args":[]})", false, Access::Call, "", "[]"},
        {R"([{"op":"x","args":[]}])", false, Access::Call, "", "[]"},
        {R"({"op":"x","args":[]} trailing)", false, Access::Call, "", "[]"},
        {"{nope", false, Access::Call, "", "[]"},
        {"", false, Access::Call, "", "[]"},
        {"{\"op\":\"\xff\",\"args\":[]}", false, Access::Call, "", "[]"}, // not UTF-8
    };
    for (const auto& c : cases) {
        const auto request = DecodeBridgeRequest(c.body);
        ASSERT_EQ(request.has_value(), c.decoded) << c.body;
        if (!request)
            continue;
        EXPECT_EQ(request->access, c.access) << c.body;
        EXPECT_EQ(request->op, c.op) << c.body;
        EXPECT_EQ(request->args, json::parse(c.args)) << c.body;
    }
}

std::string Nested(int levels) {
    return std::string(static_cast<size_t>(levels), '[') + std::string(static_cast<size_t>(levels), ']');
}

TEST(DecodeBridgeRequest, DeeplyNestedBodiesAreRefusedWithoutRecursion) {
    // The arguments array is at 1, so the first of n nested arrays is at 2
    // and the innermost at n + 1.
    const int deepest = kBridgeRequestDepth - 1;
    const auto atTheLimit = DecodeBridgeRequest(R"({"op":"x","args":[)" + Nested(deepest) + "]}");
    ASSERT_TRUE(atTheLimit.has_value());
    EXPECT_EQ(atTheLimit->args, json::parse("[" + Nested(deepest) + "]"));
    EXPECT_FALSE(DecodeBridgeRequest(R"({"op":"x","args":[)" + Nested(deepest + 1) + "]}"));
    EXPECT_FALSE(DecodeBridgeRequest(R"({"op":"x","args":[{"a":)" + Nested(deepest) + "}]}"));
    // Deep enough to overflow any thread's stack when copied.
    EXPECT_FALSE(DecodeBridgeRequest(R"({"op":"x","args":[)" + Nested(1000000) + "]}"));
    EXPECT_FALSE(DecodeBridgeRequest(R"({"deep":)" + Nested(1000000) + R"(,"op":"x","args":[]})"));
}

TEST(HostObjectDecode, ArgumentsArriveInTheirParametersTypes) {
    TSR_INI_SetUnitsNumber(4); // units are taken up to "UnitNumber"
    const auto keys = HostObject::Decode(Access::Call, "setKeys", json::parse("[2, -2147483648]"));
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->name, "setKeys");
    EXPECT_EQ(keys->args, (std::vector<HostObject::Arg>{int32_t{2}, int32_t{-2147483647 - 1}}));
    const auto save = HostObject::Decode(Access::Call, "saveConfig", json::parse(R"([3, "job"])"));
    ASSERT_TRUE(save.has_value());
    EXPECT_EQ(save->args, (std::vector<HostObject::Arg>{int32_t{3}, std::string("job")}));
    const auto flag = HostObject::Decode(Access::Set, "isSerialOpen", json::parse("[0]"));
    ASSERT_TRUE(flag.has_value());
    EXPECT_EQ(flag->access, Access::Set);
    EXPECT_EQ(flag->args, (std::vector<HostObject::Arg>{false}));
    const auto get = HostObject::Decode(Access::Get, "errors", json::array());
    ASSERT_TRUE(get.has_value());
    EXPECT_TRUE(get->args.empty());

    EXPECT_FALSE(HostObject::Decode(Access::Call, "setKeys", json::parse("[2]")));
    EXPECT_FALSE(HostObject::Decode(Access::Call, "setKeys", json::object()));
    EXPECT_FALSE(HostObject::Decode(Access::Call, "RunAsyncCommand", json::parse("[4]")));
    EXPECT_FALSE(HostObject::Decode(Access::Get, "setKeys", json::array()));
    EXPECT_FALSE(HostObject::Decode(Access::Set, "isSerialOpen", json::parse("[true]")));
}

} // namespace
