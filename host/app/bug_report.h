#pragma once

#include <ctime>
#include <string>

// The general error report: an unexpected error is appended to
// "bugreport.txt" and turned into a message the operator can read and go on.
class BugReport {
public:
    // file is the full path of bugreport.txt.
    explicit BugReport(std::string file) : file_(std::move(file)) {}

    // Appends the report; returns the message for the page.
    std::string Report(const std::string& what, std::time_t when) const;

    const std::string& File() const { return file_; }

private:
    std::string file_;
};
