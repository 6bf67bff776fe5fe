#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/app.h"
#include "app/script_object.h"

// The page's global object "host": every public operation and property of
// TApp, with the call rules of the script bridge. A call with the wrong number
// of arguments, or an argument of another kind or outside its type's range,
// runs nothing and yields undefined.
class HostObject : public ScriptObject {
public:
    // One argument converted to its parameter's type: integers and commands
    // as int32_t, texts as std::string, flags as bool.
    using Arg = std::variant<int32_t, std::string, bool>;

    // An access that passed the call rules, ready to run.
    struct Call {
        Access access = Access::Call;
        std::string name;
        std::vector<Arg> args;
    };

    explicit HostObject(TApp& app) : app_(app) {}

    // Applies the call rules without running anything: nothing when the
    // access would be refused.
    static std::optional<Call> Decode(Access access, const std::string& name, const nlohmann::json& args);

    Reply Invoke(Access access, const std::string& name, const nlohmann::json& args) override;

    static const std::vector<std::string>& Operations();
    static const std::vector<std::string>& Properties();

private:
    TApp& app_;
};
