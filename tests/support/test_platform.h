#pragma once
#include <memory>
#include <string>

// What tests need of the system that differs between POSIX and Windows.
namespace tsr::test {

// Sets an environment variable of this process; an existing value is kept
// unless replace is on.
void SetEnvironment(const std::string& name, const std::string& value, bool replace);

// Points TESSARO_SERIAL_DIR where no port is (unless it is set already), so
// that COM n reaches no real port of the machine.
void KeepOffRealPorts();

// A named pipe (FIFO) at path; false where folders cannot hold one (Windows).
bool MakeFifo(const std::string& path);

// True when file permissions keep nothing from this process (root).
bool PermissionsIgnored();
// Takes away (false) or gives back (true) the right to read the file.
bool SetReadable(const std::string& path, bool readable);

// A producer still writing a file: the file is created (or emptied), holds
// content and stays open for writing, as its writer would hold it (on
// Windows sharing reading only), until this object goes.
class HeldForWriting {
public:
    HeldForWriting(const std::string& path, const std::string& content);
    ~HeldForWriting();
    HeldForWriting(const HeldForWriting&) = delete;
    HeldForWriting& operator=(const HeldForWriting&) = delete;
    bool ok() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tsr::test
