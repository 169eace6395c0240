#ifndef ZSUPPLY_H
#define ZSUPPLY_H

// The supply watch of the operating screen, stepped once a second by the
// clock: the power-source check that sets the transmit-power limit and the
// backlight cap, and the low-battery shutdown.
//
// Power source: a change of the reported external-supply flag is held for
// five seconds, then applied (a flag that bounces while a plug is inserted
// applies once). The limits are also applied five seconds after start-up,
// whatever the supply, so the radio never starts with the limits of the
// supply it had when it was switched off.
//
// Low battery: ten consecutive seconds below 5 % start a thirty-second
// countdown on battery; external supply, a dead link, 7.3 V or more, or 5 %
// or more cancel it.

enum zsupply_state_t { ZSUPPLY_IDLE = 0, ZSUPPLY_HOLD = 1, ZSUPPLY_APPLY = 2 };

struct zsupply_t {
    int state = ZSUPPLY_HOLD; // the start-up application is pending
    int countdown = 5;
    bool extPower = true;     // the supply the limits were last set for
    int holdCounter = 10;     // seconds of low battery still to wait
    int shutdownCounter = 0;  // seconds into the countdown
};

// Power-source step with the reported flag. Returns 1 when the limits are
// to be applied now for z->extPower (external supply or battery), 0
// otherwise.
int zsupply_check_source(zsupply_t *z, bool reportedExt);

// Low-battery step. Returns -1 while no countdown runs, else the seconds
// left (29 down to 0); at 0 the radio is to power off.
int zsupply_check_battery(zsupply_t *z, int capacity, float vbat, bool linkValid);

#endif
