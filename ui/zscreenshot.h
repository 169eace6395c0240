#ifndef ZSCREENSHOT_H
#define ZSCREENSHOT_H

#include <QString>

// Screenshots of the whole screen into the application directory.
class Screenshot
{
public:
    // Writes "sc_<yyyy-MM-dd-hh-mm-ss-zzz>.bmp" of the primary screen into
    // the application directory; returns the file's path, empty on failure.
    static QString shootScreen();
};

#endif
