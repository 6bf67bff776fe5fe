#include "platform/serial_port.h"

#include <cstdlib>

namespace tsr {

// COM n: the pipe <prefix>\COM<n> when TESSARO_SERIAL_DIR names a pipe prefix
// (the simulated console), else the port itself; \\.\ reaches every port
// number, also those from 10 on.
std::string SerialDevicePath(const std::string& name, int comNumber, const std::string& linkFolder) {
    (void)linkFolder; // ports are named by the system, not by links
    if (name.rfind("\\\\.\\pipe\\", 0) == 0)
        return name;
    if (comNumber <= 0)
        return std::string();
    const std::string com = "COM" + std::to_string(comNumber);
    if (const char* prefix = std::getenv("TESSARO_SERIAL_DIR"); prefix && *prefix)
        return std::string(prefix) + "\\" + com;
    return "\\\\.\\" + com;
}

} // namespace tsr
