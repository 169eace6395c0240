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
};

#endif
