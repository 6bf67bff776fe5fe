#include "f_home/demo_press.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "f_home/demo_console.h"
#include "sim_options.h"

namespace fs = std::filesystem;

namespace {

// Folders below exchange/ and the configuration keys that name them.
struct ExchangeFolder {
    const char* key;
    const char* folder;
};
constexpr ExchangeFolder kExchangeFolders[] = {
    {"PathPresetRCV", "exchange/preset"},         {"PathLoopKeysSND", "exchange/keyin"},
    {"PathLoopKeysRCV", "exchange/keyout"},       {"PathLoopScanSND", "exchange/density"},
    {"PathLoopScanRCV", "exchange/density/tmp"}, {"PathCommands", "exchange/commands"},
    {"PathCurrentJob", "exchange/currentjob"},    {"PathLogs", "log"},
};

void CreateFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw std::runtime_error("cannot create " + folder.string() + ": " + error.message());
}

} // namespace

DemoPress::DemoPress(Options options) : options_(std::move(options)) {
    options_.folder = fs::absolute(options_.folder).lexically_normal();
    PrepareFolders();
    WriteConfigurationIfAbsent();
    ReadPressSize();
    OfferSamples();

    // Binary: the same line ends ("\n") on every system.
    trace_.open(options_.folder / "console.log", std::ios::app | std::ios::binary);
    tsr::sim::ConsoleConfig console;
    console.units = units_;
    console.keys = keys_;
    console.movementMs = options_.movementMs;
    // Faults to train an operator with: the simulated console's own options.
    tsr::sim::SimCommandLine faults;
    faults.console.units = units_;
    const std::string wrong =
        tsr::sim::ParseSimCommandLine(options_.faults, tsr::sim::LinkKind::PseudoTerminal, faults);
    if (!wrong.empty())
        throw std::runtime_error(wrong);
    console.badChecksumEvery = faults.console.badChecksumEvery;
    console_ = std::make_unique<DemoConsole>(options_.folder / "ports", console,
                                             [this](const std::string& line) { TraceLine(line); });
    tsr::sim::AddUnitFaults(*console_, faults);
    faultLines_ = tsr::sim::DescribeFaults(faults);
    LoadPressState();
    keeper_ = std::thread([this] { KeepPressState(); });
}

DemoPress::~DemoPress() {
    {
        std::lock_guard lock(keeperLock_);
        stopping_ = true;
    }
    keeperWake_.notify_all();
    if (keeper_.joinable())
        keeper_.join();
    SavePressStateIfChanged();
    console_.reset(); // stops the console's thread before the trace file closes
}

namespace {

// "Key=value" of the configuration file, without its section; empty if absent.
std::string IniValue(const fs::path& file, const std::string& key) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name = line.substr(0, equals);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.pop_back();
        if (name.size() == key.size() && std::equal(name.begin(), name.end(), key.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return line.substr(equals + 1);
    }
    return std::string();
}

int CountIn(const std::string& text, int fallback, int most) {
    try {
        const int n = std::stoi(text);
        return n >= 1 ? std::min(n, most) : fallback;
    } catch (const std::exception&) {
        return fallback;
    }
}

// One line per unit: "<unit> <ductor> <cycle> <key>,<key>,…".
std::string StateLine(int unit, const tsr::sim::UnitState& state) {
    std::string line = std::to_string(unit) + " " + std::to_string(state.ductor) + " " +
                       std::to_string(state.ductorCycle) + " ";
    for (size_t i = 0; i < state.keys.size(); ++i)
        line += (i == 0 ? "" : ",") + std::to_string(state.keys[i]);
    return line;
}

} // namespace

void DemoPress::ReadPressSize() {
    const fs::path file = StorageFolder() / "Tessaro.ini";
    units_ = CountIn(IniValue(file, "UnitNumber"), kUnits, kMaxUnits);
    keys_ = CountIn(IniValue(file, "KeysNumber"), kKeys, kMaxKeys);
}

void DemoPress::LoadPressState() {
    std::ifstream in(options_.folder / "press.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        int unit = 0, ductor = -1, cycle = -1;
        std::string keys;
        if (!(fields >> unit >> ductor >> cycle >> keys) || unit < 1 || unit > units_ || ductor < 0 ||
            ductor > 255 || cycle < 0 || cycle > 255)
            continue; // a line of another size of press, or no line of ours
        tsr::sim::UnitState state = console_->Unit(unit);
        state.ductor = static_cast<std::uint8_t>(ductor);
        state.ductorCycle = static_cast<std::uint8_t>(cycle);
        std::istringstream values(keys);
        std::string value;
        for (size_t i = 0; i < state.keys.size() && std::getline(values, value, ','); ++i) {
            state.keys[i] = static_cast<std::uint8_t>(CountIn(value, 0, 255));
        }
        console_->SetUnit(unit, state);
    }
    for (int u = 1; u <= units_; ++u)
        savedState_.push_back(StateLine(u, console_->Unit(u)));
}

void DemoPress::SavePressStateIfChanged() {
    std::vector<std::string> lines;
    for (int u = 1; u <= units_; ++u)
        lines.push_back(StateLine(u, console_->Unit(u)));
    if (lines == savedState_)
        return;
    // Written beside and renamed over: a stop half-way leaves the last whole file.
    const fs::path file = options_.folder / "press.txt";
    const fs::path partial = options_.folder / "press.txt.part";
    {
        std::ofstream out(partial, std::ios::trunc);
        for (const std::string& l : lines)
            out << l << '\n';
        if (!out)
            return;
    }
    std::error_code error;
    fs::rename(partial, file, error);
    if (!error)
        savedState_ = std::move(lines);
}

void DemoPress::KeepPressState() {
    std::unique_lock lock(keeperLock_);
    while (!keeperWake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; })) {
        lock.unlock();
        SavePressStateIfChanged();
        lock.lock();
    }
}

void DemoPress::PrepareFolders() {
    CreateFolder(StorageFolder());
    CreateFolder(options_.folder / "ports");
    CreateFolder(options_.folder / "sample");
    for (const ExchangeFolder& f : kExchangeFolders)
        CreateFolder(options_.folder / f.folder);
}

void DemoPress::WriteConfigurationIfAbsent() const {
    const fs::path file = StorageFolder() / "Tessaro.ini";
    if (fs::exists(file))
        return; // the operator's demo settings survive a restart
    std::ostringstream text;
    text << "[GENERAL]\r\n"
         << "COM1=1\r\n"
         << "UnitNumber=" << kUnits << "\r\n"
         << "KeysNumber=" << kKeys << "\r\n"
         << "Perfector=4\r\n"
         << "DuctorCycle=3\r\n"
         << "ConnectPSX=1\r\n"
         << "ConnectLPX=1\r\n"
         << "PresetActive=1\r\n"
         << "Language=en\r\n";
    for (const ExchangeFolder& f : kExchangeFolders)
        text << f.key << "=" << (options_.folder / f.folder).string() << "\r\n";
    std::ofstream out(file, std::ios::binary);
    out << text.str();
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void DemoPress::OfferSamples() const {
    std::error_code error;
    for (const char* name : {"job.xml", "job_DC.xml"}) {
        const fs::path from = options_.sampleFolder / name;
        if (fs::exists(from, error))
            fs::copy_file(from, options_.folder / "sample" / name, fs::copy_options::overwrite_existing, error);
    }
}

void DemoPress::TraceLine(const std::string& line) {
    std::lock_guard lock(traceLock_);
    trace_ << line << '\n';
    trace_.flush(); // read while the console runs
}

std::string DemoPress::Describe() const {
    std::ostringstream text;
    text << "simulated press: " << units_ << " units, " << keys_ << " keys on " << console_->DevicePath()
         << " (COM1)\n"
         << "demo folder: " << options_.folder.string() << "\n"
         << "console trace: " << (options_.folder / "console.log").string() << "\n"
         << "drop a preset: copy " << (options_.folder / "sample" / "job.xml").string() << " into "
         << (options_.folder / "exchange" / "preset").string() << "\n";
    for (const std::string& fault : faultLines_)
        text << fault << "\n";
    return text.str();
}
