#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/script_object.h"

// One access of the page's host object, as the bridge script posts it:
// {"kind": "call" | "get" | "set", "op": name, "args": [script values]}.
struct BridgeRequest {
    ScriptObject::Access access = ScriptObject::Access::Call;
    std::string op;
    nlohmann::json args; // always an array
};

// The request in a call body. Nothing when the body is not a JSON object with
// a text "op", an array "args" and, if there is one, a text "kind"; a missing
// kind, or one other than "get" and "set", is a call.
std::optional<BridgeRequest> DecodeBridgeRequest(const std::string& body);
