// Kept apart from the other tests: <asm/termbits.h> clashes with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace mbslave::test {

bool systemHasTermios2(int fd) {
    termios2 settings{};
    return ioctl(fd, TCGETS2, &settings) == 0;
}

}  // namespace mbslave::test
