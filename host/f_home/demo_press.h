#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DemoConsole;

// The console's main job without a press: a simulated press console (a
// pseudo-terminal on Linux, a named pipe on Windows), a demo folder with the host's storage, exchange folders
// and a sample preset, so that nothing touches the operator's real files.
//
// Layout of the demo folder:
//   storage/       the host's storage folder; Tessaro.ini written when absent
//   ports/COM1     link to the simulated console (TESSARO_SERIAL_DIR points here;
//                  on Windows the console is a pipe and the folder stays empty)
//   exchange/...   preset, keyin, keyout, density, density/tmp, commands, currentjob
//   log/           the library's log folder (job memory in log/Memory)
//   sample/        a preset to drop into exchange/preset
//   console.log    one line per frame the console received or sent
//   press.txt      what the press's units hold (keys, ductor, cycle), kept
//                  over a restart as a real press keeps it
//
// The simulated press has as many units and keys as the configuration says
// (at most 12 units and 500 keys).
class DemoPress {
public:
    struct Options {
        std::filesystem::path folder;
        std::filesystem::path sampleFolder; // sample exchange files to offer
        int movementMs = 2000;              // time a unit takes to reach a position
        // The console's faults as the simulated console's command line gives
        // them ("--silent-unit", "3", "--late-unit", "2:700", …).
        std::vector<std::string> faults;
    };
    static constexpr int kUnits = 6;
    static constexpr int kKeys = 32;
    static constexpr int kMaxUnits = 12;
    static constexpr int kMaxKeys = 500;

    // Throws std::runtime_error when the folder or the console cannot be set up.
    explicit DemoPress(Options options);
    ~DemoPress();
    DemoPress(const DemoPress&) = delete;
    DemoPress& operator=(const DemoPress&) = delete;

    std::filesystem::path StorageFolder() const { return options_.folder / "storage"; }
    // Lines for the operator: where things are and what to drop where.
    std::string Describe() const;

private:
    void PrepareFolders();
    void WriteConfigurationIfAbsent() const;
    void OfferSamples() const;
    void TraceLine(const std::string& line);
    // Units and keys from the configuration file, the defaults where it names none.
    void ReadPressSize();
    void LoadPressState();
    void SavePressStateIfChanged();
    void KeepPressState();

    Options options_;
    int units_ = kUnits;
    int keys_ = kKeys;
    std::vector<std::string> faultLines_; // "fault: unit 3 never answers"
    std::vector<std::string> savedState_; // one line per unit, as last written
    std::mutex keeperLock_;
    std::condition_variable keeperWake_;
    bool stopping_ = false;
    std::thread keeper_;
    std::mutex traceLock_;
    std::ofstream trace_;
    std::unique_ptr<DemoConsole> console_;
};
