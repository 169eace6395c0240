#include "audio/zaudio.h"
#include "app/zlog.h"

#include "audio/zaudiopcm.h"

#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<int> g_instances{0};

// After the device is declared dead the loop keeps trying, but slowly, so a
// missing card does not flood the log or spin a core. Slept in slices so a
// stop is still seen within 10 ms.
constexpr int kDeadRetryMs = 500;

void sleepUnlessStopped(const std::atomic<bool> &stop, int ms)
{
    for (int t = 0; t < ms && !stop.load(std::memory_order_acquire); t += 10)
        usleep(useconds_t(std::min(10, ms - t)) * 1000);
}

// Re-prepares a capture stream and starts it again: a prepared capture stream
// stays idle until started, and the loop's waits would otherwise time out.
void restartCapture(snd_pcm_t *h, int err)
{
    zaudio_pcm_t::xrun_recover(h, err);
    if (h)
        snd_pcm_start(h);
}

} // namespace

zaudio_t::zaudio_t(uint32_t blk, uint32_t fftsz)
    : block(blk ? blk : 1)
    , left(block)
    , right(block)
    , scope(kScopeSize)
    , fft_size(fftsz ? fftsz : 1)
    , fft_ring(fft_size)
    , window(fft_size)
    , fft_in(fft_size)
    , fft_out(fft_size)
    , mag(fft_size)
    , published(fft_size)
{
    acc.reserve(kAccLimit + 4 * size_t(block) * 4);
    playback = new zaudio_pcm_t("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    capture = new zaudio_pcm_t("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    // The capture thread must never block in a read: a stalled device would
    // otherwise hold up the stop flag (and so destruction) indefinitely.
    if (capture->handle)
        snd_pcm_nonblock(capture->handle, 1);
    for (uint32_t i = 0; i < fft_size; i++) {
        const float w = hamming(i, fft_size);
        window[i] = std::complex<float>(w, w);
    }
    plan = fft_create_plan(fft_size, fft_in.data(), fft_out.data(), LIQUID_FFT_FORWARD, 0);
    qCDebug(logAudio) << "zaudio_t" << static_cast<void *>(this) << " created.";
}

zaudio_t::~zaudio_t()
{
    stop.store(true, std::memory_order_release);
    usleep(10000);
    if (capture_started) {
        pthread_join(capture_thread, nullptr);
        qCDebug(logAudio) << "capture thread joined.";
    }
    if (play_started) {
        pthread_join(play_thread, nullptr);
        qCDebug(logAudio) << "play thread joined.";
    }
    delete capture;
    delete playback;
    if (plan)
        fft_destroy_plan(plan);
    qCDebug(logAudio) << "zaudio_t" << static_cast<void *>(this) << " destroyed.";
}

void *zaudio_t::thread_capture(void *arg)
{
    zaudio_t *z = static_cast<zaudio_t *>(arg);
    qCDebug(logAudio) << "capture thread created, id=" << long(syscall(SYS_gettid));
    snd_pcm_t *h = z->capture ? z->capture->handle : nullptr;
    if (h)
        snd_pcm_start(h);

    uint32_t fails = 0;
    while (!z->stop.load(std::memory_order_acquire)) {
        snd_pcm_sframes_t got;
        if (h && z->capture->buffer) {
            snd_pcm_wait(h, 1000);
            const snd_pcm_sframes_t avail = snd_pcm_avail(h);
            if (avail < 0) {
                z->err_count++;
                qCWarning(logAudio) << "pcm capture error, count =" << z->err_count << snd_strerror(int(avail));
                restartCapture(h, int(avail));
                fails++;
            }
            // Compared unsigned: after an error a whole period is asked for.
            const snd_pcm_uframes_t want =
                std::min<snd_pcm_uframes_t>(z->capture->buffer_bytes / 4, snd_pcm_uframes_t(avail));
            got = snd_pcm_readi(h, z->capture->buffer, want);
        } else {
            // No device, or one that could not be configured.
            got = -ENODEV;
        }

        if (got < 1) {
            if (got == -EPIPE) {
                qCWarning(logAudio) << "pcm capture error broken pipe.";
                restartCapture(h, int(got));
            } else {
                qCWarning(logAudio) << "pcm capture error." << snd_strerror(int(got));
            }
            fails++;
            if (fails > 10 && !z->capture_dead.load(std::memory_order_relaxed))
                z->capture_dead.store(true, std::memory_order_release);
        } else {
            z->push_frames(z->capture->buffer, size_t(got));
            fails = 0;
        }

        if (z->capture_dead.load(std::memory_order_relaxed) && fails > 0)
            sleepUnlessStopped(z->stop, kDeadRetryMs);
        else
            usleep(4000);
    }
    if (h)
        snd_pcm_drop(h);
    qCDebug(logAudio) << "capture thread exited.";
    return nullptr;
}

void zaudio_t::push_frames(const void *data, size_t frames)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    acc.insert(acc.end(), bytes, bytes + frames * 4);
    const size_t block_bytes = size_t(block) * 4;
    if (acc.size() >= block_bytes) {
        const int16_t *s = reinterpret_cast<const int16_t *>(acc.data());
        const float scale = 1.0f / 65536.0f;
        for (uint32_t i = 0; i < block; i++) {
            int16_t l, r;
            std::memcpy(&l, s + 2 * i, sizeof l);
            std::memcpy(&r, s + 2 * i + 1, sizeof r);
            left[i] = float(l) * scale;
            right[i] = float(r) * scale;
            if (!scope_ready.load(std::memory_order_acquire)) {
                scope[scope_idx] = left[i];
                scope_idx = (scope_idx + 1) % kScopeSize;
                if (scope_idx == 0)
                    scope_ready.store(true, std::memory_order_release);
            }
        }
        do_fft();
        acc.clear();
    }
    if (acc.size() >= kAccLimit) {
        qCWarning(logAudio) << "pcm capture buffer full.";
        acc.clear();
    }
}

void zaudio_t::do_fft()
{
    for (uint32_t i = 0; i < block; i++) {
        fft_ring[fft_idx] = std::complex<float>(left[i], 0.0f);
        fft_idx = (fft_idx + 1) % fft_size;
        if (fft_idx == 0)
            break;
    }
    if (fft_idx != 0)
        return;
    for (uint32_t k = fft_idx; k < fft_size; k++)
        fft_in[k] = std::complex<float>(fft_ring[k].real() * window[k].real(), 0.0f);
    fft_execute(plan);
    for (uint32_t k = 0; k < fft_size; k++) {
        const float m = std::abs(fft_out[k]);
        mag[k] = log_scale ? (m > 0.0f ? 20.0f * std::log10(m) : floor_db) : m;
    }
    if (!fft_ready.load(std::memory_order_acquire)) {
        std::copy(mag.begin(), mag.end(), published.begin());
        fft_ready.store(true, std::memory_order_release);
    }
}

ZAudio::ZAudio(QObject *parent)
    : QObject(parent)
{
    g_instances.fetch_add(1);
    m_audio = new zaudio_t(1024, 1024);
    qCDebug(logAudio) << "ZAudio:" << this << "zaudio_t:" << static_cast<void *>(m_audio);
    const int err = pthread_create(&m_audio->capture_thread, nullptr, zaudio_t::thread_capture, m_audio);
    if (err != 0)
        qCWarning(logAudio, "create capture thread error!,%d", err);
    else
        m_audio->capture_started = true;

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ZAudio::slot_timeOut);
    m_timer->start(50);
}

ZAudio::~ZAudio()
{
    m_timer->stop();
    delete m_audio;
    int n = g_instances.load();
    while (n > 0 && !g_instances.compare_exchange_weak(n, n - 1)) {
    }
}

int ZAudio::instances()
{
    return g_instances.load();
}

void ZAudio::slot_timeOut()
{
    zaudio_t *a = m_audio;
    if (a->fft_ready.load(std::memory_order_acquire)) {
        emit sig_fftReady(a->published.data(), int32_t(a->fft_size / 2));
        a->fft_ready.store(false, std::memory_order_release);
    }
    if (a->scope_ready.load(std::memory_order_acquire)) {
        emit sig_samReady(a->scope.data(), int32_t(zaudio_t::kScopeSize));
        a->scope_ready.store(false, std::memory_order_release);
    }
    if (a->capture_dead.load(std::memory_order_acquire) && !m_fatalReported) {
        qCWarning(logAudio) << "Warning: PCM capture is dead, app is going to reset...";
        m_fatalReported = true;
        emit sig_pcmFatalError(0);
    }
}
