#include "config/configuration.h"

#include <algorithm>
#include <vector>

#include "config/split_string.h"
#include "session/unit_table.h"

namespace tsr {
namespace {

constexpr const char* kGeneral = "GENERAL";
constexpr const char* kInkingUp = "INKINGUP";
constexpr const char* kExchange = "EXCHANGE";

std::string Decimal(int v) {
    return std::to_string(v);
}

// "1/N" gives N; a text without "1/" gives the number at its start.
int CycleOfText(const std::string& text) {
    const std::size_t at = text.find("1/");
    if (at == std::string::npos)
        return IniFile::LeadingInt(text);
    return IniFile::LeadingInt(text.substr(at + 2));
}

} // namespace

Configuration::Configuration(FileSystem& fs)
    : ini_(fs, std::string()), pressMakerNamespace_(kDefaultPressMakerNamespace),
      measurementNamespace_(kDefaultMeasurementNamespace) {}

std::string Configuration::Text(const std::string& member) const {
    std::lock_guard lock(textGuard_);
    return member;
}

void Configuration::SetText(std::string& member, const char* key, const std::string& value) {
    std::lock_guard file(fileGuard_);
    {
        std::lock_guard lock(textGuard_);
        member = value;
    }
    ini_.WriteString(kGeneral, key, value);
}

void Configuration::SetInt(std::atomic<int>& member, const char* section, const char* key, int value) {
    std::lock_guard file(fileGuard_);
    member.store(value);
    ini_.WriteString(section, key, Decimal(value));
}

void Configuration::Load(const std::string& path) {
    std::lock_guard file(fileGuard_);
    ini_.SetPath(path);
    auto text = [&](const char* key, const char* def) { return ini_.ReadString(kGeneral, key, def, 999); };
    auto integer = [&](const char* section, const char* key, int def) {
        return ini_.ReadInt(section, key, def);
    };

    std::string language = text("Language", "");
    std::string presetSND = text("PathPresetSND", "");
    std::string presetRCV = text("PathPresetRCV", "..\\Velora\\press1\\xml\\preset");
    std::string loopKeysSND = text("PathLoopKeysSND", "..\\Velora\\press1\\xml\\keyin");
    std::string loopKeysRCV = text("PathLoopKeysRCV", "..\\Velora\\press1\\xml\\keyout");
    std::string loopScanSND = text("PathLoopScanSND", "..\\Velora\\press1\\xmldensity");
    std::string loopScanRCV = text("PathLoopScanRCV", "..\\Velora\\press1\\xmldensity\\tmp");
    std::string commands = text("PathCommands", "..\\Marvane\\commands");
    std::string logs = text("PathLogs", "log");
    std::string currentJob = text("PathCurrentJob", "..\\Velora\\currentjob");
    com1_ = integer(kGeneral, "COM1", 1);
    keysNumber_ = integer(kGeneral, "KeysNumber", 24);
    unitNumber_ = integer(kGeneral, "UnitNumber", 4);
    perfector_ = integer(kGeneral, "Perfector", 4);
    ductorCycle_ = integer(kGeneral, "DuctorCycle", 0);
    connectPSX_ = integer(kGeneral, "ConnectPSX", 0) == 1;
    connectLPX_ = integer(kGeneral, "ConnectLPX", 0) == 1;
    presetActive_ = integer(kGeneral, "PresetActive", 1) == 1;
    std::string lastVal = text("DuctorCycleLastVal", "");
    inkKeys_ = integer(kInkingUp, "Keys", 15);
    inkDuctor_ = integer(kInkingUp, "Ductor", 99);
    inkDuctorCycle_ = CycleOfText(ini_.ReadString(kInkingUp, "DuctorCycle", "1/3", 9));
    inkTimer_ = integer(kInkingUp, "Timer", 30);
    std::string pressMaker = ini_.ReadString(kExchange, "PressMakerNamespace", kDefaultPressMakerNamespace, 999);
    std::string measurement =
        ini_.ReadString(kExchange, "MeasurementNamespace", kDefaultMeasurementNamespace, 999);
    pollFolders_ = integer(kExchange, "PollFolders", 0) == 1;

    std::lock_guard lock(textGuard_);
    path_ = path;
    language_ = std::move(language);
    pathPresetSND_ = std::move(presetSND);
    pathPresetRCV_ = std::move(presetRCV);
    pathLoopKeysSND_ = std::move(loopKeysSND);
    pathLoopKeysRCV_ = std::move(loopKeysRCV);
    pathLoopScanSND_ = std::move(loopScanSND);
    pathLoopScanRCV_ = std::move(loopScanRCV);
    pathCommands_ = std::move(commands);
    pathLogs_ = std::move(logs);
    pathCurrentJob_ = std::move(currentJob);
    ductorCycleLastVal_ = std::move(lastVal);
    pressMakerNamespace_ = std::move(pressMaker);
    measurementNamespace_ = std::move(measurement);
}

void Configuration::SaveAll() {
    std::lock_guard file(fileGuard_);
    SaveAllLocked();
}

void Configuration::SaveAllLocked() {
    std::vector<std::pair<const char*, std::string>> general;
    {
        std::lock_guard lock(textGuard_);
        general = {{"PathPresetSND", pathPresetSND_},
                   {"PathPresetRCV", pathPresetRCV_},
                   {"PathLoopKeysSND", pathLoopKeysSND_},
                   {"PathLoopKeysRCV", pathLoopKeysRCV_},
                   {"PathLoopScanSND", pathLoopScanSND_},
                   {"PathLoopScanRCV", pathLoopScanRCV_},
                   {"PathCommands", pathCommands_},
                   {"PathCurrentJob", pathCurrentJob_},
                   {"PathLogs", pathLogs_}};
    }
    general.emplace_back("ConnectPSX", Decimal(connectPSX_ ? 1 : 0));
    general.emplace_back("ConnectLPX", Decimal(connectLPX_ ? 1 : 0));
    general.emplace_back("PresetActive", Decimal(presetActive_ ? 1 : 0));
    general.emplace_back("Language", Text(language_));
    general.emplace_back("COM1", Decimal(com1_));
    general.emplace_back("KeysNumber", Decimal(keysNumber_));
    general.emplace_back("UnitNumber", Decimal(unitNumber_));
    general.emplace_back("Perfector", Decimal(perfector_));
    general.emplace_back("DuctorCycle", Decimal(ductorCycle_));
    for (const auto& [key, value] : general)
        ini_.WriteString(kGeneral, key, value);
    ini_.WriteString(kInkingUp, "Keys", Decimal(inkKeys_));
    ini_.WriteString(kInkingUp, "Ductor", Decimal(inkDuctor_));
    ini_.WriteString(kInkingUp, "DuctorCycle", "1/" + Decimal(inkDuctorCycle_));
    ini_.WriteString(kInkingUp, "Timer", Decimal(inkTimer_));
    ini_.WriteString(kExchange, "PressMakerNamespace", Text(pressMakerNamespace_));
    ini_.WriteString(kExchange, "MeasurementNamespace", Text(measurementNamespace_));
    ini_.WriteString(kExchange, "PollFolders", Decimal(pollFolders_ ? 1 : 0));
}

std::string Configuration::FilePath() const {
    return Text(path_);
}

std::string Configuration::Language() const {
    return Text(language_);
}
std::string Configuration::PathPresetSND() const {
    return Text(pathPresetSND_);
}
std::string Configuration::PathPresetRCV() const {
    return Text(pathPresetRCV_);
}
std::string Configuration::PathLoopKeysSND() const {
    return Text(pathLoopKeysSND_);
}
std::string Configuration::PathLoopKeysRCV() const {
    return Text(pathLoopKeysRCV_);
}
std::string Configuration::PathLoopScanSND() const {
    return Text(pathLoopScanSND_);
}
std::string Configuration::PathLoopScanRCV() const {
    return Text(pathLoopScanRCV_);
}
std::string Configuration::PathCommands() const {
    return Text(pathCommands_);
}
std::string Configuration::PathLogs() const {
    return Text(pathLogs_);
}
std::string Configuration::PathCurrentJob() const {
    return Text(pathCurrentJob_);
}
std::string Configuration::DuctorCycleLastVal() const {
    return Text(ductorCycleLastVal_);
}

void Configuration::SetLanguage(const std::string& v) {
    SetText(language_, "Language", v);
}
void Configuration::SetPathPresetSND(const std::string& v) {
    SetText(pathPresetSND_, "PathPresetSND", v);
}
void Configuration::SetPathPresetRCV(const std::string& v) {
    SetText(pathPresetRCV_, "PathPresetRCV", v);
}
void Configuration::SetPathLoopKeysSND(const std::string& v) {
    SetText(pathLoopKeysSND_, "PathLoopKeysSND", v);
}
void Configuration::SetPathLoopKeysRCV(const std::string& v) {
    SetText(pathLoopKeysRCV_, "PathLoopKeysRCV", v);
}
void Configuration::SetPathLoopScanSND(const std::string& v) {
    SetText(pathLoopScanSND_, "PathLoopScanSND", v);
}
void Configuration::SetPathLoopScanRCV(const std::string& v) {
    SetText(pathLoopScanRCV_, "PathLoopScanRCV", v);
}
void Configuration::SetPathCommands(const std::string& v) {
    SetText(pathCommands_, "PathCommands", v);
}
void Configuration::SetPathLogs(const std::string& v) {
    SetText(pathLogs_, "PathLogs", v);
}
void Configuration::SetPathCurrentJob(const std::string& v) {
    SetText(pathCurrentJob_, "PathCurrentJob", v);
}

// An empty URI cannot be bound to a prefix: the default stands in for it.
std::string Configuration::PressMakerNamespace() const {
    std::string uri = Text(pressMakerNamespace_);
    return uri.empty() ? kDefaultPressMakerNamespace : uri;
}
std::string Configuration::MeasurementNamespace() const {
    std::string uri = Text(measurementNamespace_);
    return uri.empty() ? kDefaultMeasurementNamespace : uri;
}
bool Configuration::PollFolders() const {
    return pollFolders_;
}

int Configuration::Com1() const {
    return com1_;
}
int Configuration::KeysNumber() const {
    return keysNumber_;
}
int Configuration::UnitNumber() const {
    return unitNumber_;
}
int Configuration::Perfector() const {
    return perfector_;
}
int Configuration::DuctorCycle() const {
    return ductorCycle_;
}
bool Configuration::ConnectPSX() const {
    return connectPSX_;
}
bool Configuration::ConnectLPX() const {
    return connectLPX_;
}
bool Configuration::PresetActive() const {
    return presetActive_;
}

void Configuration::SetCom1(int v) {
    std::lock_guard file(fileGuard_);
    com1_ = v;
    ini_.WriteString(kGeneral, "COM1", Decimal(v));
    SaveAllLocked();
}
void Configuration::SetKeysNumber(int v) {
    SetInt(keysNumber_, kGeneral, "KeysNumber", v);
}
void Configuration::SetUnitNumber(int v) {
    SetInt(unitNumber_, kGeneral, "UnitNumber", v);
}
void Configuration::SetPerfector(int v) {
    SetInt(perfector_, kGeneral, "Perfector", v);
}
void Configuration::SetDuctorCycle(int v) {
    SetInt(ductorCycle_, kGeneral, "DuctorCycle", (v == 0 || v == 2 || v == 3) ? v : 0);
}
void Configuration::SetConnectPSX(bool v) {
    std::lock_guard file(fileGuard_);
    connectPSX_ = v;
    ini_.WriteString(kGeneral, "ConnectPSX", Decimal(v ? 1 : 0));
}
void Configuration::SetConnectLPX(bool v) {
    std::lock_guard file(fileGuard_);
    connectLPX_ = v;
    ini_.WriteString(kGeneral, "ConnectLPX", Decimal(v ? 1 : 0));
}

int Configuration::InkingUpKeys() const {
    return inkKeys_;
}
int Configuration::InkingUpDuctor() const {
    return inkDuctor_;
}
int Configuration::InkingUpDuctorCycle() const {
    return inkDuctorCycle_;
}
int Configuration::InkingUpTimer() const {
    return inkTimer_;
}
void Configuration::SetInkingUpKeys(int v) {
    SetInt(inkKeys_, kInkingUp, "Keys", v);
}
void Configuration::SetInkingUpDuctor(int v) {
    SetInt(inkDuctor_, kInkingUp, "Ductor", v);
}
void Configuration::SetInkingUpDuctorCycle(int v) {
    std::lock_guard file(fileGuard_);
    inkDuctorCycle_ = v;
    ini_.WriteString(kInkingUp, "DuctorCycle", "1/" + Decimal(v));
}
void Configuration::SetInkingUpTimer(int v) {
    SetInt(inkTimer_, kInkingUp, "Timer", v);
}

void Configuration::SetDuctorCycleLastVal(int unit, int value) {
    std::lock_guard file(fileGuard_);
    // the list never grows past the units the library can drive
    const std::size_t units = static_cast<std::size_t>(UnitsInTable());
    std::vector<std::string> pieces = SplitString(Text(ductorCycleLastVal_), "#");
    while (pieces.size() < units)
        pieces.push_back("0");
    if (unit >= 1 && static_cast<std::size_t>(unit) <= pieces.size())
        pieces[static_cast<std::size_t>(unit) - 1] = Decimal(value);
    std::string joined;
    for (std::size_t i = 0; i < units && i < pieces.size(); ++i) {
        if (i > 0)
            joined += "#";
        joined += pieces[i];
    }
    {
        std::lock_guard lock(textGuard_);
        ductorCycleLastVal_ = joined;
    }
    ini_.WriteString(kGeneral, "DuctorCycleLastVal", joined);
}

int Configuration::UnitsInTable() const {
    return std::clamp(unitNumber_.load(), 0, kMaxUnits);
}
int Configuration::KeysInTable() const {
    return std::clamp(keysNumber_.load(), 0, kMaxKeys);
}

} // namespace tsr
