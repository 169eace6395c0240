#include "sim/bbpty.h"

#include <QFile>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int bbpty_open(const QString &linkPath, speed_t speed, int *slave)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof(name)) != 0) {
        QTextStream(stderr) << "zr450-bbsim: cannot create a pseudo-terminal: " << strerror(errno) << "\n";
        if (master >= 0)
            close(master);
        return -1;
    }
    const int s = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        QTextStream(stderr) << "zr450-bbsim: cannot open " << name << "\n";
        close(master);
        return -1;
    }
    // Raw (no echo) until whoever opens the line sets it up itself.
    termios tio;
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        if (speed != 0) {
            cfsetispeed(&tio, speed);
            cfsetospeed(&tio, speed);
        }
        tcsetattr(s, TCSANOW, &tio);
    }
    QFile::remove(linkPath);
    if (!QFile::link(QString::fromLocal8Bit(name), linkPath)) {
        QTextStream(stderr) << "zr450-bbsim: cannot create the link " << linkPath << "\n";
        close(s);
        close(master);
        return -1;
    }
    if (slave)
        *slave = s;
    else
        close(s);
    return master;
}
