// TApp: press operations on worker tasks and the library start.
#include "app/app.h"

// Not built yet: the worker tasks come with the asynchronous-operations work.
void TApp::BindCallbacks() {}
std::string TApp::GetStoragePath(const std::string&) {
    return std::string();
}
void TApp::RunAsyncCommand(TCommands) {}
void TApp::InkUp(TUnitList) {}
void TApp::ApplySettings(TUnitList) {}
void TApp::GetDuctor(int32_t) {}
void TApp::GetDuctorCycle(int32_t) {}
void TApp::LoadInitialState() {}
void TApp::CopyUnit(int32_t, int32_t) {}
void TApp::SwapUnit(int32_t, int32_t) {}
void TApp::UglyInitialall() {}
