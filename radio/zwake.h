#ifndef ZWAKE_H
#define ZWAKE_H

// Waking a thread that sleeps in poll(): an eventfd that other threads
// signal (a stop request, a changed word) and the sleeping thread clears.
// The radio link's threads wait on it together with their devices instead
// of polling them every millisecond.

#include <cstdint>

// A non-blocking eventfd, or -1 (logged) when none can be made; every
// function accepts -1 and then does nothing.
int zwake_create();
void zwake_destroy(int fd);
// Makes the descriptor readable until the next zwake_clear. Any thread.
void zwake_signal(int fd);
void zwake_clear(int fd);

// Waits until the descriptor is signalled or timeoutMs pass (-1: no
// limit); clears it. 1 when signalled, 0 on the time-out.
int zwake_wait(int fd, int timeoutMs);

// Monotonic clock in milliseconds.
int64_t zwake_now_ms();

// Milliseconds from now to a deadline on that clock, for poll(): 0 when it
// has passed, clamped to what poll() takes.
int zwake_until(int64_t deadlineMs, int64_t nowMs);

#endif
