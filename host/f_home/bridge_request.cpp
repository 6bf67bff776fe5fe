#include "f_home/bridge_request.h"

std::optional<BridgeRequest> DecodeBridgeRequest(const std::string& body) {
    using nlohmann::json;
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("op") || !request["op"].is_string() ||
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
