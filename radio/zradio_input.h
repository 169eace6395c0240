#ifndef ZRADIO_INPUT_H
#define ZRADIO_INPUT_H

// Front-panel input: the keys, encoders and PTT switch as Linux input
// devices "/dev/input/event0".."event4", and the hand-microphone keys from
// the frame trailer. The input thread turns them into key, wheel and
// ZRadioEvent events for the active window; the mode, tune-step and
// small-knob keys act on the parameter store directly.

#include <linux/input.h>

#include <atomic>
#include <cstdint>

class QKeyEvent;
class QObject;
class QWheelEvent;
struct zradio_t;

typedef void (*lpkey_cb_t)();

// One entry of the long-press table. Only the input thread runs timing();
// the callbacks are atomics so that a test may replace them while it runs.
struct lpkey_t {
    int code = 0;            // input key code; 0 disables the entry
    unsigned threshold = 0;  // input-loop passes for a long press
    unsigned count = 0;      // passes counted since the press
    uint8_t fired = 0;       // the long press was reported for this press
    uint8_t pressed = 0;
    uint8_t released = 0;
    std::atomic<lpkey_cb_t> onShort{nullptr}; // null: post event 1000
    std::atomic<lpkey_cb_t> onLong{nullptr};  // null: post event 1001

    // Advances the entry with the last input event (one call per pass).
    void timing(const struct input_event &ev);
    // Posts a ZRadioEvent of the type with the code to the active window.
    static void postUserEvent(int type, uint32_t code);
};

// Fills the 13-entry long-press table of the radio link.
void zradio_lpkeys_init(lpkey_t *table);

// The input thread (started by zradio_create). It sleeps in poll() on the
// five devices and its wake-up descriptor; while a key of the long-press
// table is being held it also wakes when that press would become long. A
// pass of the long-press table stands for 1 ms: on waking the thread runs
// the passes the time since the last one accounts for.
void *thread_input_admin(void *arg);

// Publishes the hand-microphone key word (the UART reader, from each frame
// trailer) and wakes the input thread when it changed.
void zradio_input_set_mic_key(zradio_t *radio, uint32_t code);

// Passes of the long-press table without new key input that can still
// change anything: the most any held entry needs until its long press
// (threshold - count + 1), 0 when no entry is counting.
unsigned zradio_lpkeys_pending(const lpkey_t *table, int count);

// Queue a heap event to the active window, which takes it; without an
// active window the event is dropped. Any thread.
void post_key_event(QKeyEvent *event);
void post_wheel_event(QWheelEvent *event);

// Power key: short press saves the settings and toggles the screen; long
// press saves them and powers the unit off. Input thread.
void _click_pwr();
void _longpress_pwr();
// The group keys: key-press Ctrl+1 .. Ctrl+6 with the text "^1" .. "^6".
void _click_gen();
void _click_app();
void _click_key();
void _click_msg();
void _click_dfn();
void _click_dfl();

// The relay object behind the posting functions; lives on the thread that
// created the radio link (the GUI thread).
QObject *zradio_input_relay_create();

// One pass worth of input handling, split out for tests: key and relative
// events as read from a device, and a change of the microphone key word.
// Input thread (or a test standing in for it).
void zradio_input_handle_event(zradio_t *radio, const struct input_event &ev);
// Returns 1 and fills ev with the synthetic front-panel key event when the
// microphone key change maps onto one (TUNE -> 209, X -> 207).
int zradio_input_handle_mic(zradio_t *radio, uint32_t current, struct input_event *ev);

#endif
