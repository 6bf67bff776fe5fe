#include "pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tsr::sim {

PtyPair::~PtyPair() {
    Close();
}

bool PtyPair::Create(std::string& error) {
    Close();
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error = std::strerror(errno);
        if (master >= 0)
            ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error = std::strerror(errno);
        ::close(master);
        return false;
    }
    // Raw from the start: no echo of the console's own replies back to it.
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    return true;
}

void PtyPair::Close() {
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

} // namespace tsr::sim
