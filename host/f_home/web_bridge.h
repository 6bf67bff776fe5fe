#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/browser.h"
#include "app/script_object.h"
#include "app/ui_loop.h"

// Browser events that reach the main window, on the user-interface thread.
class BrowserEvents {
public:
    virtual ~BrowserEvents() = default;
    virtual void chromeLoadEnd(int httpStatusCode) = 0;
    virtual void chromeConsoleMessage(const std::string& message, const std::string& source, int line) = 0;
    // True vetoes the context menu.
    virtual bool chromeBeforeMenu() = 0;
    // True marks the key as handled: the page does not see it.
    virtual bool appEventsShortCut(int keyCode) = 0;
};

// The browser layer: a web server on the loopback address that serves the
// page folder to a browser and bridges the page's script to the host.
//
// Page to host: each access to the host object is one synchronous request
// that runs on the user-interface thread before the script goes on. Host to
// page: script texts travel over one ordered event stream to the page served
// last; what is sent before its stream opens waits for it.
//
// The page address carries a single-use token: its first load exchanges it
// for a session cookie (HttpOnly, SameSite=Strict, scoped to the page's path)
// and goes on to the page. Every other request must show that cookie, a Host
// header naming the loopback address and port, and a same-origin Origin where
// one is sent; anything else is answered 403, runs nothing and ends its
// connection.
class WebBridge : public Browser {
public:
    struct Options {
        std::filesystem::path pageFolder;
        int port = 0; // 0: any free port
        std::string objectName = "host";
        std::vector<std::string> operations;
        std::vector<std::string> properties;
    };

    WebBridge(UiLoop& ui, Options options);
    ~WebBridge() override;
    WebBridge(const WebBridge&) = delete;
    WebBridge& operator=(const WebBridge&) = delete;

    // Binds 127.0.0.1 and starts serving; false with a reason when the port
    // cannot be had.
    bool Start(std::string& error);
    void Stop();

    int Port() const;
    // The address the window opens: http://127.0.0.1:PORT/TOKEN/index.html,
    // good for one load (the same address each time it is asked).
    std::string PageAddress() const;
    // Another single-use address, for one more browser.
    std::string NewPageAddress();

    // The object behind the page's host object; nullptr refuses every access.
    // On the user-interface thread.
    void SetScriptObject(ScriptObject* object);
    void SetEvents(BrowserEvents* events);
    // Where an error that escapes a host call goes, on the user-interface thread.
    void SetErrorReport(std::function<void(const std::string&)> report);

    // Browser
    void ExecuteJS(const std::string& code) override;
    void BindClick(const std::string& elementId, std::function<void()> onClick) override;
    void UnbindAll() override;

    // Window-level operations of the page.
    bool PageConnected() const;
    // Ends the loading ring; the page becomes visible.
    void ShowPage();
    // A modal message box in the page; boxes queue there, one after another.
    // Returns at once.
    void ShowModalMessage(const std::string& text) override;
    // The host's folder picker, drawn in the page by the bridge. On the
    // user-interface thread; onChosen runs there if the operator confirms.
    void PickFolder(const std::string& startFolder, std::function<void(const std::string&)> onChosen) override;
    // Lets the browser act on the key being handled (it opens its developer tools for F12).
    void ShowDevTools();
    void BringToFront();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
