// Any bytes as a preset, corrected-key, ductor-cycle or current-job file:
// the unit table stays within its bounds, and the key files written from it
// afterwards always parse. Built as a libFuzzer target here and as the
// corpus replayer of the fuzz tests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "config/configuration.h"
#include "exchange/exchange_files.h"
#include "exchange/ink_key_writer.h"
#include "exchange/profile_reader.h"
#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "session/unit_table.h"

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

const std::string& Folder() {
    static const std::string path = [] {
        char shm[] = "/dev/shm/tsr-profile-fuzz-XXXXXX";
        char tmp[] = "/tmp/tsr-profile-fuzz-XXXXXX";
        const char* folder = ::mkdtemp(shm);
        if (folder == nullptr)
            folder = ::mkdtemp(tmp);
        Check(folder != nullptr);
        return std::string(folder);
    }();
    return path;
}

// A written key file parses strictly and holds its JDF root.
void CheckParses(tsr::FileSystem& fs, tsr::XmlDefaults& xml, const std::string& path) {
    const std::optional<std::string> text = fs.ReadFile(path);
    Check(text.has_value() && !text->empty());
    tsr::XmlParseOptions options = xml.DefaultParseOptions().Snapshot();
    options.errorOccurred = false;
    tsr::XmlNode root;
    const std::optional<std::size_t> end = root.Parse(*text, options);
    Check(end.has_value() && !options.errorOccurred);
    Check(text->find_first_not_of(" \t\r\n", *end) == std::string::npos);
    Check(!root.Children().empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static std::unique_ptr<tsr::FileSystem> fs = tsr::MakeFileSystem();
    static tsr::SystemClock clock;
    static tsr::XmlDefaults xml;
    const std::string& folder = Folder();

    tsr::Configuration config(*fs);         // no file: setters change only the members
    config.SetUnitNumber(1 + data[0] % 14); // 13 and 14 lie beyond the table
    config.SetKeysNumber(data[1] % 2 == 0 ? 24 : 520);
    config.SetPerfector(data[0] / 16 % 8);
    config.SetDuctorCycle(data[1] / 2 % 4);
    config.SetPathLoopKeysSND(folder);
    config.SetPathCurrentJob(folder);
    tsr::ActivityLog log(clock, *fs); // no folder: writes nothing
    tsr::UnitTable table;
    tsr::ExchangeFiles files(*fs, clock, log);
    tsr::ProfileReader reader(files, config, log, table, xml);
    tsr::InkKeyWriter writer(reader, files, config, log, table, xml);

    const std::string content(reinterpret_cast<const char*>(data + 2), size - 2);
    const int role = data[1] / 8 % 3;
    const std::string input = folder + (role == 2 ? "/currentjob.xml" : "/job.xml");
    Check(fs->WriteAtomic(input, content));
    if (role == 0)
        reader.ReadInkZoneProfile(input);
    else if (role == 1)
        reader.ReadDuctorCycleProfile(input);

    for (int row = 0; row < tsr::kMaxUnits; ++row) {
        const tsr::UnitRecord r = table.Get(row);
        Check(r.zoneCount >= 0 && r.zoneCount <= tsr::kMaxKeys);
        Check(r.separation.size() <= tsr::ProfileReader::kMaxSeparation);
        for (std::int32_t key : r.keys)
            Check(key >= 0 && key <= 255);
        Check(r.ductor >= 0 && r.ductor <= 255);
    }

    // The current-job file (role 2) is read by the writer itself.
    writer.WriteInkKeys();
    CheckParses(*fs, xml, folder + "/InkKeys.xml");
    CheckParses(*fs, xml, folder + "/InkKeys_DC.xml");
    fs->DeleteFile(input);
    return 0;
}
