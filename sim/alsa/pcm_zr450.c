/*
 * ALSA external PCM "zr450": a sound card stand-in for development machines.
 *
 * The radio's "mixcapture" and "mixplayback" are a shared capture and a
 * mixing playback device on its codec. Off the radio this plugin plays them:
 * the stream runs by the monotonic clock like a card (the hardware pointer
 * advances at the sampling rate from the moment the stream starts, a timerfd
 * wakes pollers every period, a reader that falls a buffer behind or a
 * writer that lets the buffer run dry gets an xrun), and the audio itself is
 * exchanged with a peer process over the Unix socket named in the
 * configuration (wire format in zsimaudio_proto.h):
 *
 *   capture   receives the peer's audio into a small jitter buffer; the
 *             reader gets it one clock-paced period at a time, silence where
 *             the peer sent nothing (no peer: silence in real time);
 *   playback  keeps the written frames in its buffer and hands them to the
 *             peer as the clock plays them (no peer: discarded in real time).
 *
 * The peer can also make the card fail (every call then returns its errno)
 * or stall it (its clock stops: nothing becomes ready, a blocking read or
 * write waits until the peer lets it go on), as a broken codec would.
 *
 * Configuration:
 *   pcm.NAME {
 *       type zr450
 *       socket "/run/mixcapture.sock"  # system path; prefixed with $ZR450_SYSROOT
 *       rate 16000                     # optional, the only rate offered
 *       period_frames 1024             # optional, the only period size offered
 *       periods_min 2                  # optional
 *       periods_max 4                  # optional
 *   }
 * The stream is always S16_LE stereo, read/write interleaved.
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "sim/alsa/zsimaudio_proto.h"

/* Retry connecting to a missing peer at most this often. */
#define RECONNECT_NS 200000000ull

typedef struct {
    snd_pcm_ioplug_t io;
    char path[sizeof(((struct sockaddr_un *)0)->sun_path)];
    int sock;
    int timer_fd;
    uint64_t next_connect_ns;

    unsigned rate;
    snd_pcm_uframes_t period;
    snd_pcm_uframes_t buffer;
    snd_pcm_uframes_t avail_min;
    snd_pcm_uframes_t boundary;

    /* Frame counters since the last prepare: the clock position, the
     * application's position, and (playback) what the peer has been sent. */
    int running;
    uint64_t t0_ns;
    uint64_t hw;
    uint64_t appl;
    uint64_t sent;
    int fault;
    int stalled;
    uint64_t stall_ns; /* when the clock stopped */

    /* Playback: the device buffer (buffer frames, indexed by frame number
     * modulo its size). Capture: the jitter buffer fed by the peer. */
    int16_t *ring;
    size_t ring_frames;
    size_t feed_rd;
    size_t feed_len;
    int primed;

    unsigned char msg[ZSA_MAX_MSG_BYTES];
} zr450_t;

static uint64_t now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}

static uint64_t clock_frames(const zr450_t *z, uint64_t now)
{
    if (z->stalled)
        now = z->stall_ns;
    const uint64_t el = now > z->t0_ns ? now - z->t0_ns : 0;
    return el / 1000000000ull * z->rate + el % 1000000000ull * z->rate / 1000000000ull;
}

static int is_capture(const zr450_t *z)
{
    return z->io.stream == SND_PCM_STREAM_CAPTURE;
}

static void timer_update(zr450_t *z);

/* Stops or restarts the clock; a restarted clock goes on from where it
 * stopped. */
static void set_stall(zr450_t *z, int on)
{
    const uint64_t now = now_ns();
    if (on && !z->stalled) {
        z->stalled = 1;
        z->stall_ns = now;
    } else if (!on && z->stalled) {
        z->stalled = 0;
        if (now > z->stall_ns)
            z->t0_ns += now - z->stall_ns;
    }
}

static void peer_disconnect(zr450_t *z)
{
    if (z->sock >= 0)
        close(z->sock);
    z->sock = -1;
    if (z->fault || z->stalled) {
        z->fault = 0;
        set_stall(z, 0);
        timer_update(z);
    }
}

static void peer_connect(zr450_t *z)
{
    if (z->sock >= 0)
        return;
    const uint64_t now = now_ns();
    if (now < z->next_connect_ns)
        return;
    z->next_connect_ns = now + RECONNECT_NS;
    int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return;
    struct sockaddr_un sa;
    memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    memcpy(sa.sun_path, z->path, sizeof sa.sun_path);
    if (connect(s, (struct sockaddr *)&sa, sizeof sa) < 0) {
        close(s);
        return;
    }
    z->sock = s;
}

/* Capture jitter buffer: a cushion of one period of silence goes in front of
 * the first frames after the buffer ran dry, so the peer's and the reader's
 * scheduling jitter does not tear the audio. */
static void feed_push(zr450_t *z, const int16_t *frames, size_t n)
{
    if (!z->ring_frames)
        return;
    if (!z->primed) {
        static const int16_t zero[2] = {0, 0};
        z->primed = 1;
        for (snd_pcm_uframes_t i = 0; i < z->period; i++)
            feed_push(z, zero, 1);
    }
    for (size_t i = 0; i < n; i++) {
        if (z->feed_len == z->ring_frames) {
            z->feed_rd = (z->feed_rd + 1) % z->ring_frames;
            z->feed_len--;
        }
        const size_t w = (z->feed_rd + z->feed_len) % z->ring_frames;
        z->ring[2 * w] = frames[2 * i];
        z->ring[2 * w + 1] = frames[2 * i + 1];
        z->feed_len++;
    }
}

static void feed_drop(zr450_t *z, size_t n)
{
    if (n > z->feed_len)
        n = z->feed_len;
    z->feed_rd = z->ring_frames ? (z->feed_rd + n) % z->ring_frames : 0;
    z->feed_len -= n;
}

/* Takes every packet the peer has sent: audio for a running capture, faults
 * for either direction. */
static void peer_service(zr450_t *z)
{
    while (z->sock >= 0) {
        const ssize_t n = recv(z->sock, z->msg, sizeof z->msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                peer_disconnect(z);
            break;
        }
        if (n == 0) {
            peer_disconnect(z);
            break;
        }
        if ((size_t)n < ZSA_HEADER_BYTES)
            continue;
        zsa_header_t h;
        memcpy(&h, z->msg, sizeof h);
        if (h.type == ZSA_MSG_FAULT) {
            z->fault = h.count > 4095 ? EIO : (int)h.count;
            timer_update(z);
        } else if (h.type == ZSA_MSG_STALL) {
            set_stall(z, h.count != 0);
            timer_update(z);
        } else if (h.type == ZSA_MSG_AUDIO && is_capture(z) && z->running) {
            size_t frames = ((size_t)n - ZSA_HEADER_BYTES) / ZSA_FRAME_BYTES;
            if (h.count < frames)
                frames = h.count;
            int16_t buf[ZSA_MAX_FRAMES * ZSA_CHANNELS];
            memcpy(buf, z->msg + ZSA_HEADER_BYTES, frames * ZSA_FRAME_BYTES);
            feed_push(z, buf, frames);
        }
    }
    /* Keep the latency bounded. Beyond the frames the reader is already due
     * (the clock ran past them), the buffer holds the cushion and the peer's
     * head start of up to a period; more than another period on top means
     * the peer sent a burst, and the oldest frames go. */
    if (is_capture(z) && z->running) {
        const uint64_t due = clock_frames(z, now_ns()) - z->appl;
        if (z->feed_len > due + 3 * z->period)
            feed_drop(z, (size_t)(z->feed_len - due - 2 * z->period));
    }
}

/* Hands the frames the clock has played to the peer; without a peer, or
 * with a peer that has no room, they are dropped. */
static void playback_send(zr450_t *z)
{
    while (z->sent < z->hw) {
        const size_t pos = (size_t)(z->sent % z->buffer);
        size_t n = (size_t)(z->hw - z->sent);
        if (n > ZSA_MAX_FRAMES)
            n = ZSA_MAX_FRAMES;
        if (n > z->buffer - pos)
            n = z->buffer - pos;
        if (z->sock >= 0) {
            const zsa_header_t h = {ZSA_MSG_AUDIO, (uint32_t)n};
            memcpy(z->msg, &h, sizeof h);
            memcpy(z->msg + ZSA_HEADER_BYTES, z->ring + 2 * pos, n * ZSA_FRAME_BYTES);
            if (send(z->sock, z->msg, ZSA_HEADER_BYTES + n * ZSA_FRAME_BYTES,
                     MSG_DONTWAIT | MSG_NOSIGNAL) < 0
                && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                peer_disconnect(z);
        }
        z->sent += n;
    }
}

static snd_pcm_sframes_t wrap_position(const zr450_t *z)
{
    return z->boundary ? (snd_pcm_sframes_t)(z->hw % z->boundary) : 0;
}

static snd_pcm_sframes_t zr450_pointer(snd_pcm_ioplug_t *io)
{
    zr450_t *z = io->private_data;
    peer_service(z);
    peer_connect(z);
    if (z->fault)
        return -z->fault;
    if (!z->running)
        return wrap_position(z);
    uint64_t f = clock_frames(z, now_ns());
    if (is_capture(z)) {
        z->hw = f;
        /* A reader a whole buffer behind has lost audio: overrun. */
        if (f - z->appl >= z->buffer)
            return -EPIPE;
    } else {
        if (f >= z->appl) {
            f = z->appl;
            if (io->state != SND_PCM_STATE_DRAINING) {
                z->hw = f;
                playback_send(z);
                return -EPIPE; /* underrun: the buffer ran dry */
            }
        }
        z->hw = f;
        playback_send(z);
    }
    return wrap_position(z);
}

static snd_pcm_sframes_t zr450_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                        snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    zr450_t *z = io->private_data;
    int16_t *buf = (int16_t *)((char *)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8);
    if (is_capture(z)) {
        peer_service(z);
        snd_pcm_uframes_t have = size < z->feed_len ? size : z->feed_len;
        for (snd_pcm_uframes_t i = 0; i < have; i++) {
            const size_t r = (z->feed_rd + i) % z->ring_frames;
            buf[2 * i] = z->ring[2 * r];
            buf[2 * i + 1] = z->ring[2 * r + 1];
        }
        feed_drop(z, have);
        if (have < size) {
            memset(buf + 2 * have, 0, (size - have) * ZSA_FRAME_BYTES);
            z->primed = 0;
        }
    } else {
        for (snd_pcm_uframes_t i = 0; i < size; i++) {
            const size_t w = (size_t)((z->appl + i) % z->buffer);
            z->ring[2 * w] = buf[2 * i];
            z->ring[2 * w + 1] = buf[2 * i + 1];
        }
    }
    z->appl += size;
    return (snd_pcm_sframes_t)size;
}

/* The poll descriptor: ticks every period while the stream runs; while the
 * peer has declared the card dead it ticks every millisecond, so a waiter
 * learns of the failure at once, as from a real card's poll. */
static void timer_update(zr450_t *z)
{
    struct itimerspec its;
    int flags = 0;
    memset(&its, 0, sizeof its);
    if (z->fault) {
        its.it_value.tv_nsec = 1000000;
        its.it_interval.tv_nsec = 1000000;
    } else if (z->running && !z->stalled) {
        const uint64_t per = (uint64_t)z->period * 1000000000ull / z->rate;
        const uint64_t first = z->t0_ns + per;
        its.it_value.tv_sec = (time_t)(first / 1000000000ull);
        its.it_value.tv_nsec = (long)(first % 1000000000ull);
        its.it_interval.tv_sec = (time_t)(per / 1000000000ull);
        its.it_interval.tv_nsec = (long)(per % 1000000000ull);
        flags = TFD_TIMER_ABSTIME;
    }
    timerfd_settime(z->timer_fd, flags, &its, NULL);
}

static int zr450_start(snd_pcm_ioplug_t *io)
{
    zr450_t *z = io->private_data;
    peer_service(z);
    if (z->fault)
        return -z->fault;
    /* Audio the peer sent while nobody was recording is stale. */
    z->feed_rd = z->feed_len = 0;
    z->primed = 0;
    z->t0_ns = now_ns();
    if (z->stalled)
        z->stall_ns = z->t0_ns;
    z->running = 1;
    timer_update(z);
    return 0;
}

static int zr450_stop(snd_pcm_ioplug_t *io)
{
    zr450_t *z = io->private_data;
    z->running = 0;
    timer_update(z);
    return 0;
}

static int zr450_prepare(snd_pcm_ioplug_t *io)
{
    zr450_t *z = io->private_data;
    zr450_stop(io);
    z->hw = z->appl = z->sent = 0;
    z->feed_rd = z->feed_len = 0;
    z->primed = 0;
    z->next_connect_ns = 0;
    peer_connect(z);
    peer_service(z);
    return z->fault ? -z->fault : 0;
}

static int zr450_hw_params(snd_pcm_ioplug_t *io, snd_pcm_hw_params_t *params)
{
    zr450_t *z = io->private_data;
    (void)params;
    z->period = io->period_size;
    z->buffer = io->buffer_size;
    z->avail_min = z->period;
    /* The same boundary alsa-lib derives for its own pointers. */
    z->boundary = z->buffer;
    while (z->boundary * 2 <= LONG_MAX - z->buffer)
        z->boundary *= 2;
    free(z->ring);
    z->ring_frames = is_capture(z) ? z->buffer + 4 * z->period : z->buffer;
    z->ring = calloc(z->ring_frames, ZSA_FRAME_BYTES);
    z->feed_rd = z->feed_len = 0;
    if (!z->ring) {
        z->ring_frames = 0;
        return -ENOMEM;
    }
    return 0;
}

static int zr450_sw_params(snd_pcm_ioplug_t *io, snd_pcm_sw_params_t *params)
{
    zr450_t *z = io->private_data;
    snd_pcm_uframes_t v;
    if (snd_pcm_sw_params_get_avail_min(params, &v) == 0 && v > 0)
        z->avail_min = v;
    if (snd_pcm_sw_params_get_boundary(params, &v) == 0 && v > 0)
        z->boundary = v;
    return 0;
}

/* Readiness by the clock: the timerfd only says a period went by. */
static int zr450_poll_revents(snd_pcm_ioplug_t *io, struct pollfd *pfd, unsigned int nfds,
                              unsigned short *revents)
{
    zr450_t *z = io->private_data;
    uint64_t ticks;
    (void)pfd;
    (void)nfds;
    while (read(z->timer_fd, &ticks, sizeof ticks) > 0) {
    }
    const unsigned short ready = is_capture(z) ? POLLIN : POLLOUT;
    unsigned short ev = 0;
    if (z->fault || io->state == SND_PCM_STATE_XRUN) {
        ev = ready | POLLERR;
    } else if (z->running) {
        const uint64_t f = clock_frames(z, now_ns());
        if (is_capture(z)) {
            const uint64_t avail = f - z->appl;
            if (avail >= z->buffer)
                ev = ready | POLLERR;
            else if (avail >= z->avail_min)
                ev = ready;
        } else if (io->state == SND_PCM_STATE_DRAINING) {
            ev = ready; /* the drain loop re-reads the pointer on every tick */
        } else if (f >= z->appl) {
            ev = ready | POLLERR;
        } else if (z->buffer - (z->appl - f) >= z->avail_min) {
            ev = ready;
        }
    } else if (!is_capture(z)) {
        ev = ready;
    }
    *revents = ev;
    return 0;
}

static int zr450_close(snd_pcm_ioplug_t *io)
{
    zr450_t *z = io->private_data;
    peer_disconnect(z);
    if (z->timer_fd >= 0)
        close(z->timer_fd);
    free(z->ring);
    free(z);
    return 0;
}

static const snd_pcm_ioplug_callback_t zr450_callback = {
    .start = zr450_start,
    .stop = zr450_stop,
    .pointer = zr450_pointer,
    .transfer = zr450_transfer,
    .close = zr450_close,
    .hw_params = zr450_hw_params,
    .sw_params = zr450_sw_params,
    .prepare = zr450_prepare,
    .poll_revents = zr450_poll_revents,
};

static int config_uint(snd_config_t *n, const char *id, long lo, long hi, unsigned *out)
{
    long v;
    if (snd_config_get_integer(n, &v) < 0 || v < lo || v > hi) {
        SNDERR("zr450: %s must be an integer in %ld..%ld", id, lo, hi);
        return -EINVAL;
    }
    *out = (unsigned)v;
    return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(zr450)
{
    const char *socket_path = NULL;
    unsigned rate = 16000, period = 1024, periods_min = 2, periods_max = 4;
    snd_config_iterator_t i, next;
    int err;

    (void)root;
    snd_config_for_each(i, next, conf) {
        snd_config_t *n = snd_config_iterator_entry(i);
        const char *id;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint"))
            continue;
        if (!strcmp(id, "socket")) {
            if (snd_config_get_string(n, &socket_path) < 0) {
                SNDERR("zr450: socket must be a string");
                return -EINVAL;
            }
            continue;
        }
        if (!strcmp(id, "rate")) {
            if ((err = config_uint(n, id, 1000, 192000, &rate)) < 0)
                return err;
            continue;
        }
        if (!strcmp(id, "period_frames")) {
            if ((err = config_uint(n, id, 16, ZSA_MAX_FRAMES * 8, &period)) < 0)
                return err;
            continue;
        }
        if (!strcmp(id, "periods_min")) {
            if ((err = config_uint(n, id, 2, 64, &periods_min)) < 0)
                return err;
            continue;
        }
        if (!strcmp(id, "periods_max")) {
            if ((err = config_uint(n, id, 2, 64, &periods_max)) < 0)
                return err;
            continue;
        }
        SNDERR("zr450: unknown field %s", id);
        return -EINVAL;
    }
    if (!socket_path || socket_path[0] != '/') {
        SNDERR("zr450: socket must name an absolute system path");
        return -EINVAL;
    }
    if (periods_max < periods_min)
        periods_max = periods_min;

    zr450_t *z = calloc(1, sizeof *z);
    if (!z)
        return -ENOMEM;
    z->sock = -1;
    z->rate = rate;
    const char *sysroot = getenv("ZR450_SYSROOT");
    size_t rl = sysroot ? strlen(sysroot) : 0;
    while (rl > 0 && sysroot[rl - 1] == '/')
        rl--;
    const int len = snprintf(z->path, sizeof z->path, "%.*s%s", (int)rl, rl ? sysroot : "", socket_path);
    if (len < 0 || (size_t)len >= sizeof z->path) {
        SNDERR("zr450: socket path too long: %.*s%s", (int)rl, rl ? sysroot : "", socket_path);
        free(z);
        return -ENAMETOOLONG;
    }
    z->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (z->timer_fd < 0) {
        err = -errno;
        free(z);
        return err;
    }

    z->io.version = SND_PCM_IOPLUG_VERSION;
    z->io.name = "ZR450 sound card stand-in";
    z->io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC | SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
    z->io.poll_fd = z->timer_fd;
    z->io.poll_events = POLLIN;
    z->io.mmap_rw = 0;
    z->io.callback = &zr450_callback;
    z->io.private_data = z;
    err = snd_pcm_ioplug_create(&z->io, name, stream, mode);
    if (err < 0) {
        close(z->timer_fd);
        free(z);
        return err;
    }

    static const unsigned access_list[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned format_list[] = {SND_PCM_FORMAT_S16_LE};
    const unsigned period_bytes = period * ZSA_FRAME_BYTES;
    if ((err = snd_pcm_ioplug_set_param_list(&z->io, SND_PCM_IOPLUG_HW_ACCESS, 1, access_list)) < 0
        || (err = snd_pcm_ioplug_set_param_list(&z->io, SND_PCM_IOPLUG_HW_FORMAT, 1, format_list)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(&z->io, SND_PCM_IOPLUG_HW_CHANNELS, ZSA_CHANNELS,
                                                  ZSA_CHANNELS)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(&z->io, SND_PCM_IOPLUG_HW_RATE, rate, rate)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(&z->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, period_bytes,
                                                  period_bytes)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(&z->io, SND_PCM_IOPLUG_HW_PERIODS, periods_min,
                                                  periods_max)) < 0) {
        snd_pcm_ioplug_delete(&z->io);
        return err;
    }

    z->next_connect_ns = 0;
    peer_connect(z);
    *pcmp = z->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(zr450);
