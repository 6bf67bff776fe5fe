// Any bytes as the body of a call request to the bridge, through the decode
// step and the host object's call rules, without running anything: a body
// is taken exactly when it is a JSON object with a text "op", an array
// "args", a text "kind" if any, and no value nested deeper than the limit;
// a request posted again the way the bridge script writes it decodes the
// same; a call that passes the rules names an operation or property of the
// host object and carries each script value converted to its type, and
// those values written as script values pass again unchanged. Built as a
// libFuzzer target here and as the corpus replayer of the fuzz tests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "app/host_object.h"
#include "f_home/bridge_request.h"
#include "fuzz_check.h"
#include "fuzz_json.h"

namespace {

using nlohmann::json;
using Access = ScriptObject::Access;

const char* KindName(Access access) {
    return access == Access::Get ? "get" : access == Access::Set ? "set" : "call";
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The script value a converted argument stands for: flags go to the host
// as the numbers 0 and 1.
json ScriptValue(const HostObject::Arg& arg) {
    if (const auto* number = std::get_if<int32_t>(&arg))
        return *number;
    if (const auto* text = std::get_if<std::string>(&arg))
        return *text;
    return std::get<bool>(arg) ? 1 : 0;
}

bool Matches(const HostObject::Arg& arg, const json& value) {
    if (const auto* number = std::get_if<int32_t>(&arg))
        return (value.is_number_integer() || value.is_number_unsigned()) && value == json(*number);
    if (const auto* text = std::get_if<std::string>(&arg))
        return value.is_string() && value.get_ref<const std::string&>() == *text;
    return (value.is_number_integer() || value.is_number_unsigned()) &&
           value == json(std::get<bool>(arg) ? 1 : 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::optional<BridgeRequest> request = DecodeBridgeRequest(body);

    const json strict = json::parse(body, nullptr, false);
    const bool wellFormed = strict.is_object() && strict.contains("op") && strict["op"].is_string() &&
                            strict.contains("args") && strict["args"].is_array() &&
                            (!strict.contains("kind") || strict["kind"].is_string()) &&
                            JsonDepth(strict) <= kBridgeRequestDepth;
    Check(request.has_value() == wellFormed);
    if (!request)
        return 0;
    Check(request->op == strict["op"].get<std::string>());
    Check(request->args == strict["args"]);
    if (!strict.contains("kind") || (strict["kind"] != "get" && strict["kind"] != "set"))
        Check(request->access == Access::Call);

    const json again = {{"kind", KindName(request->access)}, {"op", request->op}, {"args", request->args}};
    const std::optional<BridgeRequest> reposted = DecodeBridgeRequest(again.dump());
    Check(reposted.has_value() && reposted->access == request->access && reposted->op == request->op &&
          reposted->args == request->args);

    const std::optional<HostObject::Call> call =
        HostObject::Decode(request->access, request->op, request->args);
    if (!call)
        return 0;
    Check(call->access == request->access && call->name == request->op);
    if (request->access == Access::Call) {
        Check(Listed(HostObject::Operations(), call->name));
    } else {
        Check(Listed(HostObject::Properties(), call->name));
        Check(request->args.size() == (request->access == Access::Get ? 0u : 1u));
    }
    Check(call->args.size() == request->args.size());
    json scripted = json::array();
    for (std::size_t i = 0; i < call->args.size(); ++i) {
        Check(Matches(call->args[i], request->args[i]));
        scripted.push_back(ScriptValue(call->args[i]));
    }
    const std::optional<HostObject::Call> rerun = HostObject::Decode(call->access, call->name, scripted);
    Check(rerun.has_value() && rerun->args == call->args);
    return 0;
}
