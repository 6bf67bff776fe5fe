#pragma once

#include <functional>
#include <string>

// What the application object needs of the browser that shows the page.
class Browser {
public:
    virtual ~Browser() = default;

    // Runs a script text in the page's main frame. Callable from any thread and
    // does not wait for the script; texts issued by one thread reach the page in
    // the order that thread issued them. Dropped while no page is connected.
    virtual void ExecuteJS(const std::string& code) = 0;

    // Attaches a "click" listener in the capture phase to the element with this
    // id; a click runs onClick on the user-interface thread. Binding the same id
    // again replaces its action. A missing element is passed over.
    virtual void BindClick(const std::string& elementId, std::function<void()> onClick) = 0;

    // Forgets every click action (their owner is going away).
    virtual void UnbindAll() = 0;

    // A modal message box; boxes queue and never nest, and the caller does not
    // wait for the box to close. Nothing where no page can show one.
    virtual void ShowModalMessage(const std::string& text) { (void)text; }

    // A modal folder picker opening at startFolder; onChosen runs on the
    // user-interface thread with the folder the operator confirmed, and not at
    // all on cancel. Nothing where no page can show one.
    virtual void PickFolder(const std::string& startFolder, std::function<void(const std::string&)> onChosen) {
        (void)startFolder;
        (void)onChosen;
    }
};
