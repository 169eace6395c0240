#ifndef ZR_UI_ZUIEVENTS_H
#define ZR_UI_ZUIEVENTS_H

class QEvent;
class QWidget;

// Front-panel short and long presses (ZRadioEvent) go to the active
// window. A dialog in front of the main window passes them on to its
// parent with this, so the keys keep working while it is open. Returns
// whether the event was one of them.
bool zui_repost_radio_event(QWidget *target, const QEvent *event);

// Front-panel keys and knobs go to the active window, so a screen that
// opens must become it, and the screen it was opened from must become it
// again when it closes. Some platforms do this themselves; without a window
// manager (a bare X display) nothing would. After this call (once, from the
// GUI thread; repeated calls do nothing) every dialog or window that is
// shown is activated, and a window that is hidden while active hands the
// activation to the nearest visible window it was opened from.
void zui_follow_window_activation();

#endif
