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

// The deepest a value of a call body lies: the body object is at 0, the
// arguments array at 1, each argument at 2. The page's arguments are plain
// values; a few levels more are left for other script objects.
constexpr int kBridgeRequestDepth = 64;

// The request in a call body. Nothing when the body is not a JSON object with
// a text "op", an array "args" and, if there is one, a text "kind", or holds
// a value deeper than kBridgeRequestDepth; a missing kind, or one other than
// "get" and "set", is a call.
std::optional<BridgeRequest> DecodeBridgeRequest(const std::string& body);
