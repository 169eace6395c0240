#ifndef PANELS_SUPPORT_H
#define PANELS_SUPPORT_H

// Shared helpers of the panel tests: the front-panel keys and knobs of
// tests/widget_support.h, screenshots of a panel (written when
// ZR450_PANEL_SHOTS names a directory) and the on-screen keyboard.

#include "tests/widget_support.h"

#include <QString>
#include <QWidget>

#include <functional>

class ZKeyboard;

namespace pantest {

using ztest::flushDeletes;
using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;

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
