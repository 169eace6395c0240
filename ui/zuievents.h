#ifndef ZR_UI_ZUIEVENTS_H
#define ZR_UI_ZUIEVENTS_H

class QEvent;
class QWidget;

// Front-panel short and long presses (ZRadioEvent) go to the active
// window. A dialog in front of the main window passes them on to its
// parent with this, so the keys keep working while it is open. Returns
// whether the event was one of them.
bool zui_repost_radio_event(QWidget *target, const QEvent *event);

#endif
