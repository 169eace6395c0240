#ifndef ZQRC_H
#define ZQRC_H

#include <QString>

class ZQRC
{
public:
    // Whole content of the file (normally a resource path) as Latin-1 text,
    // cut at the first zero byte; empty if it cannot be read.
    static QString getQssFromQrcFile(const QString &path);
};

#endif
