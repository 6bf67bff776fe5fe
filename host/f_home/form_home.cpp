#include "f_home/form_home.h"

#include <iostream>

namespace {
constexpr int kKeyF12 = 123;
}

TformHome::TformHome(UiLoop& ui, WebBridge& bridge, HostPaths paths, ChromiumWindow* window)
    : ui_(ui), bridge_(bridge), paths_(std::move(paths)), window_(window) {}

TformHome::~TformHome() {
    FormClose();
}

void TformHome::FormShow() {
    const std::string address = bridge_.PageAddress();
    std::string error;
    const bool opened = window_ != nullptr && window_->Open(
                                                  address, [this] { ui_.Quit(); }, error);
    if (!opened) {
        if (!error.empty())
            std::cerr << "tessaro: the browser window cannot be opened: " << error << "\n";
        // The first line on standard output: whoever started us opens it.
        std::cout << address << std::endl;
    }
    fApp = std::make_unique<TApp>(ui_, paths_);
    // Page calls are kept for the page until its stream opens, so the host
    // object works from the moment it exists: a page may start in its load handler.
    fApp->internalBrowser = &bridge_;
    hostObject_ = std::make_unique<HostObject>(*fApp);
    bridge_.SetErrorReport([this](const std::string& what) {
        if (fApp)
            fApp->ReportUnexpectedError(what);
    });
    bridge_.SetScriptObject(hostObject_.get());
}

void TformHome::FormClose() {
    bridge_.SetScriptObject(nullptr);
    bridge_.SetErrorReport(nullptr);
    hostObject_.reset();
    fApp.reset();
}

bool TformHome::BringToFront(std::string& error) {
    if (window_ != nullptr && window_->BringToFront(error))
        return true;
    // No browser of ours to drive (or it does not answer): the page is asked to take the focus.
    bridge_.BringToFront();
    return false;
}

void TformHome::chromeLoadEnd(int) {
    if (fApp)
        fApp->internalBrowser = &bridge_;
    bridge_.ShowPage();
}

void TformHome::chromeConsoleMessage(const std::string& message, const std::string&, int) {
    std::cerr << "Console: " << message << "\n";
    bridge_.ShowModalMessage("Console: " + message);
}

bool TformHome::chromeBeforeMenu() {
    return true;
}

bool TformHome::appEventsShortCut(int keyCode) {
    if (keyCode != kKeyF12)
        return false;
    bridge_.ShowDevTools();
    return true;
}
