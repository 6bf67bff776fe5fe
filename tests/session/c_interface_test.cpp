#include <gtest/gtest.h>

#include "config/temp_folder.h"
#include "session/session_support.h"

extern "C" int tsr_c_interface_run(const char* config_path);

TEST(CInterface, ExportsWorkFromPlainC) {
    tsr::test::KeepOffRealPorts();
    tsr::test::TempFolder dir;
    std::filesystem::create_directory(dir.Path() / "log");
    tsr::test::CurrentFolder here(dir.Path());
    EXPECT_EQ(tsr_c_interface_run("Tessaro.ini"), 0);
    EXPECT_NE(tsr::test::ReadText("Tessaro.ini").find("\r\nKeysNumber=32\r\n"), std::string::npos);
    bool logged = false;
    for (const auto& e : std::filesystem::directory_iterator("log"))
        if (e.is_regular_file())
            logged = logged || tsr::test::ReadText(e.path()).find("'>from C</span>") != std::string::npos;
    EXPECT_TRUE(logged);
}
