#pragma once

#include <memory>
#include <string>

#include "app/app.h"
#include "app/host_object.h"
#include "f_home/chromium_window.h"
#include "f_home/web_bridge.h"

// The main window: the page shown by the browser layer, the application
// object fApp and the window-level reactions to browser events.
class TformHome : public BrowserEvents {
public:
    // window is the browser window to open; nullptr prints the page address
    // on standard output instead.
    TformHome(UiLoop& ui, WebBridge& bridge, HostPaths paths, ChromiumWindow* window);
    ~TformHome() override;

    // Loads the page, then creates fApp and registers it as the page's host object.
    void FormShow();
    // Frees fApp.
    void FormClose();
    // A later start of the same program asked for the window: restored if
    // minimised and brought to the front. Any thread. False with the reason
    // when the browser did not do so.
    bool BringToFront(std::string& error);

    void chromeLoadEnd(int httpStatusCode) override;
    void chromeConsoleMessage(const std::string& message, const std::string& source, int line) override;
    bool chromeBeforeMenu() override;
    bool appEventsShortCut(int keyCode) override;

    std::unique_ptr<TApp> fApp;

private:
    UiLoop& ui_;
    WebBridge& bridge_;
    HostPaths paths_;
    ChromiumWindow* window_;
    std::unique_ptr<HostObject> hostObject_;
};
