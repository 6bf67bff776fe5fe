#include "f_home/bridge_request.h"

std::optional<BridgeRequest> DecodeBridgeRequest(const std::string& body) {
    using nlohmann::json;
    const json request = json::parse(body, nullptr, false);
    if (!request.is_object() || !request.contains("op") || !request["op"].is_string() ||
        !request.contains("args") || !request["args"].is_array())
        return std::nullopt;
    const std::string kind = request.value("kind", "call");
    BridgeRequest decoded;
    decoded.access = kind == "get"   ? ScriptObject::Access::Get
                     : kind == "set" ? ScriptObject::Access::Set
                                     : ScriptObject::Access::Call;
    decoded.op = request["op"].get<std::string>();
    decoded.args = request["args"];
    return decoded;
}
