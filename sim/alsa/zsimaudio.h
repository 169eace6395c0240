#ifndef ZSIMAUDIO_H
#define ZSIMAUDIO_H

#include <cstddef>
#include <cstdint>

// The peer of the ALSA plugin "zr450" that plays "mixcapture" and
// "mixplayback" off the radio: the simulator (and tests) use it to be the
// radio's sound card. It listens on $SYSROOT/run/mixcapture.sock and
// $SYSROOT/run/mixplayback.sock (wire format in zsimaudio_proto.h) and runs
// one thread of its own; every function may be called from any thread.
//
// Receiver audio: zsimaudio_write_capture queues frames (interleaved S16
// stereo, 16 kHz); the peer hands them out in real time, the same frames to
// every open capture stream, so a writer may queue a burst or keep the queue
// topped up as it goes. While the queue is empty the streams capture silence.
// At most ZSIMAUDIO_MAX_QUEUED frames wait; the rest of a write is refused.
//
// Transmit audio: every open playback stream sends what the clock plays;
// streams playing at once are summed (a mixing device), each in the order it
// played: mixed frames are handed out once every stream that played in the
// last 150 ms has filled them. Playback frames wait until read, the oldest
// dropped beyond ZSIMAUDIO_MAX_QUEUED.

struct zsimaudio_t;

enum zsimaudio_dir_t { ZSIMAUDIO_CAPTURE = 0, ZSIMAUDIO_PLAYBACK = 1 };

constexpr size_t ZSIMAUDIO_RATE = 16000;
constexpr size_t ZSIMAUDIO_MAX_QUEUED = 10 * ZSIMAUDIO_RATE;

// Creates the sockets under sysroot (its run/ directory is made if needed)
// and starts the peer thread; nullptr (with a message on stderr) on failure.
zsimaudio_t *zsimaudio_create(const char *sysroot);
void zsimaudio_destroy(zsimaudio_t *z);

// Queues receiver audio; returns the frames accepted.
size_t zsimaudio_write_capture(zsimaudio_t *z, const int16_t *frames, size_t n);
// The same for mono samples in -1..1, put on both channels.
size_t zsimaudio_write_capture_mono(zsimaudio_t *z, const float *samples, size_t n);
// Frames queued and not yet handed out.
size_t zsimaudio_capture_queued(zsimaudio_t *z);

// Takes up to max frames of transmit audio (interleaved S16 stereo), waiting
// at most timeout_ms for the first; returns the frames copied.
size_t zsimaudio_read_playback(zsimaudio_t *z, int16_t *frames, size_t max, int timeout_ms);

// Open streams connected in the given direction.
int zsimaudio_clients(zsimaudio_t *z, zsimaudio_dir_t dir);
// Waits until at least n streams of the direction are connected.
bool zsimaudio_wait_clients(zsimaudio_t *z, zsimaudio_dir_t dir, int n, int timeout_ms);

// Makes the streams of a direction fail with errno err (a dead sound card),
// the open ones at once and later ones on connecting; 0 heals them.
void zsimaudio_set_fault(zsimaudio_t *z, zsimaudio_dir_t dir, int err);

// Stalls the streams of a direction (their clock stops, nothing becomes
// ready: a hung sound card), the open ones at once and later ones on
// connecting; false lets them run on.
void zsimaudio_set_stall(zsimaudio_t *z, zsimaudio_dir_t dir, bool on);

#endif
