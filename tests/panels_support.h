#ifndef PANELS_SUPPORT_H
#define PANELS_SUPPORT_H

// Shared helpers of the panel tests: front-panel keys and knobs as the
// input thread posts them, deferred deletes, and screenshots of a panel
// (written when ZR450_PANEL_SHOTS names a directory).

#include <QCoreApplication>
#include <QKeyEvent>
#include <QString>
#include <QWheelEvent>
#include <QWidget>

namespace pantest {

inline void sendKey(QWidget *w, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                    const QString &text = QString())
{
    QKeyEvent e(type, key, mods, text);
    QCoreApplication::sendEvent(w, &e);
}

// Press and release, as the front-panel keys F1 … F5 and Enter arrive.
inline void tapKey(QWidget *w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
                   const QString &text = QString())
{
    sendKey(w, QEvent::KeyPress, key, mods, text);
    sendKey(w, QEvent::KeyRelease, key, mods, text);
}

// One event of a knob: no modifier for the multi-function knob, Alt for
// the tuning dial; the count is the encoder's.
inline void turnKnob(QWidget *w, int delta, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWheelEvent e(QPointF(0, 0), QPointF(0, 0), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w, &e);
}

inline void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Saves w as name.png in $ZR450_PANEL_SHOTS, when that is set.
void saveShot(QWidget *w, const QString &name);

// True when the visible direct children of w lie
// inside it and no two of them overlap; `why` names the first offender.
bool childrenFitWithoutOverlap(QWidget *w, QString *why);

} // namespace pantest

#endif
