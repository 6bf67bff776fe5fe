#pragma once

#include <optional>
#include <string>
#include <vector>

// What the operator's page would make of the host's page calls and of its
// pending messages: each call must name a known App function with arguments
// the page can use (units, positions and values in range, JSON that parses).
class PageCallCheck {
public:
    struct Call {
        std::string name; // after "App."
        // Each argument as written: a number, a string (unquoted and unescaped)
        // or a JSON object.
        std::vector<std::string> args;
    };

    enum class MessageKind { UnitEvent, MemorySaved, MemoryNotSaved, MemoryNotRecalled, UnexpectedError, Other };

    struct Message {
        MessageKind kind = MessageKind::Other;
        int unit = -1; // of a unit event
        int code = -1;
        bool sane = false;
    };

    PageCallCheck(int units, int keys) : units_(units), keys_(keys) {}

    // "App.name(arg, ...)"; nothing when the text is not one such call.
    static std::optional<Call> Parse(const std::string& code);
    // Empty when the page can take the call; else why not.
    std::string Judge(const Call& call) const;

    // The pending-messages text split as the page splits it.
    static std::vector<std::string> SplitPending(const std::string& text);
    Message Classify(const std::string& message) const;

    // A unit selection as the page writes it ("1,3") and reads it back
    // (numbers between commas and blanks; anything else is passed over).
    static std::string JoinUnits(const std::vector<int>& units);
    static std::vector<int> SplitUnits(const std::string& text);

private:
    bool Unit(const std::string& text) const;

    int units_;
    int keys_;
};
