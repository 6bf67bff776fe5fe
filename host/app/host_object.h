#pragma once

#include <string>
#include <vector>

#include "app/app.h"
#include "app/script_object.h"

// The page's global object "host": every public operation and property of
// TApp, with the call rules of the script bridge. A call with the wrong number
// of arguments, or an argument of another kind or outside its type's range,
// runs nothing and yields undefined.
class HostObject : public ScriptObject {
public:
    explicit HostObject(TApp& app) : app_(app) {}

    Reply Invoke(Access access, const std::string& name, const nlohmann::json& args) override;

    static const std::vector<std::string>& Operations();
    static const std::vector<std::string>& Properties();

private:
    TApp& app_;
};
