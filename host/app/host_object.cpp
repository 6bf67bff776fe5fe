#include "app/host_object.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <variant>

#include "app/unit_list.h"

namespace {

// Parameter types a script value is converted to. Browser and unit-list
// parameters take no script value at all: those operations are not for the page.
// A unit is a printing unit of the press, 1 to "UnitNumber" (and no more than
// the host's per-unit arrays hold); a memory is a job memory position, 0 to 3.
enum class Param { Integer, Command, Text, Flag, Unit, Memory, Browser, UnitList };

constexpr int64_t kMemoryPositions = 4;

int64_t HighestUnit() {
    return std::min<int64_t>(TSR_INI_GetUnitsNumber(), TApp::kUnitSlots - 1);
}

// A selection the page writes: every entry that is a number must name a unit;
// other entries are left for the command to meet (it stops there).
bool SelectionNamesUnits(const std::string& selection) {
    const int64_t highest = HighestUnit();
    const TUnitList entries = BuildUnitList(selection);
    for (size_t i = 1; i < entries.size(); ++i) { // entry 0 is the host's own "0"
        int32_t unit = 0;
        try {
            unit = UnitNumber(entries[i]);
        } catch (const std::exception&) {
            continue;
        }
        if (unit < 1 || unit > highest)
            return false;
    }
    return true;
}

using Arg = HostObject::Arg;
using Args = std::vector<Arg>;
using Reply = ScriptObject::Reply;

std::optional<int64_t> ScriptInteger(const nlohmann::json& value) {
    // JSON keeps 2 and 2.5 apart the way the script does: only whole numbers
    // arrive as integers; booleans and numeric strings are other kinds.
    if (value.is_number_unsigned()) {
        const auto u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (value.is_number_integer())
        return value.get<int64_t>();
    return std::nullopt;
}

std::optional<Arg> Convert(Param param, const nlohmann::json& value) {
    switch (param) {
    case Param::Integer:
    case Param::Command:
    case Param::Unit:
    case Param::Memory:
    case Param::Flag: {
        const auto n = ScriptInteger(value);
        if (!n)
            return std::nullopt;
        const int64_t low = param == Param::Integer ? std::numeric_limits<int32_t>::min()
                            : param == Param::Unit  ? 1
                                                    : 0;
        const int64_t high = param == Param::Integer   ? std::numeric_limits<int32_t>::max()
                             : param == Param::Command ? int64_t{tcApplySettings}
                             : param == Param::Unit    ? HighestUnit()
                             : param == Param::Memory  ? kMemoryPositions - 1
                                                       : 1;
        if (*n < low || *n > high)
            return std::nullopt;
        if (param == Param::Flag)
            return Arg(*n == 1);
        return Arg(static_cast<int32_t>(*n));
    }
    case Param::Text:
        if (!value.is_string())
            return std::nullopt;
        return Arg(value.get<std::string>());
    case Param::Browser:
    case Param::UnitList:
        return std::nullopt;
    }
    return std::nullopt;
}

int32_t I(const Args& a, size_t i) {
    return std::get<int32_t>(a[i]);
}
const std::string& S(const Args& a, size_t i) {
    return std::get<std::string>(a[i]);
}

struct Operation {
    std::vector<Param> params;
    std::function<Reply(TApp&, const Args&)> run;
};

template <typename F> Operation None(std::vector<Param> params, F body) {
    return Operation{std::move(params), [body](TApp& app, const Args& a) {
                         body(app, a);
                         return Reply::Nothing();
                     }};
}

template <typename F> Operation Returns(std::vector<Param> params, F body) {
    return Operation{std::move(params),
                     [body](TApp& app, const Args& a) { return Reply::Value(body(app, a)); }};
}

using P = Param;

const std::map<std::string, Operation>& OperationTable() {
    static const std::map<std::string, Operation> table = {
        {"startApp", None({}, [](TApp& t, const Args&) { t.startApp(); })},
        {"BindCallbacks", None({}, [](TApp& t, const Args&) { t.BindCallbacks(); })},
        {"Initialize", None({P::Browser}, [](TApp&, const Args&) {})},
        {"ExecuteJS", None({P::Text}, [](TApp& t, const Args& a) { t.ExecuteJS(S(a, 0)); })},
        {"ShowError", None({P::Text}, [](TApp& t, const Args& a) { t.ShowError(S(a, 0)); })},
        {"GetConfig", Returns({P::Text}, [](TApp& t, const Args& a) { return t.GetConfig(S(a, 0)); })},
        {"GetStoragePath",
         Returns({P::Text}, [](TApp& t, const Args& a) { return t.GetStoragePath(S(a, 0)); })},
        {"saveSettings", None({P::Text}, [](TApp& t, const Args& a) { t.saveSettings(S(a, 0)); })},
        {"browseFolder", None({P::Text}, [](TApp& t, const Args& a) { t.browseFolder(S(a, 0)); })},
        {"saveConfig",
         None({P::Memory, P::Text}, [](TApp& t, const Args& a) { t.saveConfig(I(a, 0), S(a, 1)); })},
        {"loadConfig", None({P::Memory}, [](TApp& t, const Args& a) { t.loadConfig(I(a, 0)); })},
        {"setKeys",
         None({P::Unit, P::Integer}, [](TApp& t, const Args& a) { t.setKeys(I(a, 0), I(a, 1)); })},
        {"setKeysPercentage", None({P::Unit, P::Integer},
                                   [](TApp& t, const Args& a) { t.setKeysPercentage(I(a, 0), I(a, 1)); })},
        {"setKeysMode", None({P::Integer}, [](TApp& t, const Args& a) { t.setKeysMode(I(a, 0)); })},
        {"setUnitDuctorValue", None({P::Unit, P::Integer},
                                    [](TApp& t, const Args& a) { t.setUnitDuctorValue(I(a, 0), I(a, 1)); })},
        {"setUnitDuctorCycle", None({P::Unit, P::Integer},
                                    [](TApp& t, const Args& a) { t.setUnitDuctorCycle(I(a, 0), I(a, 1)); })},
        {"RunAsyncCommand",
         None({P::Command},
              [](TApp& t, const Args& a) { t.RunAsyncCommand(static_cast<TCommands>(I(a, 0))); })},
        {"GetDuctor", None({P::Unit}, [](TApp& t, const Args& a) { t.GetDuctor(I(a, 0)); })},
        {"GetDuctorCycle", None({P::Unit}, [](TApp& t, const Args& a) { t.GetDuctorCycle(I(a, 0)); })},
        {"LoadInitialState", None({}, [](TApp& t, const Args&) { t.LoadInitialState(); })},
        {"CopyUnit",
         None({P::Unit, P::Unit}, [](TApp& t, const Args& a) { t.CopyUnit(I(a, 0), I(a, 1)); })},
        {"SwapUnit",
         None({P::Unit, P::Unit}, [](TApp& t, const Args& a) { t.SwapUnit(I(a, 0), I(a, 1)); })},
        {"setUnitKeys", Operation{{P::Unit, P::Text},
                                  [](TApp& t, const Args& a) {
                                      return t.setUnitKeys(I(a, 0), S(a, 1)) ? Reply::Nothing() : Reply::Refused();
                                  }}},
        {"logFolderExists",
         Returns({P::Text}, [](TApp& t, const Args& a) { return t.logFolderExists(S(a, 0)); })},
        {"createLogFolder",
         Returns({P::Text}, [](TApp& t, const Args& a) { return t.createLogFolder(S(a, 0)); })},
        // The service view and the banners: the line's counters and state; the version.
        {"getLineStatus", Returns({}, [](TApp& t, const Args&) { return t.getLineStatus(); })},
        {"getVersion", Returns({}, [](TApp& t, const Args&) { return t.getVersion(); })},
        {"UglyInitialall", None({}, [](TApp& t, const Args&) { t.UglyInitialall(); })},
        {"InkUp", None({P::UnitList}, [](TApp&, const Args&) {})},
    };
    return table;
}

struct Property {
    Param type;
    std::function<nlohmann::json(TApp&)> get;
    std::function<void(TApp&, const Arg&)> set;
};

const std::map<std::string, Property>& PropertyTable() {
    static const std::map<std::string, Property> table = {
        {"ductorCycleValues",
         {P::Text, [](TApp& t) { return nlohmann::json(t.GetductorCycleValues()); },
          [](TApp& t, const Arg& v) { t.SetductorCycleValues(std::get<std::string>(v)); }}},
        {"errors",
         {P::Text, [](TApp& t) { return nlohmann::json(t.Geterrors()); }, [](TApp&, const Arg&) {}}},
        {"isSerialOpen",
         {P::Flag, [](TApp& t) { return nlohmann::json(t.GetisSerialOpen()); },
          [](TApp& t, const Arg& v) { t.SetisSerialOpen(std::get<bool>(v)); }}},
        {"selectedUnits",
         {P::Text, [](TApp& t) { return nlohmann::json(t.GetselectedUnits()); },
          [](TApp& t, const Arg& v) { t.SetselectedUnits(std::get<std::string>(v)); }}},
    };
    return table;
}

template <typename Map> std::vector<std::string> Names(const Map& map) {
    std::vector<std::string> names;
    for (const auto& entry : map)
        names.push_back(entry.first);
    return names;
}

} // namespace

const std::vector<std::string>& HostObject::Operations() {
    static const std::vector<std::string> names = Names(OperationTable());
    return names;
}

const std::vector<std::string>& HostObject::Properties() {
    static const std::vector<std::string> names = Names(PropertyTable());
    return names;
}

std::optional<HostObject::Call> HostObject::Decode(Access access, const std::string& name,
                                                   const nlohmann::json& args) {
    if (!args.is_array())
        return std::nullopt;
    Call call{access, name, {}};
    if (access == Access::Call) {
        const auto found = OperationTable().find(name);
        if (found == OperationTable().end() || args.size() != found->second.params.size())
            return std::nullopt;
        for (size_t i = 0; i < args.size(); ++i) {
            auto arg = Convert(found->second.params[i], args[i]);
            if (!arg)
                return std::nullopt;
            call.args.push_back(std::move(*arg));
        }
        return call;
    }
    const auto found = PropertyTable().find(name);
    if (found == PropertyTable().end())
        return std::nullopt;
    if (access == Access::Get)
        return args.empty() ? std::optional<Call>(std::move(call)) : std::nullopt;
    if (args.size() != 1)
        return std::nullopt;
    auto value = Convert(found->second.type, args[0]);
    if (!value)
        return std::nullopt;
    if (name == "selectedUnits" && !SelectionNamesUnits(std::get<std::string>(*value)))
        return std::nullopt;
    call.args.push_back(std::move(*value));
    return call;
}

ScriptObject::Reply HostObject::Invoke(Access access, const std::string& name, const nlohmann::json& args) {
    const auto call = Decode(access, name, args);
    if (!call)
        return Reply::Refused();
    if (access == Access::Call)
        return OperationTable().at(name).run(app_, call->args);
    const Property& property = PropertyTable().at(name);
    if (access == Access::Get)
        return Reply::Value(property.get(app_));
    property.set(app_, call->args.front());
    return Reply::Nothing();
}
