#include "ui/zsupply.h"

int zsupply_check_source(zsupply_t *z, bool reportedExt)
{
    if (!z)
        return 0;
    switch (z->state) {
    case ZSUPPLY_IDLE:
        if (reportedExt != z->extPower) {
            z->extPower = reportedExt;
            z->countdown = 5;
            z->state = ZSUPPLY_HOLD;
        }
        return 0;
    case ZSUPPLY_HOLD:
        // A flag that changes back during the hold is followed at once; the
        // hold restarts only when the check is idle again.
        z->extPower = reportedExt;
        if (z->countdown > 0) {
            --z->countdown;
            return 0;
        }
        z->state = ZSUPPLY_APPLY;
        [[fallthrough]];
    default:
        z->extPower = reportedExt;
        z->state = ZSUPPLY_IDLE;
        return 1;
    }
}

int zsupply_check_battery(zsupply_t *z, int capacity, float vbat, bool linkValid)
{
    if (!z)
        return -1;
    if (capacity >= 5)
        z->holdCounter = 10;
    else if (z->holdCounter > 0)
        --z->holdCounter;
    if (z->extPower || !linkValid || vbat >= 7.3f)
        z->holdCounter = 10;
    if (z->holdCounter != 0) {
        z->shutdownCounter = 0;
        return -1;
    }
    if (z->shutdownCounter < 30)
        ++z->shutdownCounter;
    return 30 - z->shutdownCounter;
}
