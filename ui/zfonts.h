#ifndef ZFONTS_H
#define ZFONTS_H

#include <QString>

// The screens name the radio's own font families. Where one of them is not
// installed (a desktop, CI) the nearest family from the Debian font packages
// stands in, so text keeps its proportions instead of falling back to
// whatever the system's default happens to be.
class ZFonts
{
public:
    // Registers the substitutions once per process; cheap to call again.
    static void install();
    // The family that will actually draw text requested as `family`.
    static QString resolvedFamily(const QString &family);

    // The family that supplies the icon glyphs (private-use code points
    // from U+F000), "FontAwesome" unless changed.
    static QString iconFamily();
    static void setIconFamily(const QString &family);
    // Whether the icon family is installed: its font draws the glyph
    // U+F021. Without it the glyphs would come out as empty boxes.
    static bool iconFontAvailable();
};

#endif
