#include "app/zutilites.h"

#include <QFontMetrics>

int ZUtilites::autoFontSize(const QString &text, const QFont &font, int width)
{
    QFont f(font);
    int size = f.pointSize() > 0 ? f.pointSize() : 12;
    for (; size >= 8; --size) {
        f.setPointSize(size);
        const QFontMetrics fm(f);
        if (fm.boundingRect(text).width() * 1.05 < width - 2)
            return size;
    }
    return size;
}
