#include "exchange/exchange_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "exchange/exchange_names.h"
#include "exchange/open_for_writing.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace tsr {

namespace {

constexpr std::time_t kBackupKeepSeconds = 864000; // ten days
constexpr int kBackupPauseMs = 50;

std::string Format(const char* format, const std::tm& t) {
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, format, &t);
    return std::string(text, n);
}

} // namespace

ExchangeFiles::ExchangeFiles(FileSystem& fs, const Clock& clock, const ActivityLog& log)
    : fs_(fs), clock_(clock), log_(log) {}

std::string ExchangeFiles::ReadWholeFile(const std::string& path) const {
    std::optional<std::string> content = fs_.ReadExclusive(path);
    if (!content)
        return {};
    std::size_t zero = content->find('\0');
    if (zero != std::string::npos)
        content->resize(zero);
    return std::move(*content);
}

bool ExchangeFiles::WriteWholeFile(const std::string& path, const std::string& content) {
    return fs_.WriteAtomic(path, content);
}

bool ExchangeFiles::DeleteRequestFile(const std::string& path) {
    std::string real = fs_.Resolve(path);
    if (HeldOpenForWriting(real))
        return false;
    return fs_.DeleteFile(real);
}

bool ExchangeFiles::ReleaseRequestFile(const std::string& from, const std::string& to) {
    std::string real = fs_.Resolve(from);
    if (HeldOpenForWriting(real))
        return false;
    // A release folder that is the incoming folder itself: deleting the
    // target would delete the file.
    std::error_code error;
    if (std::filesystem::equivalent(real, fs_.Resolve(to), error))
        return false;
    if (fs_.Exists(to))
        fs_.DeleteFile(to);
    return fs_.MoveFile(real, to);
}

std::string ExchangeFiles::BackupName(const std::tm& local, const std::string& name) {
    return Format("%Y%m%d_%H%M%S_", local) + name;
}

int ExchangeFiles::CleanUpCutOff(const Clock& clock, std::time_t now) {
    return std::atoi(Format("%Y%m%d", clock.LocalTime(now - kBackupKeepSeconds)).c_str());
}

int ExchangeFiles::DatePrefix(const std::string& name) {
    if (name.size() <= 8)
        return 0;
    int value = 0;
    for (std::size_t i = 0; i < 8 && name[i] >= '0' && name[i] <= '9'; ++i)
        value = value * 10 + (name[i] - '0');
    return value;
}

void ExchangeFiles::BackupExchangeFile(const std::string& name, const std::string& source, bool cleanUp) {
    std::time_t now = clock_.Now();
    std::string folder = log_.Folder();
    // Before the first TSR_Init there is no log folder: "/" + name would land in the root.
    if (!folder.empty()) {
        if (cleanUp) {
            int cutOff = CleanUpCutOff(clock_, now);
            for (const DirEntry& entry : fs_.List(folder, "*")) {
                int date = DatePrefix(entry.name);
                if (date > 0 && date < cutOff)
                    fs_.DeleteFile(folder + "/" + entry.name);
            }
        }
        fs_.CopyFile(source, folder + "/" + BackupName(clock_.LocalTime(now), name));
    }
    clock_.SleepMs(kBackupPauseMs);
}

std::string ExchangeFiles::StatusMessageText(const std::tm& utc, bool transferred) {
    char time[64];
    std::snprintf(time, sizeof time, "%sT%d:%d:%dGMT", Format("%Y-%m-%d", utc).c_str(), utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?> <JMF SenderID=\"Color Measurement System\" "
        "Version=\"1.3\" xmlns=\"";
    text += kJdfNamespace;
    text += "\" xmlns:qv=\"";
    text += kMeasurementNamespace;
    text += "\"> <Command ID=\"cmd.1\" Type=\"Resource\" Time=\"";
    text += time;
    text += "\"> <qv:command Transfer=\"";
    text += transferred ? "Successful Transfered" : "Not Transfered";
    text += "\" /> </Command> </JMF>";
    return text;
}

void ExchangeFiles::WriteStatusMessage(const std::string& path, bool transferred) {
    WriteWholeFile(path, StatusMessageText(clock_.UtcTime(clock_.Now()), transferred));
}

} // namespace tsr
