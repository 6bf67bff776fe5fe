#include "exchange/folder_notifier.h"

#include <cerrno>
#include <cstdint>
#include <map>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

namespace tsr {

namespace {

// Our own outgoing files are replaced by rename, so their temporary files
// show as created, closed and moved; deletions and moves out matter too, as
// they leave the next request of a folder (the second scan) to be handled.
constexpr std::uint32_t kEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// statfs types of file systems whose content another machine (or a
// user-space server) changes without telling the local kernel.
constexpr unsigned long kShareTypes[] = {
    0x6969,     // NFS
    0x517B,     // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE (sshfs, davfs, ...)
    0x564C,     // NCP
    0x73757245, // Coda
    0x5346414F, // AFS
    0x6B414653, // kAFS
    0x00C36400, // Ceph
    0x01021997, // 9P
    0x0BD00BD0, // Lustre
    0x01161970, // GFS2
    0x7461636F, // OCFS2
    0x47504653, // GPFS
};

void SleepMs(int ms) {
    timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

} // namespace

struct FolderNotifier::Impl {
    int inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    int wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::map<std::string, int> watches_; // folder -> watch descriptor

    ~Impl() {
        if (inotify_ >= 0)
            ::close(inotify_);
        if (wake_ >= 0)
            ::close(wake_);
    }
    void Drain();
};

FolderNotifier::FolderNotifier() : impl_(std::make_unique<Impl>()) {}

FolderNotifier::~FolderNotifier() = default;

bool FolderNotifier::WatchOnly(const std::vector<std::string>& folders) {
    int& inotify_ = impl_->inotify_;
    std::map<std::string, int>& watches_ = impl_->watches_;
    if (inotify_ < 0)
        return folders.empty();
    std::set<std::string> wanted(folders.begin(), folders.end());
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (!wanted.count(it->first)) {
            ::inotify_rm_watch(inotify_, it->second);
            it = watches_.erase(it);
        } else {
            ++it;
        }
    }
    bool all = true;
    for (const std::string& folder : wanted) {
        if (folder.empty()) {
            all = false;
            continue;
        }
        // Adding again is cheap and also notices a folder that was removed and made anew.
        int wd = ::inotify_add_watch(inotify_, folder.c_str(), kEvents | IN_ONLYDIR);
        if (wd < 0) {
            watches_.erase(folder);
            all = false;
            continue;
        }
        auto old = watches_.find(folder);
        if (old != watches_.end() && old->second != wd)
            ::inotify_rm_watch(inotify_, old->second); // the name now leads to another folder
        watches_[folder] = wd;
    }
    return all;
}

void FolderNotifier::Impl::Drain() {
    alignas(inotify_event) char buffer[8192];
    if (inotify_ >= 0)
        while (::read(inotify_, buffer, sizeof buffer) > 0) {
        }
    std::uint64_t count = 0;
    if (wake_ >= 0)
        while (::read(wake_, &count, sizeof count) > 0) {
        }
}

bool FolderNotifier::Wait(int timeoutMs) {
    const int inotify_ = impl_->inotify_;
    const int wake_ = impl_->wake_;
    pollfd fds[2];
    nfds_t n = 0;
    if (inotify_ >= 0)
        fds[n++] = pollfd{inotify_, POLLIN, 0};
    if (wake_ >= 0)
        fds[n++] = pollfd{wake_, POLLIN, 0};
    if (n == 0) {
        SleepMs(timeoutMs);
        return false;
    }
    int ready = ::poll(fds, n, timeoutMs);
    if (ready > 0)
        impl_->Drain();
    return ready > 0;
}

bool FolderNotifier::OnNetworkShare(const std::string& folder) {
    if (folder.empty())
        return false;
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    const unsigned long type = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFUL;
    for (unsigned long share : kShareTypes)
        if (type == share)
            return true;
    return false;
}

void FolderNotifier::Wake() {
    const int wake_ = impl_->wake_;
    if (wake_ < 0)
        return;
    std::uint64_t one = 1;
    ssize_t written = ::write(wake_, &one, sizeof one);
    (void)written;
}

} // namespace tsr
