#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "config/ini_file.h"

namespace tsr {

class FileSystem;

// Section "EXCHANGE": the namespace URIs that the outgoing files bind to the
// prefixes mr (the press maker's extensions) and qv (the measurement vendor's).
inline constexpr const char* kDefaultPressMakerNamespace = "http://www.example.com/schema/press-maker";
inline constexpr const char* kDefaultMeasurementNamespace = "http://www.example.com/schema/measurement-vendor";

// The library's settings, loaded from the configuration file at every
// TSR_Init. Setters write their one key at once. Text members are guarded:
// a setter may replace one while another thread copies it.
class Configuration {
public:
    explicit Configuration(FileSystem& fs);

    void Load(const std::string& path);
    void SaveAll();
    std::string FilePath() const;

    // section GENERAL, texts (copies)
    std::string Language() const;
    std::string PathPresetSND() const;
    std::string PathPresetRCV() const;
    std::string PathLoopKeysSND() const;
    std::string PathLoopKeysRCV() const;
    std::string PathLoopScanSND() const;
    std::string PathLoopScanRCV() const;
    std::string PathCommands() const;
    std::string PathLogs() const;
    std::string PathCurrentJob() const;
    std::string DuctorCycleLastVal() const;
    void SetLanguage(const std::string& v);
    void SetPathPresetSND(const std::string& v);
    void SetPathPresetRCV(const std::string& v);
    void SetPathLoopKeysSND(const std::string& v);
    void SetPathLoopKeysRCV(const std::string& v);
    void SetPathLoopScanSND(const std::string& v);
    void SetPathLoopScanRCV(const std::string& v);
    void SetPathCommands(const std::string& v);
    void SetPathLogs(const std::string& v);
    void SetPathCurrentJob(const std::string& v);

    // section GENERAL, integers and flags
    int Com1() const;
    int KeysNumber() const;
    int UnitNumber() const;
    int Perfector() const;
    int DuctorCycle() const; // the press's cycle scale: 0, 2 or 3
    bool ConnectPSX() const;
    bool ConnectLPX() const;
    bool PresetActive() const;
    void SetCom1(int v); // also runs SaveAll
    void SetKeysNumber(int v);
    void SetUnitNumber(int v);
    void SetPerfector(int v);
    void SetDuctorCycle(int v); // keeps 0, 2, 3; anything else becomes 0
    void SetConnectPSX(bool v);
    void SetConnectLPX(bool v);

    // section INKINGUP
    int InkingUpKeys() const;
    int InkingUpDuctor() const;
    int InkingUpDuctorCycle() const; // N of "1/N"
    int InkingUpTimer() const;
    void SetInkingUpKeys(int v);
    void SetInkingUpDuctor(int v);
    void SetInkingUpDuctorCycle(int v);
    void SetInkingUpTimer(int v);

    // section EXCHANGE (no exports: set in the file)
    std::string PressMakerNamespace() const;
    std::string MeasurementNamespace() const;
    // "PollFolders" 1: every exchange folder is polled as a network share is,
    // for shares the library cannot recognise as such.
    bool PollFolders() const;

    // Records the last cycle value sent to a unit (units count from 1).
    void SetDuctorCycleLastVal(int unit, int value);

    // Unit and key counts limited to what the unit table holds (0..12, 0..500);
    // the stored values stay as given.
    int UnitsInTable() const;
    int KeysInTable() const;

private:
    // implementation owned by config/configuration.cpp
    std::string Text(const std::string& member) const;
    void SetText(std::string& member, const char* key, const std::string& value);
    void SetInt(std::atomic<int>& member, const char* section, const char* key, int value);
    void SaveAllLocked();

    IniFile ini_;
    std::mutex fileGuard_;         // one read-modify-write of the file at a time
    mutable std::mutex textGuard_; // text members and the path
    std::string path_;
    std::string language_, pathPresetSND_, pathPresetRCV_, pathLoopKeysSND_, pathLoopKeysRCV_,
        pathLoopScanSND_, pathLoopScanRCV_, pathCommands_, pathLogs_, pathCurrentJob_, ductorCycleLastVal_,
        pressMakerNamespace_, measurementNamespace_;
    // integers are read and written whole; atomics keep readers on other threads defined
    std::atomic<int> com1_{1}, keysNumber_{0}, unitNumber_{0}, perfector_{0}, ductorCycle_{0};
    std::atomic<bool> connectPSX_{false}, connectLPX_{false}, presetActive_{true}, pollFolders_{false};
    std::atomic<int> inkKeys_{0}, inkDuctor_{0}, inkDuctorCycle_{0}, inkTimer_{0};
};

} // namespace tsr
