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
    const std::vector<float> &x0 = rx_audio(1);
    std::vector<float> x = x0;
    rtty_dem_t *q = rtty_dem_create(16000, 1000, zmh::kBlock);
    rtty_dem_set_rate(q, (float)state.range(0) / 100);
    rtty_dem_set_shift(q, 170);
    char c;
    size_t n = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); i += zmh::kBlock)
            rtty_dem_process_block(q, &x[i], zmh::kBlock);
        while (rtty_getchar(q, &c))
            ;
        n += x.size();
    }
    rtty_dem_destroy(q);
    report(state, n);
}
BENCHMARK(BM_RttyDem)->Arg(4545)->Arg(30000)->Unit(benchmark::kMillisecond);

static void BM_PskDem(benchmark::State &state)
{
    std::vector<float> x = rx_audio(2);
    ZModemPSKDem q(nullptr, 16000, 1000);
    q.m_rateIndex = (int)state.range(0);
    char c;
    size_t n = 0;
    for (auto _ : state) {
        for (size_t i = 0; i < x.size(); i += zmh::kBlock)
            q.exec(&x[i], zmh::kBlock);
        while (q.getSingleChar(&c))
            ;
        n += x.size();
    }
    report(state, n);
}
BENCHMARK(BM_PskDem)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

static void BM_RttyMod(benchmark::State &state)
{
    rtty_mod_t *q = rtty_mod_create(16000, 1000, zmh::kBlock);
    const QByteArray text = zmh::sample_text(4000, 2, true);
    float buf[512];
    size_t n = 0;
    for (auto _ : state) {
        if (!rtty_mod_is_active(q))
            rtty_mod_post_message(q, text.constData(), text.size());
        for (int i = 0; i < 32; i++)
            rtty_mod_process_block(q, buf, 512);
        benchmark::DoNotOptimize(buf[0]);
        n += 32 * 512;
    }
    rtty_mod_destroy(q);
    report(state, n);
}
BENCHMARK(BM_RttyMod)->Unit(benchmark::kMillisecond);

static void BM_PskMod(benchmark::State &state)
{
    ZModemPSKMod q(nullptr, 16000, 1000);
    q.m_rateIndex = (int)state.range(0);
    const QString text = QString::fromLatin1(zmh::sample_text(4000, 2, true));
    float buf[512];
    size_t n = 0;
    for (auto _ : state) {
        if (!q.isActive())
            q.slot_modMsgReceiver(text);
        for (int i = 0; i < 32; i++)
            q.exec(buf, 512);
        benchmark::DoNotOptimize(buf[0]);
        n += 32 * 512;
    }
    report(state, n);
}
BENCHMARK(BM_PskMod)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
