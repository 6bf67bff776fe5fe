#include "exchange/exchange_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "exchange/exchange_names.h"
#include "exchange/exchange_text.h"
#include "exchange/xml_entity_table.h"
#include "exchange/open_for_writing.h"
#include "log/activity_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace tsr {

namespace {

constexpr std::time_t kBackupKeepSeconds = 864000; // ten days
constexpr int kBackupPauseMs = 50;
constexpr int kMaxBackupNumber = 1000; // copies of one name in one second
constexpr int kLevel = 3;

// Windows refuses these in a file name; NTFS reads "a:b" as the stream b of a.
std::string LegalFileName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ':')
            continue;
        if (u < 32 || c == '<' || c == '>' || c == '"' || c == '/' || c == '\\' || c == '|' || c == '?' ||
            c == '*')
            out += '_';
        else
            out += c;
    }
    // nor may a name end in a blank or a dot
    while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
        out.back() = '_';
    return out;
}

std::string Format(const char* format, const std::tm& t) {
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, format, &t);
    return std::string(text, n);
}

} // namespace

ExchangeFiles::ExchangeFiles(FileSystem& fs, const Clock& clock, ActivityLog& log)
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
    return Format("%Y%m%d_%H%M%S_", local) + LegalFileName(name);
}

std::string ExchangeFiles::NumberedName(const std::string& name, int n) {
    if (n <= 1)
        return name;
    const std::size_t dot = name.rfind('.');
    const std::size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, at) + "-" + std::to_string(n) + name.substr(at);
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

std::string ExchangeFiles::BackupExchangeFile(const std::string& name, const std::string& source,
                                              bool cleanUp) {
    std::time_t now = clock_.Now();
    std::string folder = log_.Folder();
    std::string stored;
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
        const std::string base = BackupName(clock_.LocalTime(now), name);
        for (int n = 1; n <= kMaxBackupNumber && stored.empty(); ++n) {
            const std::string candidate = NumberedName(base, n);
            const std::string target = folder + "/" + candidate;
            if (fs_.Exists(target))
                continue;
            if (fs_.CopyFileAsNew(source, target))
                stored = candidate;
            else if (!fs_.Exists(target))
                break; // not a name taken meanwhile: the copy itself failed
        }
        if (stored.empty())
            log_.WriteText("backup failed: " + EscapeMarkup(base), kLevel);
    }
    clock_.SleepMs(kBackupPauseMs);
    return stored;
}

std::string ExchangeFiles::StatusMessageText(const std::tm& utc, bool transferred,
                                             const std::string& measurementNamespace) {
    char time[64];
    std::snprintf(time, sizeof time, "%sT%d:%d:%dGMT", Format("%Y-%m-%d", utc).c_str(), utc.tm_hour,
                  utc.tm_min, utc.tm_sec);
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?> <JMF SenderID=\"Color Measurement System\" "
        "Version=\"1.3\" xmlns=\"";
    text += kJdfNamespace;
    text += "\" xmlns:qv=\"";
    text += XmlEntityTable::Predefined().Encode(measurementNamespace);
    text += "\"> <Command ID=\"cmd.1\" Type=\"Resource\" Time=\"";
    text += time;
    text += "\"> <qv:command Transfer=\"";
    text += transferred ? "Successful Transfered" : "Not Transfered";
    text += "\" /> </Command> </JMF>";
    return text;
}

void ExchangeFiles::WriteStatusMessage(const std::string& path, bool transferred,
                                       const std::string& measurementNamespace) {
    WriteWholeFile(path, StatusMessageText(clock_.UtcTime(clock_.Now()), transferred, measurementNamespace));
}

} // namespace tsr
