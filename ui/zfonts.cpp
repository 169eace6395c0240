#include "ui/zfonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QRawFont>
#include <QStringList>

void ZFonts::install()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Condensed sans for the large digits and scale labels, a monospace for
    // the frames; the icon font has no stand-in (its glyphs are private-use
    // code points), the package fonts-font-awesome provides it.
    const QStringList condensed = {QStringLiteral("DejaVu Sans Condensed"),
                                   QStringLiteral("DejaVu Sans"),
                                   QStringLiteral("Liberation Sans Narrow")};
    QFont::insertSubstitutions(QStringLiteral("Bahnschrift SemiBold SemiConden"), condensed);
    QFont::insertSubstitutions(QStringLiteral("Bahnschrift"), condensed);
    QFont::insertSubstitutions(QStringLiteral("Ubuntu Condensed"), condensed);
    QFont::insertSubstitutions(QStringLiteral("Ubuntu"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Ubuntu Mono"),
                               {QStringLiteral("DejaVu Sans Mono"),
                                QStringLiteral("Liberation Mono")});
    QFont::insertSubstitutions(QStringLiteral("FontAwesome"),
                               {QStringLiteral("Font Awesome 5 Free"),
                                QStringLiteral("Font Awesome 6 Free")});
}

QString ZFonts::resolvedFamily(const QString &family)
{
    install();
    return QFontInfo(QFont(family)).family();
}

static QString &iconFamilyName()
{
    static QString name = QStringLiteral("FontAwesome");
    return name;
}

QString ZFonts::iconFamily()
{
    return iconFamilyName();
}

void ZFonts::setIconFamily(const QString &family)
{
    iconFamilyName() = family;
}

bool ZFonts::iconFontAvailable()
{
    install();
    // A missing family resolves to some text font, which has no glyphs in
    // the private-use area (font metrics would look into the fallback
    // fonts too; the raw font is the resolved one alone).
    return QRawFont::fromFont(QFont(iconFamily(), 20)).supportsCharacter(0xF021u);
}
