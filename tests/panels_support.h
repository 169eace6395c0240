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

#include <functional>

class ZKeyboard;

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

// Places on the last row of the text keyboard.
const int kLayerKey = 36;
const int kCursorLeftKey = 45;
const int kNewLineKey = 47;

// Moves the highlight with the multi-function knob onto key i (forward,
// one step per event, as the knob turns) and presses Enter.
bool knobPress(ZKeyboard *kb, int i);

// Types text the way an operator does without touching the screen: knob
// and Enter for the keys, F1 for the case, F3 for spaces, the layer key
// for symbols.
bool knobType(ZKeyboard *kb, const QString &text);

// Runs f on the next on-screen keyboard once its modal loop runs; false
// from f or no keyboard within the bounded wait counts as a failure, which
// failedKeyboardSteps() reports.
void whenKeyboardOpens(const std::function<void(ZKeyboard *)> &f);
int failedKeyboardSteps();

} // namespace pantest

#endif
