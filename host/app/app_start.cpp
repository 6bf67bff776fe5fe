// TApp: start sequence, settings, languages and the memory list.
#include "app/app.h"

#include "app/page_calls.h"

void TApp::LoadUnits() {
    ExecuteJS(page_calls::LoadUnits(GetConfig("UnitNumber")));
}

// Not built yet: the start sequence, the settings object, the languages object
// and the memory list come with the start-sequence work.
void TApp::startApp() {}
void TApp::Initialize(Browser* browser) {
    internalBrowser = browser;
}
void TApp::LoadSettings() {}
void TApp::saveSettings(const std::string&) {}
void TApp::browseFolder(const std::string&) {}
void TApp::LoadLanguages() {}
void TApp::LoadMemoryList() {}
void TApp::saveConfig(int32_t, const std::string&) {}
void TApp::loadConfig(int32_t) {}
