#include "platform/serial_port.h"

#include <cstdlib>
#include <sys/stat.h>

namespace tsr {

// COM n: $TESSARO_SERIAL_DIR/COM<n>, else ports/COM<n> beside the
// configuration file when present, else /dev/ttyS<n-1>.
std::string SerialDevicePath(const std::string& name, int comNumber, const std::string& linkFolder) {
    if (!name.empty() && name[0] == '/')
        return name;
    if (comNumber <= 0)
        return std::string();
    const std::string com = "COM" + std::to_string(comNumber);
    if (const char* dir = std::getenv("TESSARO_SERIAL_DIR"))
        return std::string(dir) + "/" + com;
    if (!linkFolder.empty()) {
        const std::string link = linkFolder + "/ports/" + com;
        struct stat st {};
        if (::lstat(link.c_str(), &st) == 0)
            return link;
    }
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

} // namespace tsr
