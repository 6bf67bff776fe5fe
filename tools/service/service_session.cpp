#include "service_session.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "tessaro.h"

namespace fs = std::filesystem;

namespace {

ServiceSession::EventPrinter& Printer() {
    static ServiceSession::EventPrinter printer;
    return printer;
}

void TSR_CALL OnEvent(int32_t unit, int32_t code, int32_t kind) {
    if (Printer())
        Printer()(unit, code, kind);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The folders TSR_Init empties of *.xml files.
const char* const kIncomingKeys[] = {"PathCommands", "PathLoopKeysRCV", "PathLoopScanRCV", "PathPresetRCV"};

} // namespace

std::string ServiceSession::SafeCopy(const std::string& text, const std::string& folder) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string out;
    bool inGeneral = false;
    bool sawGeneral = false;
    auto incoming = [&]() {
        std::string block;
        for (const char* key : kIncomingKeys)
            block += std::string(key) + "=" + folder + "/" + key + "\r\n";
        return block;
    };
    for (const std::string& raw : lines) {
        std::string line = raw;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            // A byte order mark may stand before the first section.
            const std::string name = Lower(trimmed);
            inGeneral = name.find("[general]") != std::string::npos && !sawGeneral;
            out += line + "\r\n";
            if (inGeneral) {
                sawGeneral = true;
                out += incoming();
            }
            continue;
        }
        if (inGeneral) {
            const std::string key = Lower(Trim(line.substr(0, line.find('='))));
            bool replaced = false;
            for (const char* k : kIncomingKeys)
                replaced = replaced || (line.find('=') != std::string::npos && key == Lower(k));
            if (replaced)
                continue;
        }
        out += line + "\r\n";
    }
    if (!sawGeneral)
        out += "[GENERAL]\r\n" + incoming();
    return out;
}

// A new folder under the system's temporary folder that only this user can
// read: the configuration copied into it may name the shop's folders.
bool ServiceSession::MakePrivateFolder(std::string& error) {
    std::error_code ec;
    const fs::path temporary = fs::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder: " + ec.message();
        return false;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "tessaro-service-%08x", static_cast<unsigned>(random()));
        const fs::path folder = temporary / name;
        // create_directory is false for a name that exists: never reuse a folder someone else made.
        if (fs::create_directory(folder, ec)) {
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
            folder_ = folder;
            return true;
        }
        if (ec)
            break;
    }
    error = "no temporary folder in " + temporary.string() + (ec ? ": " + ec.message() : std::string());
    return false;
}

bool ServiceSession::Start(const fs::path& config, std::string& error) {
    std::ifstream in(config, std::ios::binary);
    if (!in) {
        error = config.string() + ": no configuration file there (give --config FILE)";
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!MakePrivateFolder(error))
        return false;
    const fs::path copy = folder_ / "Tessaro.ini";
    std::ofstream(copy, std::ios::binary) << SafeCopy(text.str(), folder_.string());
    // The same port as the library finds for the original configuration.
    std::error_code ec;
    originalFolder_ = fs::absolute(config, ec).parent_path();
    const fs::path ports = originalFolder_ / "ports";
    if (!std::getenv("TESSARO_SERIAL_DIR") && fs::exists(fs::symlink_status(ports, ec)))
        fs::create_directory_symlink(ports, folder_ / "ports", ec);
    TSR_Init(0, copy.string().c_str(), OnEvent, 0);
    started_ = true;
    return true;
}

std::string ServiceSession::AsTheOriginal(const std::string& text) const {
    const std::string ours = folder_.string();
    std::string out = text;
    if (ours.empty() || out.rfind(ours, 0) != 0)
        return out;
    out = originalFolder_.string() + out.substr(ours.size());
    // "<folder>/ports/COM1: reason": name the device the link points at.
    const std::string path = out.substr(0, out.find(": "));
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        const fs::path target = fs::read_symlink(path, ec);
        if (!ec)
            out += " (" + path + " is a link to " + target.string() + ")";
    }
    return out;
}

void ServiceSession::SetEventPrinter(EventPrinter printer) {
    Printer() = std::move(printer);
}

ServiceSession::~ServiceSession() {
    if (started_)
        TSR_Destroy();
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}
