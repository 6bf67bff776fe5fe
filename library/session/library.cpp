#include "session/library.h"

#include "log/create_folder_path.h"

namespace tsr {

Library& Library::Instance() {
    static Library library;
    return library;
}

Library::Library() : fs_(MakePosixFileSystem()), config_(*fs_), log_(clock_, *fs_) {
    units_.Reset();
    // ExchangeWatcher: both polling switches off, then start its thread.
}

Library::~Library() {
    // Serial channel: close the port here.
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

    const std::string logFolder = config_.PathLogs();
    log_.SetFolder(logFolder);
    CreateFolderPath(*fs_, logFolder, 0);
    CreateFolderPath(*fs_, logFolder + "/Memory", 0);
    log_.WriteText("init", 3);

    // Serial channel: close the port if it is open (as Destroy).

    hostWindow_ = hostWindow;
    events_.SetCallback(callback);
    reserved_ = reserved;

    EmptyIncomingFolders();

    // Serial channel: open the port named after "COM1" here; until it exists
    // the port counts as one that cannot be opened.
    events_.Emit(0, TSR_EVENT_PORT_CLOSED, TSR_KIND_UNIT);
    log_.WriteText("open serial", 3);
    return 0;
}

std::int32_t Library::Destroy() {
    PressGuard press(pressLock_);
    // Serial channel: close the port if it is open.
    return 0;
}

void Library::EmptyIncomingFolders() {
    const std::string folders[] = {config_.PathCommands(), config_.PathLoopKeysRCV(),
                                   config_.PathLoopScanRCV(), config_.PathPresetRCV()};
    for (const std::string& folder : folders)
        for (const DirEntry& entry : fs_->List(folder, "*.xml"))
            if (!entry.isFolder)
                fs_->DeleteFile(folder + "/" + entry.name);
}

} // namespace tsr
