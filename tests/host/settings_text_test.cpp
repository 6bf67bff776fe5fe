#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"

namespace {

// Every member of the settings object, as read.
std::string Describe(const SettingsValues& s) {
    return "com=" + std::to_string(s.com) + " units=" + std::to_string(s.units) +
           " keys=" + std::to_string(s.keys) + " ductorcycle=" + std::to_string(s.ductorcycle) +
           " preset=" + std::to_string(s.preset) + " loop=" + std::to_string(s.loop) + " preset_input=[" +
           s.preset_input + "] loop_keys_input=[" + s.loop_keys_input + "] loop_keys_output=[" +
           s.loop_keys_output + "] loop_scan_input=[" + s.loop_scan_input + "] loop_scan_output=[" +
           s.loop_scan_output + "] loop_commands=[" + s.loop_commands +
           "] perfector=" + std::to_string(s.perfector) + " current_job_path=[" + s.current_job_path +
           "] log_path=[" + s.log_path + "] language=[" + s.language + "]";
}

const char* const kNothingGiven =
    "com=0 units=0 keys=0 ductorcycle=0 preset=0 loop=0 preset_input=[] "
    "loop_keys_input=[] loop_keys_output=[] loop_scan_input=[] loop_scan_output=[] "
    "loop_commands=[] perfector=0 current_job_path=[] log_path=[] language=[]";

struct TextCase {
    const char* text;
    const char* read;
};

TEST(ReadSettingsText, ReadsLenientTextsAndMissingMembersAsNothing) {
    const TextCase cases[] = {
        {"{}", kNothingGiven},
        {"  { }  ", kNothingGiven},
        {R"({"com":3,"units":6,"keys":32,"ductorcycle":2,"preset":true,"loop":false,"preset_input":"D:\\in",)"
         R"("loop_keys_input":"a","loop_keys_output":"b","loop_scan_input":"c","loop_scan_output":"d",)"
         R"("loop_commands":"e","perfector":3,"current_job_path":"f","log_path":"D:\\data\\log","language":"de"})",
         "com=3 units=6 keys=32 ductorcycle=2 preset=1 loop=0 preset_input=[D:\\in] loop_keys_input=[a] "
         "loop_keys_output=[b] loop_scan_input=[c] loop_scan_output=[d] loop_commands=[e] perfector=3 "
         "current_job_path=[f] log_path=[D:\\data\\log] language=[de]"},
        // single-quoted strings and member names without quotes
        {"{units: 5, 'language': 'it', loop: true, log_path: 'C:\\\\logs'}",
         "com=0 units=5 keys=0 ductorcycle=0 preset=0 loop=1 preset_input=[] loop_keys_input=[] "
         "loop_keys_output=[] loop_scan_input=[] loop_scan_output=[] loop_commands=[] perfector=0 "
         "current_job_path=[] log_path=[C:\\logs] language=[it]"},
        // folder texts are taken as they come: no halving of doubled backslashes
        {R"({"preset_input":"D:\\\\jobs"})",
         "com=0 units=0 keys=0 ductorcycle=0 preset=0 loop=0 preset_input=[D:\\\\jobs] loop_keys_input=[] "
         "loop_keys_output=[] loop_scan_input=[] loop_scan_output=[] loop_commands=[] perfector=0 "
         "current_job_path=[] log_path=[] language=[]"},
        // members of other kinds are converted
        {R"({"units":"6","keys":24.9,"com":true,"ductorcycle":-3.7,"preset":1,"loop":"true","language":7})",
         "com=1 units=6 keys=24 ductorcycle=-3 preset=1 loop=1 preset_input=[] loop_keys_input=[] "
         "loop_keys_output=[] loop_scan_input=[] loop_scan_output=[] loop_commands=[] perfector=0 "
         "current_job_path=[] log_path=[] language=[7]"},
        {R"({"units":"six","keys":[24],"com":null,"perfector":{},"preset":"yes","loop":0,"language":null})",
         kNothingGiven},
        {R"({"units":4294967296,"keys":-2147483649,"com":1e300,"perfector":18446744073709551615})",
         kNothingGiven},
        {R"({"units":2147483647,"keys":-2147483648})",
         "com=0 units=2147483647 keys=-2147483648 ductorcycle=0 preset=0 loop=0 preset_input=[] "
         "loop_keys_input=[] loop_keys_output=[] loop_scan_input=[] loop_scan_output=[] loop_commands=[] "
         "perfector=0 current_job_path=[] log_path=[] language=[]"},
        // letter case of member names counts; unknown members are passed over
        {R"({"Units":6,"UNITS":7,"colour":"red"})", kNothingGiven},
    };
    for (const auto& c : cases) {
        const auto read = ReadSettingsText(c.text);
        ASSERT_TRUE(read.has_value()) << c.text;
        EXPECT_EQ(Describe(*read), c.read) << c.text;
    }
}

TEST(ReadSettingsText, RefusesWhatIsNoObject) {
    for (const char* text :
         {"", "   ", "null", "[]", "[{\"units\":6}]", "\"{}\"", "6", "true", "{units:6", "{\"units\":6}}",
          "{\"units\":6} trailing", "{\"units\":}", "{'units':6,}", "units=6", "<settings/>"})
        EXPECT_FALSE(ReadSettingsText(text).has_value()) << text;
}

TEST(SettingsObject, DoublesTheBackslashesOfFoldersAndNamesALanguage) {
    SettingsValues s;
    s.com = 2;
    s.units = 6;
    s.keys = 32;
    s.ductorcycle = 3;
    s.preset = true;
    s.loop = false;
    s.preset_input = "D:\\jobs\\in";
    s.loop_keys_input = "\\\\server\\share";
    s.loop_keys_output = "/srv/out";
    s.loop_scan_input = "rel\\scan";
    s.loop_scan_output = "";
    s.loop_commands = "C:\\";
    s.perfector = 4;
    s.current_job_path = "D:\\current";
    s.log_path = "D:\\data\\log";
    s.language = "";
    // Compact, in this member order, "\" of a folder doubled before the
    // escaping doubles it again.
    EXPECT_EQ(WriteJson(SettingsObject(s), JsonEscaping::Full),
              R"({"com":2,"units":6,"keys":32,"ductorcycle":3,"preset":true,"loop":false,)"
              R"("preset_input":"D:\\\\jobs\\\\in","loop_keys_input":"\\\\\\\\server\\\\share",)"
              R"("loop_keys_output":"\/srv\/out","loop_scan_input":"rel\\\\scan","loop_scan_output":"",)"
              R"("loop_commands":"C:\\\\","perfector":4,"current_job_path":"D:\\\\current",)"
              R"("log_path":"D:\\\\data\\\\log","language":"en"})");
    s.language = "de";
    EXPECT_EQ(SettingsObject(s)["language"], "de");
}

} // namespace
