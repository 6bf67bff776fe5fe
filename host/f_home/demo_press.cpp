#include "f_home/demo_press.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "simulated_console.h"

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
    OfferSamples();

    trace_.open(options_.folder / "console.log", std::ios::app);
    tsr::sim::SimOptions sim;
    sim.console.units = kUnits;
    sim.console.keys = kKeys;
    sim.console.movementMs = options_.movementMs;
    sim.linkFolder = (options_.folder / "ports").string();
    sim.port = 1;
    sim.trace = [this](const std::string& line) { TraceLine(line); };
    console_ = std::make_unique<tsr::sim::SimulatedConsole>(std::move(sim));
    // The library turns COM n into $TESSARO_SERIAL_DIR/COM<n>: COM1 is the console.
    ::setenv("TESSARO_SERIAL_DIR", (options_.folder / "ports").c_str(), 1);
}

DemoPress::~DemoPress() {
    console_.reset(); // stops the console's thread before the trace file closes
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
    text << "simulated press: " << kUnits << " units, " << kKeys << " keys on " << console_->DevicePath()
         << " (COM1)\n"
         << "demo folder: " << options_.folder.string() << "\n"
         << "console trace: " << (options_.folder / "console.log").string() << "\n"
         << "drop a preset: cp " << (options_.folder / "sample/job.xml").string() << " "
         << (options_.folder / "exchange/preset").string() << "/\n";
    return text.str();
}
