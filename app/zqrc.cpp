#include "app/zqrc.h"

#include <QFile>

QString ZQRC::getQssFromQrcFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray data = file.readAll();
    const int zero = data.indexOf('\0');
    if (zero >= 0)
        data.truncate(zero);
    return QString::fromLatin1(data);
}
