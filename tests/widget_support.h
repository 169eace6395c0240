#ifndef WIDGET_SUPPORT_H
#define WIDGET_SUPPORT_H

// Front-panel keys and knobs as the input thread posts them to a window,
// and deferred deletes, for the tests of windows, panels and dialogs.

#include <QCoreApplication>
#include <QKeyEvent>
#include <QString>
#include <QWheelEvent>
#include <QWidget>

namespace ztest {

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
// the tuning dial; the count is the encoder's (negative is one step on,
// down a list).
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

} // namespace ztest

#endif
