#pragma once
#include <string>

namespace tsr {

class Clock;
class Configuration;
class FileSystem;
class XmlDefaults;

// What the exchange watcher would send to the press for a preset or a
// corrected-keys file, worked out without a press: the file (and a preset's
// ductor-cycle companion) is read through the same profile readers into a
// unit table of its own; nothing is deleted, logged or sent.
class PresetDryRun {
public:
    enum Result { Read = 0, NotReadable = 1 };

    PresetDryRun(Configuration& config, FileSystem& fs, const Clock& clock, XmlDefaults& xml);

    // A report, one line per unit: what each unit gets (keys, ductor, cycle,
    // working position) or why it is skipped.
    Result Run(const std::string& path, std::string& report);

private:
    Configuration& config_;
    FileSystem& fs_;
    const Clock& clock_;
    XmlDefaults& xml_;
};

} // namespace tsr
