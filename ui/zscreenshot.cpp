#include "ui/zscreenshot.h"

#include "app/zlog.h"
#include "app/zsystem.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

QString Screenshot::shootScreen()
{
    const QString name = QStringLiteral("sc_")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss-zzz"))
        + QStringLiteral(".bmp");
    const QString path = QDir(zsys::appDir()).filePath(name);
    QFile file(path);
    QScreen *screen = QGuiApplication::primaryScreen();
    bool ok = false;
    if (screen && file.open(QIODevice::WriteOnly)) {
        // The whole screen: 800 x 480 on the radio.
        const QRect g = screen->geometry();
        const QPixmap pix = screen->grabWindow(0, 0, 0, g.width(), g.height());
        ok = !pix.isNull() && pix.save(&file, "BMP");
        file.close();
    }
    if (ok) {
        qCInfo(logGui) << "screen shot sucessfull!," << QFileInfo(path);
        return path;
    }
    file.remove();
    qCWarning(logGui) << "screen shot failed!," << QFileInfo(path);
    return QString();
}
