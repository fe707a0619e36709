#include "run/open_without_waiting.h"

#include <fcntl.h>

int open_without_waiting(int dir_fd, const char *path, int flags, mode_t mode) {
    int fd = openat(dir_fd, path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) return -1;
    int current = fcntl(fd, F_GETFL);
    if (current >= 0) fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
    return fd;
}
