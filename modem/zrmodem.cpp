#include "modem/zrmodem.h"

#include "app/zlog.h"
#include "audio/zaudiopcm.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <time.h>
#include <unistd.h>

#define DECIM ((firdecim_crcf)m_decim)
#define LOWPASS ((firfilt_crcf)m_lowpass)

namespace {

constexpr double kTwoPi = 2.0 * M_PI;

// Longest single wait on a device: the stop flags are looked at in between.
constexpr int kWaitMs = 50;
// A playback that takes no frames for this long is given up for this pass.
constexpr int kWriteStallMs = 1000;
// Back-off after repeated device errors, so a dead card neither spins a
// core nor floods the log.
constexpr int kErrorBackoffMs = 200;
constexpr int kDeadBackoffMs = 1000;
// The transmit samples hold at most this many frames per pass.
constexpr unsigned kMaxHalfPeriod = 1024;

uint64_t nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

// Logs the first error of a run and then every 100th, so a failing device
// does not grow the log without bound.
bool shouldLog(unsigned count)
{
    return count == 1 || count % 100 == 0;
}

// Re-prepares a stream after an error; within a run of errors only the
// logged ones go through the wrapper's recovery (which logs a failure).
void recover(snd_pcm_t *h, int err, unsigned count)
{
    if (shouldLog(count))
        zaudio_pcm_t::xrun_recover(h, err);
    else
        snd_pcm_prepare(h);
}

} // namespace

// What the host does with the modems of one mode: one entry per Mode. A null
// step means the mode has none: CW has no modulator here (the Morse sender
// keys it). Every step tolerates a modem that refused its arguments.
struct ZRModemOps {
    const char *name;
    // Tuned to a pitch of its own (CW: the decoder's tone); the other modes
    // all follow fc together, so a mode change keeps the carrier.
    bool pitched;
    void (*tune)(ZRModem *m, float hz);
    void (*demodulate)(ZRModem *m, float *x, unsigned n);
    int (*getchar)(ZRModem *m, char *out);
    void (*post)(ZRModem *m, const QString &text);
    void (*modulate)(ZRModem *m, float *y, unsigned n);
    bool (*busy)(ZRModem *m);
    void (*stop)(ZRModem *m);
    void (*resetSent)(ZRModem *m);

    static void pskTune(ZRModem *m, float hz)
    {
        m->pskDem->setRXFrequency(hz);
        m->pskMod->SetCarrier(hz);
    }
    static void pskDemodulate(ZRModem *m, float *x, unsigned n) { m->pskDem->exec(x, int(n)); }
    static int pskGetchar(ZRModem *m, char *out) { return m->pskDem->getSingleChar(out); }
    static void pskPost(ZRModem *m, const QString &text) { m->pskMod->slot_modMsgReceiver(text); }
    static void pskModulate(ZRModem *m, float *y, unsigned n) { m->pskMod->exec(y, int(n)); }
    static bool pskBusy(ZRModem *m) { return m->pskMod->isActive(); }
    static void pskStop(ZRModem *m) { m->pskMod->slot_modStop(); }
    static void pskResetSent(ZRModem *m) { m->pskMod->resetSentCounter(); }

    static void rttyTune(ZRModem *m, float hz)
    {
        if (m->rttyDem)
            rtty_dem_set_fc(m->rttyDem, hz);
        if (m->rttyMod)
            rtty_mod_set_fc(m->rttyMod, hz);
    }
    static void rttyDemodulate(ZRModem *m, float *x, unsigned n)
    {
        if (m->rttyDem)
            rtty_dem_process(m->rttyDem, x, n);
    }
    static int rttyGetchar(ZRModem *m, char *out) { return m->rttyDem ? rtty_dem_getchar(m->rttyDem, out) : 0; }
    static void rttyPost(ZRModem *m, const QString &text)
    {
        if (!m->rttyMod)
            return;
        const QByteArray bytes = text.toLatin1();
        rtty_mod_post_message(m->rttyMod, bytes.constData(), bytes.size());
    }
    static void rttyModulate(ZRModem *m, float *y, unsigned n)
    {
        if (m->rttyMod)
            rtty_mod_process(m->rttyMod, y, n);
        else
            std::fill(y, y + n, 0.0f);
    }
    static bool rttyBusy(ZRModem *m) { return m->rttyMod && rtty_mod_is_active(m->rttyMod); }
    static void rttyStop(ZRModem *m)
    {
        if (m->rttyMod)
            rtty_mod_force_stop(m->rttyMod);
    }
    static void rttyResetSent(ZRModem *m)
    {
        if (m->rttyMod)
            rtty_mod_reset_sent_counter(m->rttyMod);
    }

    static void cwTune(ZRModem *m, float hz)
    {
        if (m->cwDem)
            cw_dem_set_cwtone(m->cwDem, hz);
    }
    static void cwDemodulate(ZRModem *m, float *x, unsigned n) { m->demodulateCw(x, n); }
    static int cwGetchar(ZRModem *m, char *out) { return m->cwDem ? cw_dem_getchar(m->cwDem, out) : 0; }
};

static const ZRModemOps kModes[ZRModem::ModeCount] = {
    {"BPSK", false, ZRModemOps::pskTune, ZRModemOps::pskDemodulate, ZRModemOps::pskGetchar,
     ZRModemOps::pskPost, ZRModemOps::pskModulate, ZRModemOps::pskBusy, ZRModemOps::pskStop,
     ZRModemOps::pskResetSent},
    {"RTTY", false, ZRModemOps::rttyTune, ZRModemOps::rttyDemodulate, ZRModemOps::rttyGetchar,
     ZRModemOps::rttyPost, ZRModemOps::rttyModulate, ZRModemOps::rttyBusy, ZRModemOps::rttyStop,
     ZRModemOps::rttyResetSent},
    {"CW", true, ZRModemOps::cwTune, ZRModemOps::cwDemodulate, ZRModemOps::cwGetchar,
     nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ZRModemOps *ZRModem::ops(int m)
{
    return m >= 0 && m < ModeCount ? &kModes[m] : nullptr;
}

ZRModem::ZRModem(float fc_, uint32_t fs_, uint32_t N_)
    : trackedFc(fc_)
    , N(N_ ? N_ : 1024)
    , fs(fs_ ? fs_ : 16000)
    , m_fc(fc_)
    , m_prevMode(INT_MAX)
    , m_rx(N)
    , m_modPrevMode(INT_MAX)
    , m_tx(kMaxHalfPeriod)
{
    m_acc.reserve(size_t(11) * N * 2);

    capture = new zaudio_pcm_t("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, fs, 2, 1024, 0);
    playback = new zaudio_pcm_t("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, fs, 2, 1024, 0);
    for (zaudio_pcm_t *p : {capture, playback}) {
        if (!p->handle)
            continue;
        // Both threads wait on the devices with time limits of their own; a
        // blocking read or write on a stalled card would never see a stop flag.
        snd_pcm_nonblock(p->handle, 1);
        if (p->buffer && p->rate != fs)
            qCWarning(logModem, "zrmodem: %s runs at %u Hz, the modems at %u Hz", p->name, p->rate, fs);
    }

    cwDem = cw_dem_create(float(fs), 800.0f);
    rttyDem = rtty_dem_create(float(fs), 1000.0f, N);
    pskDem = new ZModemPSKDem(nullptr, float(fs), 1000.0f);
    rttyMod = rtty_mod_create(float(fs), 1000.0f, N);
    pskMod = new ZModemPSKMod(nullptr, float(fs), 1000.0f);
    if (!cwDem || !rttyDem || !pskDem->handle() || !rttyMod || !pskMod->handle())
        qCWarning(logModem, "zrmodem: a modem refused %u Hz; its mode stays silent", fs);

    m_decim = firdecim_crcf_create_kaiser(kDecim, 8, 60.0f);
    firdecim_crcf_set_scale(DECIM, 1.0f / kDecim);
    m_lowpass = firfilt_crcf_create_kaiser(60, 0.05f, 60.0f, 0.0f);
    firfilt_crcf_set_scale(LOWPASS, 0.1f);

    qCDebug(logModem, ) << "zrmodem:" << static_cast<void *>(this) << "created";
}

ZRModem::~ZRModem()
{
    demStop.store(1, std::memory_order_release);
    usleep(10000);
    if (demStarted) {
        void *res = nullptr;
        pthread_join(demThread, &res);
        qCDebug(logModem, ) << "dem thread joined." << res;
        demStarted = false;
    }
    modStop.store(1, std::memory_order_release);
    usleep(10000);
    if (modStarted) {
        void *res = nullptr;
        pthread_join(modThread, &res);
        qCDebug(logModem, ) << "mod thread joined." << res;
        modStarted = false;
    }
    delete capture;
    delete playback;
    cw_dem_destroy(cwDem);
    rtty_dem_destroy(rttyDem);
    rtty_mod_destroy(rttyMod);
    firdecim_crcf_destroy(DECIM);
    firfilt_crcf_destroy(LOWPASS);
    delete pskDem;
    delete pskMod;
    qCDebug(logModem, ) << "zrmodem:" << static_cast<void *>(this) << "destroyed";
}

int ZRModem::start()
{
    auto startOne = [this](pthread_t &thread, bool &started, void *(*body)(void *), const char *name) {
        if (started)
            return 0;
        const int err = pthread_create(&thread, nullptr, body, this);
        if (err != 0)
            qCDebug(logModem, "create ZRModem::%s error!,%d", name, err);
        started = err == 0;
        return err;
    };
    const int dem = startOne(demThread, demStarted, thread_dem, "thread_dem");
    const int mod = startOne(modThread, modStarted, thread_mod, "thread_mod");
    return dem ? dem : mod;
}

void ZRModem::setFc(float f)
{
    m_fc.store(f, std::memory_order_relaxed);
    const double step = double(f) * kTwoPi / double(fs);
    m_ncoBase.store(step, std::memory_order_relaxed);
    const ZRModemOps *cur = ops(mode.load(std::memory_order_relaxed));
    if (cur && cur->pitched) {
        cur->tune(this, f);
        return;
    }
    for (const ZRModemOps &o : kModes)
        if (!o.pitched)
            o.tune(this, f);
    qCDebug(logModem) << "new lo phase=" << step;
}

QString ZRModem::modeName(int m)
{
    const ZRModemOps *o = ops(m);
    return QString::fromLatin1(o ? o->name : "UNKNOWN");
}

void ZRModem::setTransmitFlag(uint8_t on)
{
    // The post count goes up before the flag: the modulator thread compares
    // it across its end-of-transmission step (modStep).
    if (on)
        m_txPosts.fetch_add(1);
    m_txFlag.store(on ? 1 : 0);
}

bool ZRModem::postText(const QString &text)
{
    if (text.isEmpty())
        return false;
    const ZRModemOps *o = ops(mode.load(std::memory_order_relaxed));
    if (!o || !o->post)
        return false;
    o->post(this, text);
    setTransmitFlag(1);
    return true;
}

uint8_t ZRModem::trxState() const
{
    return transmitFlag() && mode.load(std::memory_order_relaxed) != ModeCW ? 1 : 0;
}

int ZRModem::getChar(char *out)
{
    const ZRModemOps *o = ops(mode.load(std::memory_order_relaxed));
    return o ? o->getchar(this, out) : 0;
}

// ---------------------------------------------------------------------------
// Receive side (demodulator thread)

// Per sample only the oscillator and the mixing run here; the filters, the
// level, the squelch and the loop run at the decimated rate.
inline void ZRModem::track(float x)
{
    m_ncoPhase += m_ncoBase.load(std::memory_order_relaxed) + m_ncoOffset;
    if (m_ncoPhase > kTwoPi)
        m_ncoPhase -= kTwoPi;
    const float s = float(std::sin(m_ncoPhase)), c = float(std::cos(m_ncoPhase));
    m_decIn[m_decFill++] = std::complex<float>(x * s, x * c);
    if (m_decFill < kDecim)
        return;
    m_decFill = 0;
    std::complex<float> d;
    firdecim_crcf_execute(DECIM, m_decIn, &d);
    std::complex<float> y;
    firfilt_crcf_push(LOWPASS, d);
    firfilt_crcf_execute(LOWPASS, &y);
    trackDecimated(y);
}

void ZRModem::trackDecimated(std::complex<float> y)
{
    // Level: fast attack, slow release.
    const float u = std::min(std::abs(y) * 0.1f, 100.0f);
    if (m_level < u)
        m_level = kLevelAttack * u + (1.0f - kLevelAttack) * m_level;
    else if (m_level > u)
        m_level = kLevelRelease * u + (1.0f - kLevelRelease) * m_level;

    // Squelch with hysteresis around the threshold.
    const float thr = sqlThreshold.load(std::memory_order_relaxed);
    if (!m_sqlClosed && m_level <= thr - kSqlHysteresis)
        m_sqlClosed = true;
    else if (m_sqlClosed && m_level >= thr + kSqlHysteresis)
        m_sqlClosed = false;

    // Frequency discriminator: the phase step from the previous sample.
    const std::complex<float> p = m_prevY;
    const float im = p.real() * y.imag() - p.imag() * y.real();
    const float re = p.imag() * y.imag() + p.real() * y.real();
    const float d = (im == 0.0f || re == 0.0f) ? 0.0f : std::atan2(im, re) * kDiscGain;

    // Loop: holds still while the squelch is closed.
    if (m_sqlClosed)
        m_loopState = 0.0f;
    else
        m_loopState = (1.0f - kLoopCoef) * m_loopState + kLoopCoef * d;
    m_offset = std::max(kOffsetMin, std::min(kOffsetMax, m_offset + m_loopState));

    const bool afc = afcEnable.load(std::memory_order_relaxed) != 0;
    const float fcNow = m_fc.load(std::memory_order_relaxed);
    m_ncoOffset = kTwoPi * double(m_offset) / double(fs);
    afcOffset.store(afc ? m_offset : 0.0f, std::memory_order_relaxed);
    trackedFc.store(afc ? fcNow + m_offset : fcNow, std::memory_order_relaxed);
    level.store(m_level, std::memory_order_relaxed);
    sqlClosed.store(m_sqlClosed ? 1 : 0, std::memory_order_relaxed);
    m_prevY = y;
}

void ZRModem::demodulate(float *samples)
{
    const int md = mode.load(std::memory_order_relaxed);
    if (md != m_prevMode) {
        m_prevMode = md;
        if (cwDem)
            cw_dem_init(cwDem);
        cwInits.fetch_add(1, std::memory_order_relaxed);
        qCDebug(logModem) << "modem mode changed," << md;
    }
    if (const ZRModemOps *o = ops(md))
        o->demodulate(this, samples, N);
}

void ZRModem::demodulateCw(float *samples, unsigned n)
{
    if (!cwDem)
        return;
    if (afcEnable.load(std::memory_order_relaxed)) {
        // Every new tone redesigns the decoder's detector and restarts
        // its filter; the tracked frequency moves a little with every
        // block, so it is handed on only once it has moved by a step
        // well inside the detector's bandwidth.
        const float f = trackedFc.load(std::memory_order_relaxed);
        if (std::fabs(f - m_cwAfcTone) >= kCwAfcStep) {
            m_cwAfcTone = std::round(f);
            cw_dem_set_cwtone(cwDem, m_cwAfcTone);
        }
    } else {
        m_cwAfcTone = -1000.0f;
    }
    cw_dem_process(cwDem, samples, n);
}

int ZRModem::rxFrames(const int16_t *frames, size_t n)
{
    if (n > 0 && frames) {
        // Received audio is discarded while transmitting.
        if (m_txFlag.load(std::memory_order_acquire)) {
            framesIgnored.fetch_add(n, std::memory_order_relaxed);
        } else {
            m_acc.insert(m_acc.end(), frames, frames + 2 * n);
            m_accFrames += n;
        }
    }
    if (m_accFrames < N)
        return 0;

    const float scale = rxScale.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < N; i++) {
        const float x = float(m_acc[2 * i]) * scale;
        m_rx[i] = x;
        track(x);
    }
    demodulate(m_rx.data());
    m_acc.erase(m_acc.begin(), m_acc.begin() + std::ptrdiff_t(2 * N));
    m_accFrames -= N;
    if (m_accFrames > size_t(10) * N) {
        m_acc.clear();
        m_accFrames = 0;
        qCDebug(logModem, ) << "rxbuffer full.";
    }
    blocksProcessed.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

bool ZRModem::sleepUnlessStopped(const std::atomic<uint8_t> &stop, int ms)
{
    for (int t = 0; t < ms; t += 10) {
        if (stop.load(std::memory_order_acquire))
            return false;
        usleep(useconds_t(std::min(10, ms - t)) * 1000);
    }
    return !stop.load(std::memory_order_acquire);
}

void ZRModem::readCapture()
{
    snd_pcm_t *h = capture->handle;
    if (!h || !capture->buffer) {
        // No device, or one that could not be configured: nothing to read.
        sleepUnlessStopped(demStop, 100);
        return;
    }
    snd_pcm_wait(h, kWaitMs);
    const snd_pcm_sframes_t got = snd_pcm_readi(h, capture->buffer, capture->period_reported);
    if (got > 0) {
        m_capErrors = 0;
        rxFrames(capture->buffer, size_t(got));
        return;
    }
    if (got == 0 || got == -EAGAIN)
        return;
    m_capErrors++;
    // A run of errors: wait before trying again. The wait comes before the
    // recovery, as a restarted capture overruns if it is not read at once.
    if (m_capErrors > 3 && !sleepUnlessStopped(demStop, m_capErrors > 10 ? kDeadBackoffMs : kErrorBackoffMs))
        return;
    if (got == -EPIPE) {
        if (shouldLog(m_capErrors))
            qCDebug(logModem, ) << "modem capture overrun, count" << m_capErrors;
        recover(h, int(got), m_capErrors);
        // A prepared capture stream stays idle until started.
        snd_pcm_start(h);
    } else if (got == -ESTRPIPE) {
        int err;
        while ((err = snd_pcm_resume(h)) == -EAGAIN && sleepUnlessStopped(demStop, 1000)) {
        }
        if (err < 0 && (err = snd_pcm_prepare(h)) < 0)
            qCDebug(logModem, "Can't recovery from suspend, prepare failed: %s\n", snd_strerror(err));
        snd_pcm_start(h);
    } else {
        if (shouldLog(m_capErrors))
            qCDebug(logModem, ) << "pcm read error: " << snd_strerror(int(got)) << "count" << m_capErrors;
        recover(h, int(got), m_capErrors);
        snd_pcm_start(h);
    }
}

void *ZRModem::thread_dem(void *arg)
{
    ZRModem *m = static_cast<ZRModem *>(arg);
    qCDebug(logModem, "ZRModem::thread_dem created, 0x%lx", (unsigned long)(uintptr_t)m);
    if (snd_pcm_t *h = m->capture->handle) {
        snd_pcm_prepare(h);
        snd_pcm_start(h);
    }
    while (!m->demStop.load(std::memory_order_acquire)) {
        m->readCapture();
        usleep(2000);
    }
    if (snd_pcm_t *h = m->capture->handle)
        snd_pcm_drop(h);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Transmit side (modulator thread)

void ZRModem::stopModulatorOf(int m)
{
    // The queued text of the mode being left is dropped; the modulator ends
    // its transmission with its usual trailer.
    const ZRModemOps *o = ops(m);
    if (o && o->stop)
        o->stop(this);
}

ZRModem::ModAction ZRModem::modStep(int16_t *period, unsigned M, bool paused)
{
    M = std::min(M, kMaxHalfPeriod);
    const int md = mode.load(std::memory_order_relaxed);
    if (md != m_modPrevMode) {
        // A transmission of the mode being left would otherwise never be
        // pulled to its end and keep the transmitter on.
        stopModulatorOf(m_modPrevMode);
        m_modPrevMode = md;
    }

    const uint32_t posts = m_txPosts.load();
    if (m_txFlag.load()) {
        // The mode's own modulator; while it is idle, one still finishing
        // after a mode change is played out.
        const ZRModemOps *cur = ops(md);
        const ZRModemOps *src = cur && cur->modulate && cur->busy(this) ? cur : nullptr;
        for (const ZRModemOps &o : kModes)
            if (!src && o.modulate && o.busy(this))
                src = &o;
        if (!src && cur && cur->modulate)
            src = cur;
        float *s = m_tx.data();
        if (src)
            src->modulate(this, s, M);
        else
            std::fill(s, s + M, 0.0f); // CW: the Morse sender keys the radio

        bool busy = false;
        for (const ZRModemOps &o : kModes)
            busy = busy || (o.busy && o.busy(this));
        if (!busy) {
            std::memset(period, 0, size_t(M) * 4);
            for (const ZRModemOps &o : kModes)
                if (o.resetSent)
                    o.resetSent(this);
            m_txFlag.store(0);
            // Text posted while this pass ran: keep transmitting.
            if (m_txPosts.load() != posts)
                m_txFlag.store(1);
            return ModPause;
        }
        for (unsigned i = 0; i < M; i++) {
            const float v = std::max(-32768.0f, std::min(32767.0f, std::trunc(s[i] * 5000.0f)));
            period[2 * i] = period[2 * i + 1] = int16_t(v);
        }
        if (paused)
            return md == ModeCW ? ModSkip : ModResume;
        return ModWrite;
    }
    if (paused)
        return ModSkip;
    std::memset(period, 0, size_t(M) * 4);
    return ModWrite;
}

void ZRModem::drainPlayback()
{
    snd_pcm_t *h = playback->handle;
    if (!h)
        return;
    // Non-blocking drain: -EAGAIN until the queued audio has played. Bounded
    // by the buffer time plus a margin, and by the stop flag.
    snd_pcm_uframes_t bufFrames = 0, per = 0;
    snd_pcm_get_params(h, &bufFrames, &per);
    const uint64_t limit = nowMs() + uint64_t(bufFrames) * 1000u / std::max(1u, playback->rate) + 500u;
    for (;;) {
        const int err = snd_pcm_drain(h);
        if (err != -EAGAIN)
            break;
        if (modStop.load(std::memory_order_acquire) || nowMs() > limit) {
            snd_pcm_drop(h);
            break;
        }
        snd_pcm_wait(h, 10);
        usleep(1000);
    }
}

void ZRModem::writePlayback(const int16_t *period, unsigned M)
{
    snd_pcm_t *h = playback->handle;
    const uint64_t passMs = uint64_t(M) * 1000u / fs;
    if (!h || !playback->buffer) {
        // No device: keep the pace of one, so a transmission still lasts as
        // long as its audio.
        sleepUnlessStopped(modStop, int(passMs));
        return;
    }
    const int16_t *p = period;
    snd_pcm_uframes_t left = M;
    uint64_t lastProgress = nowMs();
    bool failed = false;
    while (left > 0 && !modStop.load(std::memory_order_acquire)) {
        const snd_pcm_sframes_t r = snd_pcm_writei(h, p, left);
        if (r > 0) {
            p += 2 * r;
            left -= snd_pcm_uframes_t(r);
            lastProgress = nowMs();
            m_playErrors = 0;
            continue;
        }
        if (r == 0 || r == -EAGAIN) {
            if (nowMs() - lastProgress > uint64_t(kWriteStallMs)) {
                m_playErrors++;
                if (shouldLog(m_playErrors))
                    qCDebug(logModem, ) << "pcm write error: playback stalled";
                break;
            }
            snd_pcm_wait(h, kWaitMs);
            continue;
        }
        failed = true;
        m_playErrors++;
        if (r == -EPIPE) {
            if (shouldLog(m_playErrors))
                qCDebug(logModem, ) << "modem playback underrun, count" << m_playErrors;
            recover(h, int(r), m_playErrors);
        } else if (r == -ESTRPIPE) {
            int err;
            while ((err = snd_pcm_resume(h)) == -EAGAIN && sleepUnlessStopped(modStop, 1000)) {
            }
            if (err < 0 && (err = snd_pcm_prepare(h)) < 0)
                qCDebug(logModem, "Can't recovery from suspend, prepare failed: %s\n", snd_strerror(err));
        } else {
            if (shouldLog(m_playErrors))
                qCDebug(logModem, ) << "pcm write error: " << snd_strerror(int(r));
        }
        break;
    }
    // A device that keeps failing is retried at the pace of the audio it
    // should have taken, with a longer pause after a run of errors.
    if (failed && m_playErrors > 3)
        sleepUnlessStopped(modStop, m_playErrors > 10 ? kDeadBackoffMs : int(passMs));
}

void *ZRModem::thread_mod(void *arg)
{
    ZRModem *m = static_cast<ZRModem *>(arg);
    qCDebug(logModem, "ZRModem::thread_mod created, 0x%lx", (unsigned long)(uintptr_t)m);
    unsigned M = m->N / 2;
    if (m->playback->buffer && m->playback->period_reported > 0)
        M = unsigned(m->playback->period_reported / 2);
    M = std::max(1u, std::min(M, kMaxHalfPeriod));
    std::vector<int16_t> period(size_t(2) * M);

    bool paused = false;
    while (!m->modStop.load(std::memory_order_acquire)) {
        const ModAction a = m->modStep(period.data(), M, paused);
        switch (a) {
        case ModPause:
            if (!paused) {
                m->drainPlayback();
                qCDebug(logModem, ) << "modem playback paused";
            }
            paused = true;
            break;
        case ModSkip:
            break;
        case ModResume:
            if (snd_pcm_t *h = m->playback->handle)
                snd_pcm_prepare(h);
            qCDebug(logModem, ) << "modem playback resumed";
            // fall through
        case ModWrite:
            m->writePlayback(period.data(), M);
            paused = false;
            break;
        }
        usleep(2000);
    }
    if (snd_pcm_t *h = m->playback->handle)
        snd_pcm_drop(h);
    return nullptr;
}
