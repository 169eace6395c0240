#include "radio/user_i2c.h"

#include "app/zlog.h"

#include <QDebug>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <new>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

struct msg_t {
    uint16_t flags;
    uint16_t len;
    uint8_t *buf;
};

// A bus that stops answering must not stall the caller (who holds the
// register mutex) for long.
const int kSocketTimeoutMs = 1000;

int connect_socket(const char *path)
{
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof(sa.sun_path))
        return -ENAMETOOLONG;
    std::strcpy(sa.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -errno;
    timeval tv = {kSocketTimeoutMs / 1000, (kSocketTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0) {
        const int err = errno;
        close(fd);
        return -err;
    }
    return fd;
}

int send_all(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? -ETIMEDOUT : -errno;
        }
        p += w;
        n -= size_t(w);
    }
    return 0;
}

int recv_all(int fd, uint8_t *p, size_t n)
{
    while (n > 0) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN ? -ETIMEDOUT : -errno;
        }
        if (r == 0)
            return -ECONNRESET;
        p += r;
        n -= size_t(r);
    }
    return 0;
}

int xfer_socket(zradio_i2c_t *i2c, msg_t *msgs, int count)
{
    if (i2c->fd < 0) {
        // The bus socket closed earlier: the simulator may be back.
        const int fd = connect_socket(i2c->path);
        if (fd < 0)
            return fd;
        i2c->fd = fd;
    }
    std::vector<uint8_t> req = {'Z', 'I', uint8_t(count), 0};
    for (int i = 0; i < count; ++i) {
        const uint16_t f[3] = {i2c->address, msgs[i].flags, msgs[i].len};
        for (uint16_t v : f) {
            req.push_back(uint8_t(v));
            req.push_back(uint8_t(v >> 8));
        }
        if (!(msgs[i].flags & UI2C_FLAG_READ))
            req.insert(req.end(), msgs[i].buf, msgs[i].buf + msgs[i].len);
    }
    int rc = send_all(i2c->fd, req.data(), req.size());
    uint8_t hdr[4];
    if (rc == 0)
        rc = recv_all(i2c->fd, hdr, 4);
    if (rc == 0) {
        const int32_t result = int32_t(uint32_t(hdr[0]) | uint32_t(hdr[1]) << 8
                                       | uint32_t(hdr[2]) << 16 | uint32_t(hdr[3]) << 24);
        if (result < 0)
            return result < -4095 ? -EIO : result;
        for (int i = 0; i < count && rc == 0; ++i)
            if (msgs[i].flags & UI2C_FLAG_READ)
                rc = recv_all(i2c->fd, msgs[i].buf, msgs[i].len);
        if (rc == 0)
            return count;
    }
    // The stream is out of step now; start over on the next transfer.
    close(i2c->fd);
    i2c->fd = -1;
    return rc;
}

int xfer_kernel(zradio_i2c_t *i2c, msg_t *msgs, int count)
{
    i2c_msg km[UI2C_MAX_MSGS];
    for (int i = 0; i < count; ++i) {
        km[i].addr = i2c->address;
        km[i].flags = (msgs[i].flags & UI2C_FLAG_READ) ? I2C_M_RD : 0;
        km[i].len = msgs[i].len;
        km[i].buf = msgs[i].buf;
    }
    i2c_rdwr_ioctl_data data = {km, uint32_t(count)};
    const int rc = ioctl(i2c->fd, I2C_RDWR, &data);
    return rc < 0 ? -errno : rc;
}

int xfer(zradio_i2c_t *i2c, msg_t *msgs, int count)
{
    if (i2c->socket)
        return xfer_socket(i2c, msgs, count);
    if (i2c->fd < 0)
        return -EBADF;
    return xfer_kernel(i2c, msgs, count);
}

} // namespace

zradio_i2c_t *ui2c_create(const char *path, uint16_t address)
{
    if (!path)
        return nullptr;
    zradio_i2c_t *i2c = static_cast<zradio_i2c_t *>(std::calloc(1, sizeof(zradio_i2c_t)));
    if (!i2c || !(i2c->path = strdup(path))) {
        std::free(i2c);
        qCWarning(logRig) << "can't malloc zradio_i2c_t";
        return nullptr;
    }
    i2c->address = address;
    struct stat st;
    i2c->socket = stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
    const int fd = i2c->socket ? connect_socket(path) : open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = i2c->socket ? -fd : errno;
        qCWarning(logRig).noquote() << QString::asprintf("can't open %s,%d", path, err);
        std::free(i2c->path);
        std::free(i2c);
        return nullptr;
    }
    i2c->fd = fd;
    return i2c;
}

int ui2c_write(zradio_i2c_t *i2c, uint16_t reg, const void *data, uint32_t len)
{
    if (!i2c) {
        qCWarning(logRig) << "ui2c_write() invalid params";
        return -EINVAL;
    }
    if (!data)
        len = 0;
    if (len > UI2C_MAX_LEN - 2) {
        qCWarning(logRig) << "ui2c_write() invalid params, length" << len;
        return -EINVAL;
    }
    uint8_t *buf = new (std::nothrow) uint8_t[len + 2];
    if (!buf) {
        qCWarning(logRig) << "ui2c_write() out of memory";
        return -ENOMEM;
    }
    buf[0] = uint8_t(reg >> 8);
    buf[1] = uint8_t(reg);
    if (len)
        std::memcpy(buf + 2, data, len);
    msg_t m = {0, uint16_t(len + 2), buf};
    const int rc = xfer(i2c, &m, 1);
    if (rc < 0) {
        if (len == 4) {
            uint32_t word;
            std::memcpy(&word, buf + 2, 4);
            qCWarning(logRig).noquote() << "ui2c_write() ioctrl error," << rc
                                        << QString::asprintf("reg=0x%04X, data=0x%08X", reg, word);
        } else {
            qCWarning(logRig) << "ui2c_write() ioctrl error," << rc;
        }
    }
    delete[] buf;
    return rc < 0 ? rc : 0;
}

int ui2c_read(zradio_i2c_t *i2c, uint16_t reg, void *data, uint32_t len)
{
    if (!i2c || !data || len > UI2C_MAX_LEN) {
        qCWarning(logRig) << "ui2c_read() invalid params";
        return -EINVAL;
    }
    uint8_t addr[2] = {uint8_t(reg >> 8), uint8_t(reg)};
    msg_t w = {0, 2, addr};
    int rc = xfer(i2c, &w, 1);
    if (rc < 0) {
        qCWarning(logRig) << "ui2c_read() write offset error," << rc;
        return rc;
    }
    if (len == 0)
        return 0;
    msg_t r = {UI2C_FLAG_READ, uint16_t(len), static_cast<uint8_t *>(data)};
    rc = xfer(i2c, &r, 1);
    if (rc < 0) {
        qCWarning(logRig) << "ui2c_read() ioctrl error," << rc;
        return rc;
    }
    return 0;
}

void ui2c_destroy(zradio_i2c_t *i2c)
{
    if (!i2c)
        return;
    if (i2c->fd >= 0)
        close(i2c->fd);
    std::free(i2c->path);
    std::free(i2c);
}
