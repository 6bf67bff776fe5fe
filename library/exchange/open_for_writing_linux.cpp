#include "exchange/open_for_writing.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsr {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class Folder {
public:
    explicit Folder(const char* path) : dir_(::opendir(path)) {}
    ~Folder() {
        if (dir_)
            ::closedir(dir_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    DIR* get() const { return dir_; }

private:
    DIR* dir_;
};

bool IsNumber(const char* name) {
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// The access mode recorded in /proc/<pid>/fdinfo/<fd> ("flags:" in octal).
bool FdOpenForWriting(const std::string& fdinfo) {
    std::FILE* f = std::fopen(fdinfo.c_str(), "r");
    if (!f)
        return false;
    char line[128];
    bool writing = false;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long flags = 0;
        if (std::sscanf(line, "flags: %lo", &flags) == 1) {
            writing = (flags & O_ACCMODE) != O_RDONLY;
            break;
        }
    }
    std::fclose(f);
    return writing;
}

// Fallback where no lease can be taken (file of another user, file system
// without leases): look through every process's open descriptors.
bool AnyProcessWrites(const struct stat& target) {
    Folder proc("/proc");
    if (!proc.get())
        return false;
    while (dirent* p = ::readdir(proc.get())) {
        if (!IsNumber(p->d_name))
            continue;
        std::string fdFolder = std::string("/proc/") + p->d_name + "/fd";
        Folder fds(fdFolder.c_str());
        if (!fds.get())
            continue;
        while (dirent* d = ::readdir(fds.get())) {
            if (!IsNumber(d->d_name))
                continue;
            struct stat st;
            if (::stat((fdFolder + "/" + d->d_name).c_str(), &st) != 0)
                continue;
            if (st.st_dev == target.st_dev && st.st_ino == target.st_ino &&
                FdOpenForWriting(std::string("/proc/") + p->d_name + "/fdinfo/" + d->d_name))
                return true;
        }
    }
    return false;
}

} // namespace

// A read lease is refused (EAGAIN) exactly while someone has the file open
// for writing; it is granted and dropped at once otherwise.
bool HeldOpenForWriting(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0)
        return false;
    // A writer opening the file while we hold the lease would signal us; make
    // that an ignored signal rather than the default SIGIO.
    ::fcntl(fd.get(), F_SETSIG, SIGURG);
    if (::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return false;
    }
    if (errno == EAGAIN)
        return true;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return AnyProcessWrites(st);
}

} // namespace tsr
