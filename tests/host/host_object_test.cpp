#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "app/host_object.h"
#include "app/line_status.h"
#include "host/recording_browser.h"

namespace {

using nlohmann::json;
using Access = ScriptObject::Access;

class HostObjectTest : public ::testing::Test {
protected:
    // Units are taken up to "UnitNumber".
    void SetUp() override { TSR_INI_SetUnitsNumber(4); }

    UiLoop ui;
    RecordingBrowser browser;
    TApp app{ui, HostPaths{}};
    HostObject host{app};

    ScriptObject::Reply Call(const std::string& op, const char* args) {
        return host.Invoke(Access::Call, op, json::parse(args));
    }
};

struct RuleCase {
    const char* op;
    const char* args;
    bool refused;
};

// Each case runs on a fresh object; a refused call must leave every value as it was.
TEST_F(HostObjectTest, CallRules) {
    const RuleCase cases[] = {
        {"setKeys", "[2, 5]", false},
        {"setKeys", "[2]", true},
        {"setKeys", "[]", true},
        {"setKeys", "[2, 5, 6]", true},
        {"setKeys", R"(["2", 5])", true},
        {"setKeys", "[2.5, 5]", true},
        {"setKeys", "[2, 5.0000001]", true},
        {"setKeys", "[true, 5]", true},
        {"setKeys", "[2, null]", true},
        {"setKeys", "[2, {}]", true},
        {"setKeys", "[2, [5]]", true},
        {"setKeys", "[2, 2147483647]", false},
        {"setKeys", "[2, -2147483648]", false},
        {"setKeys", "[2, 2147483648]", true},
        {"setKeys", "[2, -2147483649]", true},
        {"setKeys", "[2, 18446744073709551615]", true},
        {"setKeys", "[2, 1e3]", true},
        {"setKeysPercentage", "[2, -5]", false},
        {"setKeysMode", "[1]", false},
        {"setKeysMode", "[true]", true},
        {"setUnitDuctorValue", "[4, 80]", false},
        {"setUnitDuctorCycle", R"([4, "3"])", true},
        {"RunAsyncCommand", "[0]", false},
        {"RunAsyncCommand", "[3]", false},
        {"RunAsyncCommand", "[4]", true},
        {"RunAsyncCommand", "[-1]", true},
        {"RunAsyncCommand", R"(["1"])", true},
        {"RunAsyncCommand", "[1.5]", true},
        {"RunAsyncCommand", "[]", true},
        {"ShowError", R"(["x"])", false},
        {"ShowError", "[5]", true},
        {"ShowError", "[false]", true},
        {"ShowError", R"(["x", "y"])", true},
        {"ExecuteJS", R"js(["App.x()"])js", false},
        {"ExecuteJS", "[1]", true},
        {"GetConfig", R"(["x"])", false},
        {"GetConfig", "[1]", true},
        {"GetStoragePath", R"(["a.ini"])", false},
        {"saveSettings", R"(["{}"])", false},
        {"saveSettings", "[{}]", true},
        {"browseFolder", "[7]", true},
        {"saveConfig", R"([0, "job"])", false},
        {"saveConfig", R"(["0", "job"])", true},
        {"saveConfig", "[0, 5]", true},
        {"loadConfig", "[2]", false},
        {"loadConfig", "[]", true},
        {"GetDuctor", "[1]", false},
        {"GetDuctorCycle", "[1.5]", true},
        {"CopyUnit", "[1, 2]", false},
        {"CopyUnit", "[1]", true},
        {"SwapUnit", R"([1, "2"])", true},
        {"LoadInitialState", "[]", false},
        {"LoadInitialState", "[1]", true},
        {"UglyInitialall", "[]", false},
        {"startApp", "[]", false},
        {"startApp", "[0]", true},
        {"BindCallbacks", "[]", false},
        {"Initialize", "[]", true},
        {"Initialize", "[null]", true},
        {"Initialize", "[{}]", true},
        {"InkUp", R"([["0", "2"]])", true},
        {"InkUp", R"(["0,2"])", true},
        // Units are 1 to "UnitNumber" (4 here), memory positions 0 to 3: the
        // console takes the unit as one byte, so 258 would reach unit 2.
        {"setKeys", "[4, 5]", false},
        {"setKeys", "[5, 5]", true},
        {"setKeys", "[0, 5]", true},
        {"setKeys", "[258, 5]", true},
        {"setKeysPercentage", "[-1, 5]", true},
        {"setUnitDuctorValue", "[31, 80]", true},
        {"setUnitDuctorCycle", "[5, 3]", true},
        {"GetDuctor", "[0]", true},
        {"GetDuctor", "[258]", true},
        {"GetDuctorCycle", "[5]", true},
        {"CopyUnit", "[1, -1]", true},
        {"CopyUnit", "[1, 255]", true},
        {"SwapUnit", "[258, 1]", true},
        {"SwapUnit", "[4, 1]", false},
        {"saveConfig", R"([3, "job"])", false},
        {"saveConfig", R"([4, "job"])", true},
        {"saveConfig", R"([-1, "job"])", true},
        {"loadConfig", "[4]", true},
        {"loadConfig", "[-2147483648]", true},
        {"getLineStatus", "[]", false},
        {"getLineStatus", "[1]", true},
        {"getVersion", "[]", false},
        {"getVersion", R"(["x"])", true},
        {"noSuchOperation", "[]", true},
        {"errors", "[]", true}, // a property, not an operation
    };
    for (const auto& c : cases) {
        UiLoop loop;
        RecordingBrowser page;
        TApp fresh(loop, HostPaths{});
        fresh.internalBrowser = &page;
        HostObject object(fresh);
        const auto reply = object.Invoke(Access::Call, c.op, json::parse(c.args));
        EXPECT_EQ(reply.refused, c.refused) << c.op << " " << c.args;
        if (c.refused) {
            EXPECT_FALSE(reply.value.has_value());
            EXPECT_TRUE(page.Calls().empty()) << c.op << " " << c.args;
            EXPECT_EQ(fresh.Geterrors(), "");
            for (int unit = 0; unit < TApp::kUnitSlots; ++unit) {
                EXPECT_EQ(fresh.Fkeys[unit], 0);
                EXPECT_EQ(fresh.FductorCycles[unit], 0);
            }
            EXPECT_FALSE(fresh.FKeysIsRelativeOn);
        }
    }
}

TEST_F(HostObjectTest, AcceptedCallsRunWithTheirValues) {
    app.internalBrowser = &browser;
    EXPECT_FALSE(Call("setKeys", "[2, -2147483648]").refused);
    EXPECT_EQ(app.Fkeys[2], -2147483647 - 1);
    EXPECT_FALSE(Call("setKeysMode", "[1]").refused);
    EXPECT_TRUE(app.FKeysIsRelativeOn);
    EXPECT_FALSE(Call("ShowError", R"(["two words"])").refused);
    EXPECT_FALSE(Call("ExecuteJS", R"js(["App.ping(1)"])js").refused);
    EXPECT_EQ(browser.Calls(), (std::vector<std::string>{"App.showPendingErrors()", "App.ping(1)"}));
    EXPECT_EQ(host.Invoke(Access::Get, "errors", json::array()).value, json("\"two words\""));
}

TEST_F(HostObjectTest, ResultsComeBackAsScriptValues) {
    const auto text = Call("GetConfig", R"(["unitnumber"])");
    ASSERT_TRUE(text.value.has_value());
    EXPECT_EQ(*text.value, json(""));
    const auto none = Call("setKeys", "[1, 1]");
    EXPECT_FALSE(none.refused);
    EXPECT_FALSE(none.value.has_value());
    const auto flag = host.Invoke(Access::Get, "isSerialOpen", json::array());
    ASSERT_TRUE(flag.value.has_value());
    EXPECT_TRUE(flag.value->is_boolean());
    EXPECT_EQ(*flag.value, json(true));
}

TEST_F(HostObjectTest, PageSettersWithUnitsOutsideTheArraysAreRefusedAndChangeNothing) {
    for (const char* args : {"[31, 5]", "[-1, 5]", "[2147483647, 5]"}) {
        EXPECT_TRUE(Call("setUnitDuctorValue", args).refused);
        EXPECT_TRUE(Call("setKeys", args).refused);
    }
    for (int unit = 0; unit < TApp::kUnitSlots; ++unit) {
        EXPECT_EQ(app.FductorValues[unit], 0);
        EXPECT_EQ(app.Fkeys[unit], 0);
    }
}

struct PropertyCase {
    const char* name;
    const char* written;
    bool refused;
    const char* readBack; // JSON of the value read afterwards
};

TEST_F(HostObjectTest, PropertyRules) {
    const PropertyCase cases[] = {
        {"isSerialOpen", "0", false, "false"},
        {"isSerialOpen", "1", false, "true"},
        {"isSerialOpen", "false", true, "true"},
        {"isSerialOpen", "true", true, "true"},
        {"isSerialOpen", "2", true, "true"},
        {"isSerialOpen", "-1", true, "true"},
        {"isSerialOpen", R"("0")", true, "true"},
        {"isSerialOpen", "0.5", true, "true"},
        {"selectedUnits", R"("2,3")", false, R"("2,3")"},
        {"selectedUnits", "23", true, R"("")"},
        {"selectedUnits", R"("1,4")", false, R"("1,4")"},
        {"selectedUnits", R"("1,258")", true, R"("")"},
        {"selectedUnits", R"("0")", true, R"("")"},
        {"selectedUnits", R"("2,-1")", true, R"("")"},
        // An entry that is no number is taken: the command stops at it.
        {"selectedUnits", R"("2,,3")", false, R"("2,,3")"},
        {"selectedUnits", "null", true, R"("")"},
        {"ductorCycleValues", R"("0,2")", false, R"("0,2")"},
        {"ductorCycleValues", "[0, 2]", true, R"("2,0,3")"},
        {"errors", R"("ignored")", false, R"("")"},
        {"errors", "5", true, R"("")"},
    };
    for (const auto& c : cases) {
        UiLoop loop;
        TApp fresh(loop, HostPaths{});
        HostObject object(fresh);
        const auto reply = object.Invoke(Access::Set, c.name, json::array({json::parse(c.written)}));
        EXPECT_EQ(reply.refused, c.refused) << c.name << " = " << c.written;
        EXPECT_FALSE(reply.value.has_value());
        const auto read = object.Invoke(Access::Get, c.name, json::array());
        ASSERT_TRUE(read.value.has_value());
        EXPECT_EQ(*read.value, json::parse(c.readBack)) << c.name << " = " << c.written;
    }
}

TEST_F(HostObjectTest, PropertyAccessShapes) {
    EXPECT_TRUE(host.Invoke(Access::Get, "errors", json::array({1})).refused);
    EXPECT_TRUE(host.Invoke(Access::Set, "selectedUnits", json::array()).refused);
    EXPECT_TRUE(host.Invoke(Access::Set, "selectedUnits", json::parse(R"(["a", "b"])")).refused);
    EXPECT_TRUE(host.Invoke(Access::Get, "internalBrowser", json::array()).refused);
    EXPECT_TRUE(host.Invoke(Access::Get, "setKeys", json::array()).refused);
    EXPECT_TRUE(host.Invoke(Access::Call, "setKeys", json::object()).refused);
}

TEST_F(HostObjectTest, TheVersionIsTheProgramsOwn) {
    EXPECT_EQ(Call("getVersion", "[]").value, json(TSR_VERSION_TEXT));
}

// What the operator is told to do about a port that did not open, from the
// system's reason as the library words it on either system.
TEST(PortAdvice, FollowsTheSystemsReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/ttyUSB0: permission denied", "dialout"},
        {"/dev/ttyUSB0: device or resource busy", "busy"},
        {"\\\\.\\COM3: access is denied", "busy"},
        {"/dev/ttyS2: no such file or directory", "missing"},
        {"COM3: the system cannot find the file specified", "missing"},
        {"COM3: file not found", "missing"},
        {"COM12: no such port", "missing"},
        {"/tmp/x/COM1: not a serial device (inappropriate ioctl for device)", "notSerial"},
        {"COM1: line settings not accepted", "notSerial"},
        {"/dev/ttyUSB0: input/output error", ""},
        {"", ""},
    };
    for (const auto& [failure, advice] : cases)
        EXPECT_EQ(PortAdvice(failure), advice) << failure;
}

TEST(HostObjectNames, OfferEveryOperationAndProperty) {
    const std::set<std::string> operations(HostObject::Operations().begin(), HostObject::Operations().end());
    const std::set<std::string> expected = {
        "startApp",           "BindCallbacks",   "Initialize",        "ExecuteJS",      "ShowError",
        "GetConfig",          "GetStoragePath",  "saveSettings",      "browseFolder",   "saveConfig",
        "loadConfig",         "setKeys",         "setKeysPercentage", "setKeysMode",    "setUnitDuctorValue",
        "setUnitDuctorCycle", "RunAsyncCommand", "GetDuctor",         "GetDuctorCycle", "LoadInitialState",
        "CopyUnit",           "SwapUnit",        "UglyInitialall",    "InkUp",
        // Zone-by-zone key editing: a whole key row per unit.
        "setUnitKeys",
        // The settings dialog says when the log folder is missing and makes it.
        "logFolderExists", "createLogFolder",
        // The service view, the banners and the settings dialog's version.
        "getLineStatus", "getVersion"};
    EXPECT_EQ(operations, expected);
    const std::set<std::string> properties(HostObject::Properties().begin(), HostObject::Properties().end());
    EXPECT_EQ(properties,
              (std::set<std::string>{"ductorCycleValues", "errors", "isSerialOpen", "selectedUnits"}));
}

} // namespace
