#ifndef ZUTILITES_H
#define ZUTILITES_H

#include <QFont>
#include <QString>

class ZUtilites
{
public:
    // Largest point size, from the font's own size down, at which the text
    // fits: bounding width × 1.05 < width − 2; stops below 8 points.
    static int autoFontSize(const QString &text, const QFont &font, int width);
};

#endif
