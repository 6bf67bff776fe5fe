#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A native object that the page's script reaches under a global name.
class ScriptObject {
public:
    enum class Access { Call, Get, Set };

    // The outcome of one script access: refused (the script gets undefined and
    // nothing ran), or ran with an optional result.
    struct Reply {
        bool refused = false;
        std::optional<nlohmann::json> value;

        static Reply Refused() { return Reply{true, std::nullopt}; }
        static Reply Nothing() { return Reply{}; }
        static Reply Value(nlohmann::json v) { return Reply{false, std::move(v)}; }
    };

    virtual ~ScriptObject() = default;

    // On the user-interface thread. args is a JSON array of the script values
    // (a Set carries the one value written).
    virtual Reply Invoke(Access access, const std::string& name, const nlohmann::json& args) = 0;
};
