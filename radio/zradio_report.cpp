// Reports of the base-band board (the last frame trailer), the spectrum
// hand-over to the GUI thread and the spectrum settings, and the live radio
// status the store publishes for the CAT interpreter.
#include "radio/zradio.h"

#include "app/zlog.h"
#include "params/zparamadmin.h"

#include <QDebug>

#include <algorithm>

namespace {

// Trailer words, as the reader publishes them (bytes 4100..4131).
enum {
    kTrStatus = 0,  // 4100 status flags
    kTrMeters = 1,  // 4104 reserved, power, SWR, ALC
    kTrSupply = 2,  // 4108 external supply, battery, capacity, reserved
    kTrAtu = 3,     // 4112 network c, l, s
};

uint32_t trailer_word(int i)
{
    zradio_t *radio = g_zradio;
    return radio ? radio->trailer[i].load(std::memory_order_relaxed) : 0u;
}

uint8_t trailer_byte(int word, int byte)
{
    return uint8_t(trailer_word(word) >> (8 * byte));
}

// Sets the calculator's peak-search band around the tuned carrier: below
// it for the lower-sideband modes, above it otherwise.
void refresh_search_border(zradio_t *radio)
{
    int mode = 0, dlo = 0;
    if (radio->param) {
        mode = radio->param->mode();
        dlo = radio->param->dloFreq.load();
    }
    float low, high;
    if (zrnamespace::zmode_is_lsb(mode) || mode == zrnamespace::ModeCWR) {
        low = float(dlo) - radio->peakBorderHigh;
        high = float(dlo) - radio->peakBorderLow;
    } else {
        low = float(dlo) + radio->peakBorderLow;
        high = float(dlo) + radio->peakBorderHigh;
    }
    sacalc_set_peaksrch_border(g_zsacalc, low, high, radio->fs);
}

} // namespace

uint8_t zradio_get_trx()
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return 0;
    return radio->param ? radio->param->trxState.load() : radio->trxState.load();
}

uint8_t zradio_get_vextflag()
{
    zradio_t *radio = g_zradio;
    return radio ? radio->vextFlag.load() : 0;
}

uint8_t zradio_get_chgflag()
{
    zradio_t *radio = g_zradio;
    return radio ? radio->chgFlag.load() : 0;
}

float zradio_get_report_txpower()
{
    return float(trailer_byte(kTrMeters, 1)) * 0.1f;
}

float zradio_get_report_vswr()
{
    return float(trailer_byte(kTrMeters, 2));
}

float zradio_get_report_alclevel()
{
    return float(trailer_byte(kTrMeters, 3));
}

float zradio_get_report_vext()
{
    return float(trailer_byte(kTrSupply, 0)) * 0.1f;
}

float zradio_get_report_vbat()
{
    return float(trailer_byte(kTrSupply, 1)) * 0.1f;
}

int zradio_get_report_batcap()
{
    return trailer_byte(kTrSupply, 2);
}

uint8_t zradio_get_atu_status()
{
    return (trailer_word(kTrStatus) & BBFRAME_ST_ATU_BUSY) ? 1 : 0;
}

void zradio_get_atuparams(zatu_network_t *out)
{
    if (!out)
        return;
    const uint32_t w = trailer_word(kTrAtu);
    out->c = uint8_t(w);
    out->l = uint8_t(w >> 8);
    out->s = uint8_t(w >> 16);
}

// ---------------------------------------------------------------- spectrum

int zradio_getfftmag(zradio_t *radio, float *out, uint32_t *count)
{
    if (!radio || !g_zsacalc || !out || !count)
        return 0;
    float peak = 0.0f;
    if (sacalc_get_spectrum(g_zsacalc, out, count, &peak) <= 0)
        return 0;
    radio->fftPeak = peak;
    return 1;
}

float zradio_getfftpeak(zradio_t *radio)
{
    return radio ? radio->fftPeak : SACALC_FLOOR_DB;
}

void zradio_set_fft_dec(int d)
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    if (d < 0 || d > 4) {
        qCWarning(logRig) << "[ERR] Invalid dec factor: " << d;
        return;
    }
    const uint32_t factor = 1u << d;
    radio->fsDec = radio->fs / float(factor);
    refresh_search_border(radio);
    sacalc_set_dec_factor(g_zsacalc, factor);
    qCDebug(logRig) << "[DBG] DecM: " << factor << ", Fs:" << radio->fsDec;
}

void zradio_set_fftpeak_search_border(float low, float high)
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    radio->peakBorderLow = low;
    radio->peakBorderHigh = high;
    refresh_search_border(radio);
}

void zradio_set_rffftave(int a)
{
    sacalc_set_average(g_zsacalc, 0.8f - 0.05f * float(qBound(0, a, 10)));
}

// ------------------------------------------------------------ live status

void zradio_update_live_status(zradio_t *radio, int gotSpectrum)
{
    if (!radio || !radio->param)
        return;
    ZParamAdmin *s = radio->param;
    s->vsupply.store(std::max(zradio_get_report_vext(), zradio_get_report_vbat()));
    const bool chge = s->paramItem(QLatin1String(zrnamespace::kSectionParam), QStringLiteral("chge")).value.toInt() != 0;
    s->charging.store(chge && zradio_get_chgflag() ? 1 : 0);
    // A tuning run lasts from the tune request until the window withdraws
    // it after the board reported the result.
    s->atuActive.store((radio->regs[ZRADIO_WORD_CONTROL].load() & ZRADIO_CTL_ATU_TUNE) ? 1 : 0);

    // The meters follow the spectrum frames, as the window's meters do.
    if (!gotSpectrum)
        return;
    if (zradio_get_trx()) {
        radio->smoothedPower = 0.6f * zradio_get_report_txpower() + 0.4f * radio->smoothedPower;
        s->signalLevel.store(0.0f);
        s->fwdPower.store(radio->smoothedPower);
        s->swr.store(zradio_get_report_vswr() * 0.1f);
        s->alcLevel.store(zradio_get_report_alclevel());
    } else {
        const float level = zradio_getfftpeak(radio) + 7.0f;
        s->signalLevel.store(qBound(-123.0f, level, -13.0f));
        radio->smoothedPower = 0.0f;
        s->fwdPower.store(0.0f);
        s->alcLevel.store(0.0f);
    }
}
