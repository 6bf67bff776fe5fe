#include "f_home/bridge_request.h"

std::optional<BridgeRequest> DecodeBridgeRequest(const std::string& body) {
    using nlohmann::json;
    // Copies and comparisons of a JSON value recurse once per level, so a
    // body nested deeply enough would overflow the stack of the thread that
    // handles it. Deeper values are dropped while parsing, before they exist.
    bool tooDeep = false;
    const json request = json::parse(
        body,
        [&tooDeep](int depth, json::parse_event_t, const json&) {
            if (depth <= kBridgeRequestDepth)
                return true;
            tooDeep = true;
            return false;
        },
        false);
    if (tooDeep || !request.is_object() || !request.contains("op") || !request["op"].is_string() ||
        !request.contains("args") || !request["args"].is_array())
        return std::nullopt;
    // The bridge script always names the kind in a text; any other kind is
    // no request of it.
    const auto kind = request.find("kind");
    if (kind != request.end() && !kind->is_string())
        return std::nullopt;
    const std::string kindName = kind != request.end() ? kind->get<std::string>() : "call";
    BridgeRequest decoded;
    decoded.access = kindName == "get"   ? ScriptObject::Access::Get
                     : kindName == "set" ? ScriptObject::Access::Set
                                         : ScriptObject::Access::Call;
    decoded.op = request["op"].get<std::string>();
    decoded.args = request["args"];
    return decoded;
}
