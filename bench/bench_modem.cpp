// Speed of the modems at 16 kHz on one core. The counter "xRT" is seconds of
// audio handled per second of CPU time (its inverse is the real-time factor).
#include "modem/cw_dem.h"
#include "modem/tools/modem_harness.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"

#include <benchmark/benchmark.h>

static const std::vector<float> &rx_audio(int mode)
{
    // One noisy signal per mode, about 8 s long.
    static std::vector<float> a[3];
    if (a[mode].empty()) {
        const QByteArray text = zmh::sample_text(40, 1, false);
        std::vector<float> s;
        if (mode == 0)
            s = zmh::cw_signal(text, 20, 800);
        else if (mode == 1)
            s = zmh::rtty_signal(text, 1000, 45.45f, 170);
        else
            s = zmh::psk_signal(QString::fromLatin1(text), 1000, 0);
        s.resize(8 * zmh::kRate);
        a[mode] = zmh::channel(s, 0, 2000, 7, 0, 0);
        a[mode].resize(a[mode].size() / zmh::kBlock * zmh::kBlock);
    }
    return a[mode];
}

static void report(benchmark::State &state, size_t samples)
{
    state.counters["xRT"] = benchmark::Counter((double)samples / zmh::kRate, benchmark::Counter::kIsRate);
}

static void BM_CwDem(benchmark::State &state)
{
    const std::vector<float> &x = rx_audio(0);
    cw_dem_t *q = cw_dem_create(16000, 800);
    if (!q) {
        state.SkipWithError("cw_dem_create refused");
        return;
    }
    char c;
    size_t n = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); i += zmh::kBlock)
            cw_dem_process(q, &x[i], zmh::kBlock);
        while (cw_dem_getchar(q, &c))
            ;
        n += x.size();
    }
    cw_dem_destroy(q);
    report(state, n);
}
BENCHMARK(BM_CwDem)->Unit(benchmark::kMillisecond);

static void BM_RttyDem(benchmark::State &state)
{
    const std::vector<float> &x = rx_audio(1);
    rtty_dem_t *q = rtty_dem_create(16000, 1000, zmh::kBlock);
    if (!q) {
        state.SkipWithError("rtty_dem_create refused");
        return;
    }
    rtty_dem_set_rate(q, (float)state.range(0) / 100);
    rtty_dem_set_shift(q, 170);
    char c;
    size_t n = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); i += zmh::kBlock)
            rtty_dem_process(q, &x[i], zmh::kBlock);
        while (rtty_dem_getchar(q, &c))
            ;
        n += x.size();
    }
    rtty_dem_destroy(q);
    report(state, n);
}
BENCHMARK(BM_RttyDem)->Arg(4545)->Arg(30000)->Unit(benchmark::kMillisecond);

static void BM_PskDem(benchmark::State &state)
{
    const std::vector<float> &x = rx_audio(2);
    psk_dem_t *q = psk_dem_create(16000, 1000);
    if (!q) {
        state.SkipWithError("psk_dem_create refused");
        return;
    }
    psk_dem_set_rate(q, (int)state.range(0));
    char c;
    size_t n = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); i += zmh::kBlock)
            psk_dem_process(q, &x[i], zmh::kBlock);
        while (psk_dem_getchar(q, &c))
            ;
        n += x.size();
    }
    psk_dem_destroy(q);
    report(state, n);
}
BENCHMARK(BM_PskDem)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

static void BM_RttyMod(benchmark::State &state)
{
    rtty_mod_t *q = rtty_mod_create(16000, 1000, zmh::kBlock);
    if (!q) {
        state.SkipWithError("rtty_mod_create refused");
        return;
    }
    const QByteArray text = zmh::sample_text(4000, 2, true);
    float buf[512];
    size_t n = 0;
    for (auto _ : state) {
        if (!rtty_mod_is_active(q))
            rtty_mod_post_message(q, text.constData(), text.size());
        for (int i = 0; i < 32; i++)
            rtty_mod_process(q, buf, 512);
        benchmark::DoNotOptimize(buf[0]);
        n += 32 * 512;
    }
    rtty_mod_destroy(q);
    report(state, n);
}
BENCHMARK(BM_RttyMod)->Unit(benchmark::kMillisecond);

static void BM_PskMod(benchmark::State &state)
{
    psk_mod_t *q = psk_mod_create(16000, 1000);
    if (!q) {
        state.SkipWithError("psk_mod_create refused");
        return;
    }
    psk_mod_set_rate(q, (int)state.range(0));
    const QByteArray text = zmh::sample_text(4000, 2, true);
    float buf[512];
    size_t n = 0;
    for (auto _ : state) {
        if (!psk_mod_is_active(q))
            psk_mod_post_message(q, text.constData(), text.size());
        for (int i = 0; i < 32; i++)
            psk_mod_process(q, buf, 512);
        benchmark::DoNotOptimize(buf[0]);
        n += 32 * 512;
    }
    psk_mod_destroy(q);
    report(state, n);
}
BENCHMARK(BM_PskMod)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
