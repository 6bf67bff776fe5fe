#include "exchange/folder_notifier.h"

#include "platform/win32_api.h"

#include <map>
#include <set>

namespace tsr {

namespace {

// Our own outgoing files are replaced by a move, so their temporary files
// show as names added, changed and renamed; removals matter too, as they
// leave the next request of a folder (the second scan) to be handled.
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                           FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                           FILE_NOTIFY_CHANGE_ATTRIBUTES;

// One watched folder: its handle and the outstanding ReadDirectoryChangesW.
class FolderWatch {
public:
    explicit FolderWatch(const std::string& folder)
        : folder_(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
          event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        armed_ = Arm();
    }
    ~FolderWatch() {
        if (folder_ != INVALID_HANDLE_VALUE) {
            ::CancelIo(folder_);
            if (armed_) {
                DWORD n = 0;
                ::GetOverlappedResult(folder_, &overlapped_, &n, TRUE);
            }
            ::CloseHandle(folder_);
        }
        if (event_)
            ::CloseHandle(event_);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool ok() const { return armed_; }
    HANDLE event() const { return event_; }

    // The changes that came are consumed (we only need to know that some
    // came, the pass looks at the folder itself); the next read is started.
    void Consume() {
        DWORD n = 0;
        if (armed_ && ::GetOverlappedResult(folder_, &overlapped_, &n, FALSE))
            armed_ = Arm();
        else if (::GetLastError() != ERROR_IO_INCOMPLETE)
            armed_ = false; // the folder went away
    }

private:
    bool Arm() {
        if (folder_ == INVALID_HANDLE_VALUE || !event_)
            return false;
        ::ResetEvent(event_);
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
        return ::ReadDirectoryChangesW(folder_, buffer_, sizeof buffer_, FALSE, kChanges, nullptr, &overlapped_,
                                       nullptr) != 0;
    }

    HANDLE folder_;
    HANDLE event_;
    OVERLAPPED overlapped_{};
    bool armed_ = false;
    alignas(DWORD) char buffer_[8192];
};

} // namespace

struct FolderNotifier::Impl {
    HANDLE wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::map<std::string, std::unique_ptr<FolderWatch>> watches;

    ~Impl() {
        watches.clear();
        if (wake)
            ::CloseHandle(wake);
    }
};

FolderNotifier::FolderNotifier() : impl_(std::make_unique<Impl>()) {}

FolderNotifier::~FolderNotifier() = default;

bool FolderNotifier::WatchOnly(const std::vector<std::string>& folders) {
    const std::set<std::string> wanted(folders.begin(), folders.end());
    auto& watches = impl_->watches;
    for (auto it = watches.begin(); it != watches.end();)
        it = wanted.count(it->first) ? std::next(it) : watches.erase(it);
    bool all = true;
    for (const std::string& folder : wanted) {
        if (folder.empty()) {
            all = false;
            continue;
        }
        auto found = watches.find(folder);
        // A watch that ended (the folder was removed) is made again: the name
        // may lead to a new folder now.
        if (found == watches.end() || !found->second->ok()) {
            auto watch = std::make_unique<FolderWatch>(folder);
            if (!watch->ok()) {
                watches.erase(folder);
                all = false;
                continue;
            }
            watches[folder] = std::move(watch);
        }
    }
    return all;
}

bool FolderNotifier::Wait(int timeoutMs) {
    std::vector<HANDLE> handles;
    std::vector<FolderWatch*> owners;
    if (impl_->wake) {
        handles.push_back(impl_->wake);
        owners.push_back(nullptr);
    }
    for (auto& [folder, watch] : impl_->watches) {
        if (watch->ok() && handles.size() < MAXIMUM_WAIT_OBJECTS) {
            handles.push_back(watch->event());
            owners.push_back(watch.get());
        }
    }
    if (handles.empty()) {
        ::Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
        return false;
    }
    const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                             static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    if (r >= WAIT_OBJECT_0 + handles.size())
        return false;
    // Pending notifications of every folder are consumed, as one pass sees them all.
    for (FolderWatch* watch : owners)
        if (watch && ::WaitForSingleObject(watch->event(), 0) == WAIT_OBJECT_0)
            watch->Consume();
    return true;
}

// Network drives and UNC paths: changes made from another machine are not
// always reported there.
bool FolderNotifier::OnNetworkShare(const std::string& folder) {
    if (folder.size() >= 2 && (folder[0] == '/' || folder[0] == '\\') && (folder[1] == '/' || folder[1] == '\\'))
        return true;
    char root[MAX_PATH] = {};
    if (!::GetVolumePathNameA(folder.c_str(), root, MAX_PATH))
        return false;
    return ::GetDriveTypeA(root) == DRIVE_REMOTE;
}

void FolderNotifier::Wake() {
    if (impl_->wake)
        ::SetEvent(impl_->wake);
}

} // namespace tsr
