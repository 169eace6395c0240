#include "spectrum/sacalc.h"

#include "app/zlog.h"

#include <QDebug>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>

typedef std::complex<float> cf_t;

// Bigger sample components are clipped: real samples are far below this,
// and it keeps a corrupt frame from overflowing the FFT or the averages.
static const float kSampleLimit = 1.0e6f;

struct sacalc_s {
    uint32_t N = 0;
    float fs = 0.0f;

    fftplan plan = nullptr;
    cf_t *input = nullptr;    // DC-blocked samples, filled cyclically
    uint32_t writeIndex = 0;
    cf_t *window = nullptr;   // hann(i, N) in both parts
    cf_t *fftIn = nullptr;
    cf_t *fftOut = nullptr;
    float *avg = nullptr;     // averaged magnitudes
    float *spectrum = nullptr; // dB, display order

    float floorDb = SACALC_FLOOR_DB;
    float dbFactor = 20.0f;
    float norm = 0.0f;        // 1 / (2N)
    float logOffset = 5.9604645e-08f; // 2^-24, keeps log10 finite

    std::atomic<float> alpha{0.5f};

    // Search band: requested by any thread, applied by sacalc_run().
    std::mutex requestMutex;
    float reqLow = 300.0f, reqHigh = 3000.0f, reqFs = 0.0f;
    std::atomic<bool> bandChanged{true};
    float low = 300.0f, high = 3000.0f;
    int32_t firstBin = 0, lastBin = -1;

    float peak = SACALC_FLOOR_DB;
    float smoothedPeak = SACALC_FLOOR_DB;
    float smoothing = 0.35f;

    std::atomic<uint32_t> decFactor{1};
    uint32_t dcFactor = 1;    // factor the DC blocker was made for
    iirfilt_cccf dcBlocker = nullptr;

    std::atomic<uint8_t> ready{0};
};

void sacalc_destroy(sacalc_t *q)
{
    if (!q)
        return;
    if (q->plan)
        fft_destroy_plan(q->plan);
    if (q->dcBlocker)
        iirfilt_cccf_destroy(q->dcBlocker);
    delete[] q->input;
    delete[] q->window;
    delete[] q->fftIn;
    delete[] q->fftOut;
    delete[] q->avg;
    delete[] q->spectrum;
    delete q;
}

sacalc_t *sacalc_create(uint32_t N, float fs)
{
    if (N < 8 || (N & 1) || !(fs > 0.0f) || !std::isfinite(fs)) {
        qCWarning(logRig) << "sacalc_create() invalid params, N:" << N << "fs:" << fs;
        return nullptr;
    }
    sacalc_t *q = new (std::nothrow) sacalc_t;
    if (!q)
        return nullptr;
    q->N = N;
    q->fs = fs;
    q->reqFs = fs;
    q->norm = 1.0f / (2.0f * float(N));
    q->input = new (std::nothrow) cf_t[N]();
    q->window = new (std::nothrow) cf_t[N];
    q->fftIn = new (std::nothrow) cf_t[N]();
    q->fftOut = new (std::nothrow) cf_t[N]();
    q->avg = new (std::nothrow) float[N]();
    q->spectrum = new (std::nothrow) float[N];
    if (!q->input || !q->window || !q->fftIn || !q->fftOut || !q->avg || !q->spectrum) {
        sacalc_destroy(q);
        return nullptr;
    }
    for (uint32_t i = 0; i < N; ++i) {
        const float w = hann(i, N);
        q->window[i] = cf_t(w, w);
        q->spectrum[i] = q->floorDb;
    }
    q->plan = fft_create_plan(N, q->fftIn, q->fftOut, LIQUID_FFT_FORWARD, 0);
    q->dcBlocker = iirfilt_cccf_create_dc_blocker(0.01f);
    if (!q->plan || !q->dcBlocker) {
        sacalc_destroy(q);
        return nullptr;
    }
    return q;
}

void sacalc_set_peaksrch_border(sacalc_t *q, float lowHz, float highHz, float fs)
{
    if (!q)
        return;
    if (!std::isfinite(lowHz) || !std::isfinite(highHz) || !(fs > 0.0f) || !std::isfinite(fs)) {
        qCWarning(logRig) << "[ERR] Invalid search border:" << lowHz << highHz << "fs:" << fs;
        return;
    }
    std::lock_guard<std::mutex> lock(q->requestMutex);
    q->reqLow = lowHz;
    q->reqHigh = highHz;
    q->reqFs = fs;
    q->bandChanged.store(true, std::memory_order_release);
}

void sacalc_set_dec_factor(sacalc_t *q, uint32_t factor)
{
    if (!q || factor == 0)
        return;
    q->decFactor.store(factor, std::memory_order_relaxed);
    // The search bins depend on fs / factor.
    q->bandChanged.store(true, std::memory_order_release);
}

void sacalc_set_average(sacalc_t *q, float alpha)
{
    if (!q || !std::isfinite(alpha))
        return;
    q->alpha.store(std::min(1.0f, std::max(0.0f, alpha)), std::memory_order_relaxed);
}

static void apply_requests(sacalc_t *q)
{
    const uint32_t factor = q->decFactor.load(std::memory_order_relaxed);
    if (factor != q->dcFactor) {
        iirfilt_cccf blocker = iirfilt_cccf_create_dc_blocker(0.01f * float(factor));
        if (blocker) {
            iirfilt_cccf_destroy(q->dcBlocker);
            q->dcBlocker = blocker;
            q->dcFactor = factor;
        }
    }
    if (q->bandChanged.exchange(false, std::memory_order_acquire)) {
        {
            std::lock_guard<std::mutex> lock(q->requestMutex);
            q->low = q->reqLow;
            q->high = q->reqHigh;
            q->fs = q->reqFs;
        }
        const float fsd = q->fs / float(factor);
        const double n = q->N;
        // Far-off borders are limited before the integer conversion; any
        // value outside the spectrum disables the search all the same.
        auto bin = [&](float hz) {
            const double b = std::trunc(n / 2.0 + n * double(hz) / double(fsd));
            return int32_t(std::max(-1.0, std::min(b, n)));
        };
        q->firstBin = bin(q->low);
        q->lastBin = bin(q->high);
        qCDebug(logRig).noquote() << QString::asprintf(
            "[DBG] S-Meter search border [%d, %d], bw [%4.0f, %4.0f], fs: %4.0f, fft_len: %d",
            q->firstBin, q->lastBin, q->low, q->high, fsd, int(q->N));
    }
}

static void compute_spectrum(sacalc_t *q)
{
    const uint32_t N = q->N;
    for (uint32_t i = 0; i < N; ++i) {
        const cf_t s = q->input[i];
        const cf_t w = q->window[i];
        q->fftIn[i] = cf_t(s.real() * w.real(), s.imag() * w.imag());
    }
    fft_execute(q->plan);

    const float a = q->alpha.load(std::memory_order_relaxed);
    for (uint32_t k = 0; k < N; ++k)
        q->avg[k] = a * std::abs(q->fftOut[k]) + (1.0f - a) * q->avg[k];

    // Display order: bin N/2 down to bin 1, then bin N-1 down to N/2+1;
    // bin 0 (DC) is never shown.
    auto level = [&](uint32_t k) {
        return q->dbFactor * std::log10(q->avg[k] * q->norm + q->logOffset);
    };
    const uint32_t half = N / 2;
    for (uint32_t j = 0; j < half; ++j)
        q->spectrum[j] = level(half - j);
    for (uint32_t j = 1; j < half; ++j)
        q->spectrum[half - 1 + j] = level(N - j);
    q->spectrum[N - 1] = q->floorDb;

    // A band reaching outside the spectrum on either side is not searched.
    if (q->firstBin >= 0 && q->firstBin <= q->lastBin && q->lastBin < int32_t(N)) {
        float p = q->floorDb;
        for (int32_t j = q->firstBin; j <= q->lastBin; ++j)
            p = std::max(p, q->spectrum[j]);
        q->peak = p;
        q->smoothedPeak = q->smoothing * p + (1.0f - q->smoothing) * q->smoothedPeak;
    }
}

void sacalc_run(sacalc_t *q, const liquid_float_complex *x, uint32_t n)
{
    if (!q || !x)
        return;
    apply_requests(q);
    if (q->ready.load(std::memory_order_acquire))
        return;

    const uint32_t count = std::min(n, q->N);
    for (uint32_t i = 0; i < count; ++i) {
        float re = x[i].real();
        float im = x[i].imag();
        // A NaN would stay in the DC blocker and the averages for good.
        re = std::isfinite(re) ? std::max(-kSampleLimit, std::min(re, kSampleLimit)) : 0.0f;
        im = std::isfinite(im) ? std::max(-kSampleLimit, std::min(im, kSampleLimit)) : 0.0f;
        cf_t y;
        iirfilt_cccf_execute(q->dcBlocker, cf_t(re, im), &y);
        q->input[q->writeIndex] = y;
        if (++q->writeIndex == q->N) {
            q->writeIndex = 0;
            compute_spectrum(q);
            // The rest of this call starts the next block; with n <= N
            // the buffer cannot fill again before the spectrum is collected.
            q->ready.store(1, std::memory_order_release);
        }
    }
}

int sacalc_get_spectrum(sacalc_t *q, float *out, uint32_t *count, float *peak)
{
    if (!q || !q->ready.load(std::memory_order_acquire))
        return 0;
    if (out)
        std::copy(q->spectrum, q->spectrum + q->N, out);
    if (count)
        *count = q->N;
    if (peak)
        *peak = q->smoothedPeak;
    q->ready.store(0, std::memory_order_release);
    return 1;
}

uint32_t sacalc_get_length(const sacalc_t *q)
{
    return q ? q->N : 0;
}

int sacalc_is_ready(const sacalc_t *q)
{
    return q && q->ready.load(std::memory_order_acquire) ? 1 : 0;
}

float sacalc_get_peak(const sacalc_t *q)
{
    return q ? q->peak : SACALC_FLOOR_DB;
}

float sacalc_get_smoothed_peak(const sacalc_t *q)
{
    return q ? q->smoothedPeak : SACALC_FLOOR_DB;
}

void sacalc_get_search_bins(const sacalc_t *q, int32_t *first, int32_t *last)
{
    if (!q)
        return;
    if (first)
        *first = q->firstBin;
    if (last)
        *last = q->lastBin;
}
