#include "platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tsr {

namespace {

// A write that makes no progress for this long gives up with what went out.
constexpr int kWriteStallMs = 2000;

speed_t SpeedFor(int baud) {
    struct Rate {
        int baud;
        speed_t speed;
    };
    static const Rate rates[] = {{75, B75},         {110, B110},        {134, B134},       {150, B150},
                                 {200, B200},       {300, B300},        {600, B600},       {1200, B1200},
                                 {1800, B1800},     {2400, B2400},      {4800, B4800},     {9600, B9600},
                                 {19200, B19200},   {38400, B38400},    {57600, B57600},   {115200, B115200},
                                 {230400, B230400}, {460800, B460800},  {500000, B500000}, {576000, B576000},
                                 {921600, B921600}, {1000000, B1000000}};
    for (const Rate& r : rates)
        if (r.baud == baud)
            return r.speed;
    return B0;
}

bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

} // namespace

struct SerialPort::Impl {
    int fd = -1;
    bool lost = false;
    int lastError = 0;
    termios settings{};

    // A hang-up seen by poll or read ends the device for good.
    void MarkLost() { lost = true; }

    // poll for the given events; returns the revents, 0 on time-out, -1 on failure.
    int Poll(short events, int ms) {
        pollfd p{fd, events, 0};
        for (;;) {
            int r = ::poll(&p, 1, ms);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                lastError = errno;
                return -1;
            }
            if (r == 0)
                return 0;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
                MarkLost();
            return p.revents;
        }
    }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::Open(const std::string& device) {
    Close();
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        impl_->lastError = errno;
        return false;
    }
    // TIOCEXCL keeps other programs out (root passes it), the advisory lock
    // also catches programs that opened the device before us.
    if (::isatty(fd) && ::ioctl(fd, TIOCEXCL) != 0) {
        impl_->lastError = errno;
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // another program holds it: say so rather than "try again"
        impl_->lastError = errno == EWOULDBLOCK ? EBUSY : errno;
        if (::isatty(fd))
            ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    impl_->fd = fd;
    impl_->lost = false;
    return true;
}

bool SerialPort::ReadSettings() {
    if (!IsOpen())
        return false;
    if (::tcgetattr(impl_->fd, &impl_->settings) != 0) {
        impl_->lastError = errno;
        return false;
    }
    return true;
}

bool SerialPort::Apply(const LineSettings& s) {
    if (!IsOpen())
        return false;
    speed_t speed = SpeedFor(s.baud);
    if (speed == B0) {
        impl_->lastError = EINVAL;
        return false;
    }
    termios t = impl_->settings;
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    switch (s.parity) {
    case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
    case 'E':
        t.c_cflag |= PARENB;
        break;
    case 'M':
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (s.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (s.cts)
        t.c_cflag |= CRTSCTS;
    // Reads never block in the driver; waits are done with poll.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(impl_->fd, TCSANOW, &t) != 0) {
        impl_->lastError = errno;
        return false;
    }
    impl_->settings = t;
    return true;
}

bool SerialPort::SetQueueSizes(int bytes) {
    // The tty driver sizes its own queues.
    return IsOpen() && bytes > 0;
}

void SerialPort::Purge() {
    if (IsOpen())
        ::tcflush(impl_->fd, TCIOFLUSH);
}

void SerialPort::Close() {
    if (impl_->fd < 0)
        return;
    if (!impl_->lost) {
        ::tcflush(impl_->fd, TCIOFLUSH);
        ::ioctl(impl_->fd, TIOCNXCL);
    }
    ::flock(impl_->fd, LOCK_UN);
    ::close(impl_->fd);
    impl_->fd = -1;
    impl_->lost = false;
}

bool SerialPort::IsOpen() const {
    return impl_->fd >= 0 && !impl_->lost;
}

bool SerialPort::Lost() const {
    return impl_->lost;
}

int SerialPort::BytesWaiting() {
    if (!IsOpen())
        return -1;
    int n = 0;
    if (::ioctl(impl_->fd, FIONREAD, &n) != 0) {
        impl_->lastError = errno;
        if (DeviceGone(errno))
            impl_->MarkLost();
        return -1;
    }
    if (n == 0) {
        // An empty queue is also what a hung-up device shows; ask poll.
        impl_->Poll(POLLIN, 0);
        if (impl_->lost)
            return -1;
    }
    return n;
}

bool SerialPort::WaitForInput(int ms) {
    if (!IsOpen())
        return false;
    int r = impl_->Poll(POLLIN, ms < 0 ? 0 : ms);
    return r > 0 && !impl_->lost && (r & POLLIN);
}

SerialPort::ReadResult SerialPort::ReadByte(std::uint8_t& byte, int timeoutMs) {
    if (!IsOpen())
        return ReadResult::Failed;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ssize_t r = ::read(impl_->fd, &byte, 1);
        if (r == 1)
            return ReadResult::Byte;
        if (r == 0) {
            // A tty in raw, non-blocking mode reads 0 when empty; poll tells a hang-up apart.
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN) {
            impl_->lastError = errno;
            if (DeviceGone(errno))
                impl_->MarkLost();
            return ReadResult::Failed;
        }
        int waitMs = -1;
        if (timeoutMs > 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return ReadResult::TimedOut;
            waitMs = static_cast<int>(left);
        }
        int p = impl_->Poll(POLLIN, waitMs);
        if (p < 0 || impl_->lost)
            return ReadResult::Failed;
        if (p == 0)
            return ReadResult::TimedOut;
    }
}

bool SerialPort::Write(const std::uint8_t* bytes, int count, int& written) {
    written = 0;
    if (!IsOpen())
        return false;
    while (written < count) {
        ssize_t r = ::write(impl_->fd, bytes + written, static_cast<size_t>(count - written));
        if (r > 0) {
            written += static_cast<int>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN) {
            impl_->lastError = errno;
            if (DeviceGone(errno))
                impl_->MarkLost();
            return false;
        }
        int p = impl_->Poll(POLLOUT, kWriteStallMs);
        if (p < 0) {
            return false;
        }
        if (impl_->lost) {
            impl_->lastError = EIO;
            return false;
        }
        if (p == 0)
            return true; // stalled: the caller sees the short count
    }
    return true;
}

std::string SerialPort::LastErrorText() const {
    return std::strerror(impl_->lastError);
}

} // namespace tsr
