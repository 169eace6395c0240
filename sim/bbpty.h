#ifndef BBPTY_H
#define BBPTY_H

#include <QString>
#include <termios.h>

// A pseudo-terminal for one of the board's serial lines: its far end is set
// raw (at `speed`, unless 0) and published as a symlink at linkPath, where
// the application opens it as if it were the device. Returns the master
// descriptor, or -1 with a message on stderr and nothing left open. With
// `slave` non-null the far end stays open there, so the line keeps its
// settings and never hangs up while nobody else holds it; otherwise it is
// closed once set up.
int bbpty_open(const QString &linkPath, speed_t speed, int *slave);

#endif
