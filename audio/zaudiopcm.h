#ifndef ZAUDIOPCM_H
#define ZAUDIOPCM_H

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>

// One ALSA PCM stream, opened and configured at construction, with a buffer
// of one granted period of interleaved 16-bit samples. The owners read and
// write the handle directly (snd_pcm_readi / snd_pcm_writei).
//
// A stream that cannot be opened keeps a null handle; one whose configuration
// fails stays unconfigured (no period buffer). Either way the object exists
// and the failure is logged, and the owner's later calls fail and are logged.
struct zaudio_pcm_t {
    // period: the caller's period argument; the stream asks ALSA for a period
    // of channels * period * 2 frames and uses what ALSA grants. buffer: not
    // used, the ALSA buffer size stays the device's default.
    zaudio_pcm_t(const char *name, snd_pcm_stream_t stream, snd_pcm_format_t format, unsigned rate,
                 unsigned channels, snd_pcm_uframes_t period, snd_pcm_uframes_t buffer);
    ~zaudio_pcm_t();
    zaudio_pcm_t(const zaudio_pcm_t &) = delete;
    zaudio_pcm_t &operator=(const zaudio_pcm_t &) = delete;

    // Underrun/overrun recovery: re-prepares the stream. Always returns 0.
    static int xrun_recover(snd_pcm_t *handle, int err);

    char *name = nullptr;
    int16_t *buffer = nullptr;        // one granted period, interleaved
    snd_pcm_t *handle = nullptr;
    unsigned rate = 0;                // granted
    unsigned channels = 0;
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    size_t buffer_bytes = 0;
    snd_pcm_uframes_t period_frames = 0;   // granted by set_period_size_near
    snd_pcm_uframes_t period_reported = 0; // read back after snd_pcm_hw_params
};

#endif
