#include "radio/zwake.h"

#include "app/zlog.h"

#include <QDebug>

#include <cerrno>
#include <climits>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

int zwake_create()
{
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        qCWarning(logRig) << "can't create wake-up descriptor," << -errno;
    return fd;
}

void zwake_destroy(int fd)
{
    if (fd >= 0)
        close(fd);
}

void zwake_signal(int fd)
{
    if (fd < 0)
        return;
    const uint64_t one = 1;
    // EAGAIN means the counter is saturated: it is signalled already.
    while (write(fd, &one, sizeof(one)) < 0 && errno == EINTR)
        ;
}

void zwake_clear(int fd)
{
    if (fd < 0)
        return;
    uint64_t count;
    while (read(fd, &count, sizeof(count)) < 0 && errno == EINTR)
        ;
}

int zwake_wait(int fd, int timeoutMs)
{
    if (fd < 0) {
        // Nothing can wake us: a plain sleep, so a caller's loop keeps its pace.
        poll(nullptr, 0, timeoutMs < 0 ? 1000 : timeoutMs);
        return 0;
    }
    pollfd p = {fd, POLLIN, 0};
    int rc;
    do
        rc = poll(&p, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    if (rc > 0) {
        zwake_clear(fd);
        return 1;
    }
    return 0;
}

int64_t zwake_now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int zwake_until(int64_t deadlineMs, int64_t nowMs)
{
    const int64_t d = deadlineMs - nowMs;
    if (d <= 0)
        return 0;
    return d > INT_MAX ? INT_MAX : int(d);
}
