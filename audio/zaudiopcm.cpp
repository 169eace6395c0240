#include "audio/zaudiopcm.h"
#include "app/zlog.h"

#include <QDebug>

#include <cstdlib>
#include <cstring>

zaudio_pcm_t::zaudio_pcm_t(const char *devname, snd_pcm_stream_t stream, snd_pcm_format_t fmt,
                           unsigned req_rate, unsigned req_channels, snd_pcm_uframes_t period,
                           snd_pcm_uframes_t /*buffer: the device default is kept*/)
    : name(strdup(devname ? devname : ""))
    , rate(req_rate)
    , channels(req_channels)
    , format(fmt)
{
    snd_pcm_hw_params_t *hw = nullptr;
    int err;
    bool ok = false;

    if ((err = snd_pcm_hw_params_malloc(&hw)) < 0) {
        qCWarning(logAudio, "cannot alloc memory for hw params");
        goto done;
    }
    // Opened non-blocking so that a card held by another process fails here
    // instead of hanging the caller (the GUI thread, for the capture); the
    // stream itself then reads and writes blocking as usual.
    if ((err = snd_pcm_open(&handle, name, stream, SND_PCM_NONBLOCK)) < 0) {
        handle = nullptr;
        qCWarning(logAudio, "cannot open device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    snd_pcm_nonblock(handle, 0);
    if ((err = snd_pcm_hw_params_any(handle, hw)) < 0) {
        qCWarning(logAudio, "cannot get any hw_params for device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    if ((err = snd_pcm_hw_params_set_access(handle, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) {
        qCWarning(logAudio, "cannot set access mode for device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    if ((err = snd_pcm_hw_params_set_format(handle, hw, format)) < 0) {
        qCWarning(logAudio, "cannot set format for device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    if ((err = snd_pcm_hw_params_set_channels(handle, hw, channels)) < 0) {
        qCWarning(logAudio, "cannot set channel num for device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    {
        unsigned granted = req_rate;
        if ((err = snd_pcm_hw_params_set_rate_near(handle, hw, &granted, nullptr)) < 0) {
            qCWarning(logAudio, "cannot set sampling rate for device (%s), %s", name, snd_strerror(err));
            goto done;
        }
        if (granted != req_rate)
            qCWarning(logAudio, "Warning!Rate doesn't match (requested %uHz, get %iHz)", req_rate, int(granted));
        rate = granted;
    }
    {
        // The request is in frames although it was meant as a byte count;
        // devices with a fixed period (the radio's, and the stand-in) round
        // it to theirs, and the period read back below is what counts.
        const snd_pcm_uframes_t desired = snd_pcm_uframes_t(channels) * period * 2;
        snd_pcm_uframes_t frames = desired;
        int dir = 0;
        if ((err = snd_pcm_hw_params_set_period_size_near(handle, hw, &frames, &dir)) < 0) {
            qCWarning(logAudio, "cannot set periods for device (%s), %s", name, snd_strerror(err));
        } else {
            period_frames = frames;
            if (frames != desired)
                qCWarning(logAudio, "Warning,desired period_size=%li,actual period_size=%li,dir=%d", long(desired),
                       long(frames), dir);
        }
    }
    if ((err = snd_pcm_hw_params(handle, hw)) < 0) {
        qCWarning(logAudio, "cannot write hw params to device (%s), %s", name, snd_strerror(err));
        goto done;
    }
    {
        int dir = 0;
        snd_pcm_hw_params_get_period_size(hw, &period_reported, &dir);
        if (!period_frames)
            period_frames = period_reported;
        qCDebug(logAudio) << "buffer_size:" << period_reported;
        const int width = snd_pcm_format_physical_width(format);
        buffer_bytes = size_t(channels) * period_reported * size_t(width > 0 ? width / 8 : 2);
        buffer = static_cast<int16_t *>(calloc(1, buffer_bytes ? buffer_bytes : 1));
        if (!buffer)
            buffer_bytes = 0;
        ok = buffer != nullptr;
    }

done:
    if (hw)
        snd_pcm_hw_params_free(hw);
    if (ok)
        qCDebug(logAudio) << "zaudio_pcm:" << static_cast<void *>(this) << "created";
    else
        qCWarning(logAudio) << "zaudio_pcm:" << static_cast<void *>(this) << "cannot create";
}

zaudio_pcm_t::~zaudio_pcm_t()
{
    if (handle)
        snd_pcm_close(handle);
    free(name);
    free(buffer);
    qCDebug(logAudio) << "zaudio_pcm:" << static_cast<void *>(this) << "destroyed";
}

int zaudio_pcm_t::xrun_recover(snd_pcm_t *h, int /*err*/)
{
    if (!h)
        return 0;
    const int err = snd_pcm_prepare(h);
    if (err < 0)
        qCWarning(logAudio, "Can't recovery from underrun, prepare failed: %s", snd_strerror(err));
    return 0;
}
