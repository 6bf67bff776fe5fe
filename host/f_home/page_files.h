#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The files of the page folder that the bridge may serve.
class PageFiles {
public:
    // root must exist; it is taken with symbolic links resolved.
    explicit PageFiles(const std::filesystem::path& root);

    enum class Verdict { Ok, Forbidden, NotFound };
    struct Lookup {
        Verdict verdict = Verdict::NotFound;
        std::filesystem::path file;
    };

    // relative is the decoded request path below the page address ("" is
    // index.html). Only regular files inside the folder are found: "." and
    // ".." segments, backslashes, empty segments and zero bytes are forbidden,
    // and a link that leads out of the folder is not followed; folders are
    // never listed.
    Lookup Find(const std::string& relative) const;

    static std::string ContentType(const std::filesystem::path& file);

    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
};
