// Speeds without a B-constant go through termios2; its header clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace ComDevice {

int SetArbitraryBaud(int Handle, int32_t Baud)
{
    struct termios2 T;
    if (ioctl(Handle, TCGETS2, &T) != 0)
        return errno;
    T.c_cflag &= ~CBAUD;
    T.c_cflag |= BOTHER;
    T.c_ispeed = speed_t(Baud);
    T.c_ospeed = speed_t(Baud);
    return ioctl(Handle, TCSETS2, &T) == 0 ? 0 : errno;
}

} // namespace ComDevice
