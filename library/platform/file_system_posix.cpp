#include "platform/file_system.h"

#include "platform/path_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsr {
namespace {

// Owns one descriptor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ReadAll(int fd) {
    std::string content;
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            return content;
        content.append(chunk, static_cast<std::size_t>(n));
    }
}

// A descriptor of a regular file opened with flags, or -1. Opened without
// waiting: a named pipe under the name would otherwise hold the caller until
// its other end is opened. Later reads and writes block as usual.
int OpenRegularWithoutWaiting(const std::string& path, int flags, mode_t mode = 0) {
    Fd fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode));
    struct stat st {};
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const int current = ::fcntl(fd.get(), F_GETFL);
    if (current < 0 || ::fcntl(fd.get(), F_SETFL, current & ~O_NONBLOCK) != 0)
        return -1;
    return fd.release();
}

// Appending to a regular file, created if missing.
int OpenRegularForAppending(const std::string& path) {
    return OpenRegularWithoutWaiting(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
}

class PosixAppendFile final : public AppendFile {
public:
    PosixAppendFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    // O_APPEND makes each write land whole at the end; no user-space buffer
    // to flush, so the file is complete after every entry.
    void WriteAndFlush(const std::string& bytes) override {
        // A file deleted while open would swallow every later entry unseen:
        // make it again under its name (dropped while its folder is gone).
        struct stat st {};
        if (::fstat(fd_.get(), &st) == 0 && st.st_nlink == 0) {
            const int fd = OpenRegularForAppending(path_);
            if (fd < 0)
                return;
            fd_.reset(fd);
        }
        WriteAll(fd_.get(), bytes.data(), bytes.size());
    }

private:
    Fd fd_;
    std::string path_; // as opened
};

class PosixFileSystem final : public FileSystem {
public:
    std::string Resolve(const std::string& path) const override {
        const std::size_t root = !path.empty() && (path[0] == '/' || path[0] == '\\') ? 1 : 0;
        return ResolveLetterCase(path, root, [](const std::string& folder, const std::string& name) {
            struct stat st {};
            if (::lstat(JoinPath(folder, name).c_str(), &st) == 0)
                return name;
            return FindIgnoringCase(folder, name);
        });
    }

    bool Exists(const std::string& path) const override {
        struct stat st {};
        return ::stat(Resolve(path).c_str(), &st) == 0;
    }

    bool IsFolder(const std::string& path) const override {
        struct stat st {};
        return ::stat(Resolve(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    bool CreateFolder(const std::string& path) override {
        if (path.empty())
            return false;
        return ::mkdir(Resolve(path).c_str(), 0777) == 0;
    }

    std::vector<DirEntry> List(const std::string& folder, const std::string& pattern) const override {
        std::vector<DirEntry> entries;
        if (folder.empty())
            return entries;
        const std::string dir = Resolve(folder);
        DirPtr d(::opendir(dir.c_str()));
        if (!d)
            return entries;
        while (dirent* e = ::readdir(d.get())) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            if (!WildcardMatch(e->d_name, pattern.c_str()))
                continue;
            DirEntry entry;
            entry.name = e->d_name;
            struct stat st {};
            if (::stat(JoinPath(dir, entry.name).c_str(), &st) == 0) {
                entry.lastWrite = st.st_mtime;
                entry.size = static_cast<std::uint64_t>(st.st_size);
                entry.isFolder = S_ISDIR(st.st_mode);
            }
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    bool DeleteFile(const std::string& path) override { return ::unlink(Resolve(path).c_str()) == 0; }

    bool MoveFile(const std::string& from, const std::string& to) override {
        const std::string src = Resolve(from);
        const std::string dst = Resolve(to);
        if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EEXIST)
            return false;
        if (errno == EINVAL || errno == ENOSYS) { // file system without RENAME_NOREPLACE
            struct stat st {};
            if (::lstat(dst.c_str(), &st) == 0)
                return false;
            return ::rename(src.c_str(), dst.c_str()) == 0;
        }
        if (errno == EXDEV) { // another file system: copy, then remove the original
            struct stat st {};
            if (::lstat(dst.c_str(), &st) == 0)
                return false;
            std::optional<std::string> content = ReadFile(src);
            return content && Replace(dst, *content, true) && ::unlink(src.c_str()) == 0;
        }
        return false;
    }

    // Copies are backups of request files: replaced atomically like every
    // write, but not forced to disk, which would hold up the request for
    // milliseconds each time.
    bool CopyFile(const std::string& from, const std::string& to) override {
        std::optional<std::string> content = ReadFile(from);
        return content && Replace(to, *content, false);
    }

    // Written beside the target, then linked under its name, which fails
    // when the name is taken; file systems without hard links get a rename
    // that refuses to replace.
    bool CopyFileAsNew(const std::string& from, const std::string& to) override {
        std::optional<std::string> content = ReadFile(from);
        if (!content)
            return false;
        const std::string target = Resolve(to);
        std::optional<std::string> temp = WriteBeside(target, *content, false);
        if (!temp)
            return false;
        if (::link(temp->c_str(), target.c_str()) == 0) {
            ::unlink(temp->c_str());
            return true;
        }
        const bool taken = errno == EEXIST;
        if (!taken && (::renameat2(AT_FDCWD, temp->c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0))
            return true;
        ::unlink(temp->c_str());
        return false;
    }

    std::optional<std::string> ReadFile(const std::string& path) const override {
        Fd fd(OpenRegularForReading(Resolve(path)));
        if (!fd.ok())
            return std::nullopt;
        return ReadAll(fd.get());
    }

    // A producer that still has the file open for writing keeps us out: a read
    // lease is refused (EAGAIN) while any process holds the file open for
    // writing. Leases need ownership of the file (or CAP_LEASE) and a file
    // system that supports them; without them we fall back to a non-blocking
    // shared flock, which keeps out producers that hold an exclusive flock.
    std::optional<std::string> ReadExclusive(const std::string& path) const override {
        Fd fd(OpenRegularForReading(Resolve(path)));
        if (!fd.ok())
            return std::nullopt;
        // A writer opening the file while we hold the lease would signal us;
        // send an ignored signal to nobody instead of the default SIGIO.
        ::fcntl(fd.get(), F_SETSIG, SIGURG);
        if (::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
            ::fcntl(fd.get(), F_SETOWN, 0);
            std::optional<std::string> content = ReadAll(fd.get());
            ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
            return content;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::nullopt;
        if (::flock(fd.get(), LOCK_SH | LOCK_NB) != 0)
            return std::nullopt;
        std::optional<std::string> content = ReadAll(fd.get());
        ::flock(fd.get(), LOCK_UN);
        return content;
    }

    bool WriteAtomic(const std::string& path, const std::string& content) override {
        return Replace(path, content, true);
    }

    std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) override {
        std::string resolved = Resolve(path);
        int fd = OpenRegularForAppending(resolved);
        if (fd < 0)
            return nullptr;
        return std::make_unique<PosixAppendFile>(fd, std::move(resolved));
    }

private:
    // Written beside the target, then renamed over it; durable: flushed to disk first.
    bool Replace(const std::string& path, const std::string& content, bool durable) {
        const std::string target = Resolve(path);
        std::optional<std::string> temp = WriteBeside(target, content, durable);
        if (!temp)
            return false;
        if (::rename(temp->c_str(), target.c_str()) == 0)
            return true;
        ::unlink(temp->c_str());
        return false;
    }

    // The content in a new hidden file beside target (with target's mode
    // when it exists); its path, or nothing when it could not be written.
    static std::optional<std::string> WriteBeside(const std::string& target, const std::string& content,
                                                  bool durable) {
        const std::string prefix = TemporaryPrefixBeside(target);
        if (prefix.empty())
            return std::nullopt;
        std::string temp = prefix + "XXXXXX";
        Fd fd(::mkstemp(temp.data()));
        if (!fd.ok())
            return std::nullopt;
        mode_t mode = 0644;
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0)
            mode = st.st_mode & 07777;
        ::fchmod(fd.get(), mode);
        bool ok = WriteAll(fd.get(), content.data(), content.size()) && (!durable || ::fsync(fd.get()) == 0);
        ok = ::close(fd.release()) == 0 && ok;
        if (ok)
            return temp;
        ::unlink(temp.c_str());
        return std::nullopt;
    }

    static int OpenRegularForReading(const std::string& path) { return OpenRegularWithoutWaiting(path, O_RDONLY); }

    // The entry of folder whose name equals name ignoring case; empty if none.
    static std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
        DirPtr d(::opendir(folder.c_str()));
        if (!d)
            return {};
        while (dirent* e = ::readdir(d.get()))
            if (::strcasecmp(e->d_name, name.c_str()) == 0)
                return e->d_name;
        return {};
    }
};

} // namespace

std::unique_ptr<FileSystem> MakeFileSystem() {
    return std::make_unique<PosixFileSystem>();
}

} // namespace tsr
