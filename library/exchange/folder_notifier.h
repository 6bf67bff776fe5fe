#pragma once
#include <memory>
#include <string>
#include <vector>

namespace tsr {

// Lets the watcher sleep between passes until something changes in one of its
// folders (a file created, closed after writing, moved, deleted or touched)
// or until it is woken. Linux: inotify and an eventfd; Windows:
// ReadDirectoryChangesW and an event.
class FolderNotifier {
public:
    FolderNotifier();
    ~FolderNotifier();
    FolderNotifier(const FolderNotifier&) = delete;
    FolderNotifier& operator=(const FolderNotifier&) = delete;

    // Watches exactly these folders from now on. False when one of them could
    // not be watched (missing, no notifications): the caller then polls faster.
    bool WatchOnly(const std::vector<std::string>& folders);
    // Waits until a watched folder changed, Wake was called, or timeoutMs
    // passed; pending notifications are consumed. True unless it timed out.
    bool Wait(int timeoutMs);
    // Ends the current or the next Wait at once; callable from any thread.
    void Wake();

    // Whether the folder lies on a network or user-space file system (NFS,
    // SMB/CIFS, FUSE and the like), where writes from another machine raise
    // no notification: such folders are polled.
    static bool OnNetworkShare(const std::string& folder);

private:
    struct Impl; // the system's handles, in folder_notifier_<system>.cpp
    std::unique_ptr<Impl> impl_;
};

} // namespace tsr
