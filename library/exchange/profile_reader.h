#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

class ActivityLog;
class Configuration;
class ExchangeFiles;
class UnitTable;
class XmlDefaults;
class XmlNode;

// Reads the incoming JDF files into the unit table: ink-zone profiles (presets
// and corrected keys), ductor-cycle profiles and the current-job file. Keeps
// the preview names of the front and back side for the key writer.
class ProfileReader {
public:
    static constexpr std::size_t kMaxSeparation = 255; // bytes; TSR_GetUnitDetails copies it with its zero

    ProfileReader(ExchangeFiles& files, Configuration& config, ActivityLog& log, UnitTable& table,
                  XmlDefaults& xml);

    // A reader for a look at a file leaves it where it is; the watcher's
    // reader deletes each request file it has parsed.
    void KeepRequestFiles(bool keep) { keepRequestFiles_ = keep; }

    bool ReadInkZoneProfile(const std::string& path);
    bool ReadDuctorCycleProfile(const std::string& path);
    bool ReadCurrentJob(const std::string& path);

    // "r g b", each 0..1, to 0x00BBGGRR; 0x408000 unless there are three numbers.
    static std::int32_t ParseSrgb(const std::string& text);

    // Row, side and position within its side of units 1 to "UnitNumber" (at
    // most 12): units up to "Perfector" print the front.
    struct UnitPlace {
        int row;
        bool front;
        int n;
    };
    std::vector<UnitPlace> Places() const;

    std::string FrontPreview() const;
    std::string BackPreview() const;

private:
    struct Document;
    // Reads, parses, optionally deletes the file, and finds both sides (a
    // unit's element carries unitAttribute); logs "path empty", "file empty",
    // "load file err" or "no node front and back".
    std::unique_ptr<XmlNode> Load(const std::string& path, bool deleteWhenParsed, Document& doc,
                                  std::string_view unitAttribute);
    bool FindSides(const XmlNode& root, Document& doc, std::string_view unitAttribute);
    void TakePreviews(const XmlNode& root);

    ExchangeFiles& files_;
    Configuration& config_;
    ActivityLog& log_;
    UnitTable& table_;
    XmlDefaults& xml_;
    bool keepRequestFiles_ = false;
    mutable std::mutex previewGuard_;
    std::string frontPreview_;
    std::string backPreview_;
};

} // namespace tsr
