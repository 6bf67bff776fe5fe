#include "session/library.h"

#include "log/create_folder_path.h"

#include <filesystem>

namespace tsr {

Library& Library::Instance() {
    static Library library;
    return library;
}

Library::Library()
    : fs_(MakeFileSystem()), config_(*fs_), log_(clock_, *fs_),
      protocol_(serial_, log_, config_, events_, clock_),
      setting_(protocol_, config_, log_, events_, units_, pressLock_),
      control_(protocol_, config_, log_, events_, pressLock_),
      memory_(config_, log_, *fs_, events_, pressLock_, protocol_, setting_),
      watcher_(config_, log_, *fs_, clock_, units_, events_, pressLock_, setting_, control_, xml_) {
    units_.Reset();
    // both polling switches are off until the host sets them
    watcher_.Start();
}

Library::~Library() {
    watcher_.Stop();
    ClosePort();
    log_.Close();
}

std::string Library::ConfigPath() const {
    std::lock_guard lock(sessionGuard_);
    return configPath_;
}

std::int32_t Library::Init(std::int32_t hostWindow, const std::string& configPath, TSR_EventCallback callback,
                           std::int32_t reserved) {
    PressGuard press(pressLock_);
    {
        std::lock_guard lock(sessionGuard_);
        configPath_ = configPath;
    }
    config_.Load(configPath);
    config_.SaveAll();

    // folders first: entries other threads write meanwhile still go to the old folder
    const std::string logFolder = config_.PathLogs();
    if (!logFolder.empty()) { // no log folder: "/Memory" would be made at the file system's root
        CreateFolderPath(*fs_, logFolder, 0);
        CreateFolderPath(*fs_, logFolder + "/Memory", 0);
    }
    log_.SetFolder(logFolder);
    log_.WriteText("init", 3);

    ClosePort();

    hostWindow_ = hostWindow;
    watcher_.SetActive(hostWindow != 0);
    events_.SetCallback(callback);
    reserved_ = reserved;

    watcher_.EmptyIncomingFolders();

    // ports/COM<n> beside the configuration file may name the device.
    const std::string configFolder = std::filesystem::path(configPath).parent_path().string();
    serial_.SetLinkFolder(configFolder.empty() && !configPath.empty() ? "." : configFolder);
    std::string error; // the channel's texts are not passed on
    const bool opened =
        serial_.Open(SerialChannel::PortName(config_.Com1()), 9600, "N", 8, 1, false, false, 8192, error);
    {
        std::lock_guard lock(sessionGuard_);
        portFailure_ = opened ? std::string() : serial_.OpenFailure();
    }
    if (!opened)
        events_.Emit(0, TSR_EVENT_PORT_CLOSED, TSR_KIND_UNIT);
    log_.WriteText("open serial", 3);
    return 0;
}

std::string Library::PortFailure() const {
    std::lock_guard lock(sessionGuard_);
    return portFailure_;
}

std::int32_t Library::Destroy() {
    PressGuard press(pressLock_);
    ClosePort();
    return 0;
}

void Library::ClosePort() {
    PressGuard press(pressLock_);
    // also lets go of a device that went away while open
    serial_.Close();
}

} // namespace tsr
