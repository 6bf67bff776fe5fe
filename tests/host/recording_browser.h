#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/browser.h"

// Records what the application object asks of the browser.
class RecordingBrowser : public Browser {
public:
    void ExecuteJS(const std::string& code) override {
        std::lock_guard lock(mutex_);
        calls_.push_back(code);
    }
    void BindClick(const std::string& elementId, std::function<void()> onClick) override {
        std::lock_guard lock(mutex_);
        bindOrder_.push_back(elementId);
        clicks_[elementId] = std::move(onClick);
    }
    void UnbindAll() override {
        std::lock_guard lock(mutex_);
        clicks_.clear();
        ++unbinds_;
    }

    void PickFolder(const std::string& startFolder, std::function<void(const std::string&)> onChosen) override {
        std::lock_guard lock(mutex_);
        pickerStart_ = startFolder;
        picker_ = std::move(onChosen);
    }
    // The folder the last picker opened at, and the operator confirming a folder in it.
    std::string PickerStart() const {
        std::lock_guard lock(mutex_);
        return pickerStart_;
    }
    bool Confirm(const std::string& folder) {
        std::function<void(const std::string&)> chosen;
        {
            std::lock_guard lock(mutex_);
            chosen.swap(picker_);
        }
        if (!chosen)
            return false;
        chosen(folder);
        return true;
    }

    std::vector<std::string> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<std::string> TakeCalls() {
        std::lock_guard lock(mutex_);
        std::vector<std::string> taken;
        taken.swap(calls_);
        return taken;
    }
    std::vector<std::string> BindOrder() const {
        std::lock_guard lock(mutex_);
        return bindOrder_;
    }
    bool HasClick(const std::string& id) const {
        std::lock_guard lock(mutex_);
        return clicks_.count(id) != 0;
    }
    int Unbinds() const {
        std::lock_guard lock(mutex_);
        return unbinds_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<std::string> bindOrder_;
    std::map<std::string, std::function<void()>> clicks_;
    int unbinds_ = 0;
    std::string pickerStart_;
    std::function<void(const std::string&)> picker_;
};
