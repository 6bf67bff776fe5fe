#include "platform/file_system.h"

#include "platform/path_text.h"
#include "platform/win32_api.h"

#include <algorithm>
#include <atomic>

namespace tsr {
namespace {

// Owns one handle.
class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (h_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::time_t ToTime(const FILETIME& ft) {
    ULARGE_INTEGER v{};
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    constexpr unsigned long long kEpochDifference = 116444736000000000ULL; // 1601 to 1970 in 100 ns
    if (v.QuadPart < kEpochDifference)
        return 0;
    return static_cast<std::time_t>((v.QuadPart - kEpochDifference) / 10000000ULL);
}

// A regular file opened with this access and share mode, or an invalid handle
// (missing, a folder, a device, refused by the share modes of its holders).
HANDLE OpenRegular(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    Handle h(::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.ok() || ::GetFileType(h.get()) != FILE_TYPE_DISK)
        return INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return INVALID_HANDLE_VALUE;
    return h.release();
}

std::optional<std::string> ReadAll(HANDLE h) {
    std::string content;
    char chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, chunk, sizeof chunk, &n, nullptr))
            return std::nullopt;
        if (n == 0)
            return content;
        content.append(chunk, n);
    }
}

bool WriteAll(HANDLE h, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

HANDLE OpenForAppending(const std::string& path) {
    return OpenRegular(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, kShareAll, OPEN_ALWAYS);
}

class Win32AppendFile final : public AppendFile {
public:
    Win32AppendFile(HANDLE h, std::string path) : file_(h), path_(std::move(path)) {}
    // FILE_APPEND_DATA makes each write land whole at the end; WriteFile
    // keeps no buffer of ours, so the file is complete after every entry.
    void WriteAndFlush(const std::string& bytes) override {
        // Deleted while we hold it (others may: FILE_SHARE_DELETE): the name
        // no longer opens (or the deletion waits for our handle). Let it go
        // and make the file again under its name.
        if (::GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
            file_.reset();
            file_.reset(OpenForAppending(path_));
        }
        if (file_.ok())
            WriteAll(file_.get(), bytes);
        else
            file_.reset(OpenForAppending(path_)); // the next entry tries again
    }

private:
    Handle file_;
    std::string path_;
};

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// The part of a path that names no entry of a folder: "C:/", "C:",
// "//server/share/" or "/"; 0 for a relative path.
std::size_t RootLength(const std::string& p) {
    if (p.size() >= 2 && p[1] == ':')
        return p.size() >= 3 && IsSeparator(p[2]) ? 3 : 2;
    if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        std::size_t i = 2;
        for (int part = 0; part < 2 && i < p.size(); ++part) { // server, then share
            while (i < p.size() && !IsSeparator(p[i]))
                ++i;
            if (i < p.size())
                ++i;
        }
        return i;
    }
    return !p.empty() && IsSeparator(p[0]) ? 1 : 0;
}

class Win32FileSystem final : public FileSystem {
public:
    // The system looks names up ignoring case itself; the names as stored
    // matter where a file is replaced (the new one takes the name given).
    std::string Resolve(const std::string& path) const override {
        return ResolveLetterCase(path, RootLength(path), [](const std::string& folder, const std::string& name) {
            if (name.find_first_of("*?") != std::string::npos)
                return std::string();
            WIN32_FIND_DATAA found{};
            HANDLE find = ::FindFirstFileA(JoinPath(folder, name).c_str(), &found);
            if (find == INVALID_HANDLE_VALUE)
                return std::string();
            ::FindClose(find);
            return std::string(found.cFileName);
        });
    }

    bool Exists(const std::string& path) const override {
        return !path.empty() && ::GetFileAttributesA(Resolve(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool IsFolder(const std::string& path) const override {
        if (path.empty())
            return false;
        const DWORD a = ::GetFileAttributesA(Resolve(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool CreateFolder(const std::string& path) override {
        return !path.empty() && ::CreateDirectoryA(Resolve(path).c_str(), nullptr);
    }

    // Every entry is listed and matched here: the system's own matching also
    // looks at short 8.3 names, so "*.xml" would find "job.xml~1" there.
    std::vector<DirEntry> List(const std::string& folder, const std::string& pattern) const override {
        std::vector<DirEntry> entries;
        if (folder.empty())
            return entries;
        const std::string query = JoinPath(Resolve(folder), "*");
        WIN32_FIND_DATAA found{};
        HANDLE find = ::FindFirstFileA(query.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return entries;
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == ".." || !WildcardMatch(name.c_str(), pattern.c_str()))
                continue;
            DirEntry entry;
            entry.name = name;
            entry.lastWrite = ToTime(found.ftLastWriteTime);
            entry.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entries.push_back(std::move(entry));
        } while (::FindNextFileA(find, &found));
        ::FindClose(find);
        return entries;
    }

    bool DeleteFile(const std::string& path) override { return ::DeleteFileA(Resolve(path).c_str()) != 0; }

    // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
    bool MoveFile(const std::string& from, const std::string& to) override {
        return ::MoveFileExA(Resolve(from).c_str(), Resolve(to).c_str(), MOVEFILE_COPY_ALLOWED) != 0;
    }

    // Copies are backups of request files: replaced atomically like every
    // write, but not forced to disk.
    bool CopyFile(const std::string& from, const std::string& to) override {
        std::optional<std::string> content = ReadFile(from);
        return content && Replace(to, *content, false);
    }

    // Moved into place without MOVEFILE_REPLACE_EXISTING: a name taken
    // meanwhile stays as it is, and the copy appears whole or not at all.
    bool CopyFileAsNew(const std::string& from, const std::string& to) override {
        std::optional<std::string> content = ReadFile(from);
        if (!content)
            return false;
        const std::string target = Resolve(to);
        std::optional<std::string> temp = WriteBeside(target, *content, false);
        if (!temp)
            return false;
        if (::MoveFileExA(temp->c_str(), target.c_str(), 0))
            return true;
        ::DeleteFileA(temp->c_str());
        return false;
    }

    std::optional<std::string> ReadFile(const std::string& path) const override {
        Handle h(OpenRegular(Resolve(path), GENERIC_READ, kShareAll, OPEN_EXISTING));
        if (!h.ok())
            return std::nullopt;
        return ReadAll(h.get());
    }

    // Share mode 0: the open fails while any other process holds the file,
    // above all its producer still writing it; nobody opens it meanwhile.
    std::optional<std::string> ReadExclusive(const std::string& path) const override {
        Handle h(OpenRegular(Resolve(path), GENERIC_READ, 0, OPEN_EXISTING));
        if (!h.ok())
            return std::nullopt;
        return ReadAll(h.get());
    }

    bool WriteAtomic(const std::string& path, const std::string& content) override {
        return Replace(path, content, true);
    }

    std::unique_ptr<AppendFile> OpenForAppend(const std::string& path) override {
        std::string resolved = Resolve(path);
        HANDLE h = OpenForAppending(resolved);
        if (h == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<Win32AppendFile>(h, std::move(resolved));
    }

private:
    // Written beside the target, then moved over it in one step; durable:
    // flushed to disk first and the move written through.
    bool Replace(const std::string& path, const std::string& content, bool durable) {
        const std::string target = Resolve(path);
        std::optional<std::string> temp = WriteBeside(target, content, durable);
        if (!temp)
            return false;
        const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
        if (::MoveFileExA(temp->c_str(), target.c_str(), flags))
            return true;
        ::DeleteFileA(temp->c_str());
        return false;
    }

    // The content in a new hidden file beside target; its path, or nothing
    // when it could not be written.
    static std::optional<std::string> WriteBeside(const std::string& target, const std::string& content,
                                                  bool durable) {
        const std::string prefix = TemporaryPrefixBeside(target);
        if (prefix.empty())
            return std::nullopt;
        static std::atomic<unsigned> counter{0};
        Handle h;
        std::string temp;
        for (int attempt = 0; attempt < 100 && !h.ok(); ++attempt) {
            temp = prefix + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1)) +
                   ".tmp";
            h.reset(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
            if (!h.ok() && ::GetLastError() != ERROR_FILE_EXISTS)
                return std::nullopt;
        }
        if (!h.ok())
            return std::nullopt;
        const bool ok = WriteAll(h.get(), content) && (!durable || ::FlushFileBuffers(h.get()));
        h.reset();
        if (ok)
            return temp;
        ::DeleteFileA(temp.c_str());
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<FileSystem> MakeFileSystem() {
    return std::make_unique<Win32FileSystem>();
}

} // namespace tsr
