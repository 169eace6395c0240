#include "app/zrmisc.h"

#include "app/zsystem.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstdlib>
#include <ctime>

static void write_hwclocks()
{
    // Keep both hardware clocks in step with the new system time.
    zsys::run(QStringLiteral("hwclock -w -f /dev/rtc0"));
    zsys::run(QStringLiteral("hwclock -w -f /dev/rtc1"));
}

void zrmisc_set_date(int year, int month, int day)
{
    const QString cmd = QString::asprintf("date -s %04d-%02d-%02d", year, month, day);
    qDebug() << cmd;
    zsys::run(cmd);
    write_hwclocks();
}

void zrmisc_set_time_min_sec(int a, int b)
{
    const QString cmd = QString::asprintf("date -s %02d:%02d", a, b);
    qDebug() << cmd;
    zsys::run(cmd);
    write_hwclocks();
}

int zrmisc_set_utc_offset(int offset)
{
    const QString profile = QStringLiteral("/etc/profile");
    if (offset < -14 || offset > 12) {
        qDebug() << "ERROR:" << "invalid utc offset," << offset;
        return -EINVAL;
    }

    QFile in(zsys::path(profile));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "ERROR:" << "can't open" << profile;
        return -ENOENT;
    }
    QString text = QString::fromUtf8(in.readAll());
    in.close();
    if (text.isEmpty()) {
        qDebug() << "ERROR:" << profile << "is empty";
        return -ENODATA;
    }
    const int start = text.indexOf(QLatin1String("export TZ"));
    if (start < 0) {
        qDebug() << "ERROR:can't found environment variable \"TZ\"";
        return -ENOENT;
    }
    int end = text.indexOf(QLatin1Char('\n'), start);
    if (end < 0)
        end = text.size();
    const QString oldLine = text.mid(start, end - start);
    const QString zone = QString::asprintf("Etc/GMT%+2d", offset);
    text.replace(oldLine, QStringLiteral("export TZ=") + zone);

    // Written beside the profile and renamed over it, so a power cut leaves
    // either the old or the new profile, never a truncated one.
    QSaveFile out(zsys::path(profile));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qDebug() << "ERROR:" << "can't open" << profile;
        return -EACCES;
    }
    const QByteArray data = text.toUtf8();
    if (out.write(data) != data.size() || !out.commit()) {
        qDebug() << "ERROR:" << "can't write" << profile;
        out.cancelWriting();
        return -EIO;
    }

    zsys::run(QStringLiteral("sync"));
    zsys::run(QStringLiteral("source /etc/profile"));
    qputenv("TZ", zone.toLocal8Bit());
    tzset();
    QString oldZone = oldLine;
    oldZone.remove(0, QStringLiteral("export TZ=").size());
    qDebug() << "set timezone ok";
    qDebug() << "old:" << oldZone;
    qDebug() << "new:" << zone;
    return 0;
}
