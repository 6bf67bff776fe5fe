#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// The library session of one service command. TSR_Init empties the folders
// where the neighbours drop their files and writes the configuration back, so
// the session runs on a copy of the configuration whose incoming folders point
// into the copy's own temporary folder; the port is found as the library finds
// it for the original (TESSARO_SERIAL_DIR, else ports/COM<n> beside it).
class ServiceSession {
public:
    using EventPrinter = std::function<void(int unit, int code, int kind)>;

    ServiceSession() = default;
    ~ServiceSession();
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;

    // false with a reason when the configuration cannot be read or copied.
    bool Start(const std::filesystem::path& config, std::string& error);
    // A text of the library with the session's own folder shown as the
    // original configuration's folder, and a link named with its target.
    std::string AsTheOriginal(const std::string& text) const;
    // Events of the library's operations go here (on the calling thread).
    static void SetEventPrinter(EventPrinter printer);

    // The configuration's text with the incoming folders pointed at folder.
    static std::string SafeCopy(const std::string& text, const std::string& folder);

private:
    bool MakePrivateFolder(std::string& error);
    std::filesystem::path folder_;
    std::filesystem::path originalFolder_;
    bool started_ = false;
};
