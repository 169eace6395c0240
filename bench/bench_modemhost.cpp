// CPU use of the modem host: its demodulator and modulator threads running
// against the sound card stand-in while a signal of the mode comes in (each
// thread's share of one core, the plugin's work included, as it runs on the
// reading and writing threads), the modulator thread while transmitting, and
// the cost of one 1024-sample block (tone tracker and demodulator) alone.
#include "modem/tools/modem_harness.h"
#include "tests/test_support.h"
#include "modem/zrmodem.h"
#include "sim/alsa/zsimaudio.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Receiver audio of the mode on the host's raw scale, about `seconds` long.
std::vector<float> signalOf(int mode, double seconds)
{
    std::vector<float> s;
    const QByteArray text = zmh::sample_text(int(seconds * 8), 3, false);
    while (s.size() < size_t(seconds * zmh::kRate)) {
        std::vector<float> one;
        if (mode == ZRModem::ModeRTTY)
            one = zmh::rtty_signal(text, 1000, 45.45f, 170);
        else if (mode == ZRModem::ModeBPSK)
            one = zmh::psk_signal(QString::fromLatin1(text), 1000, 0);
        else
            one = zmh::cw_signal(text, 20, 1000);
        s.insert(s.end(), one.begin(), one.end());
    }
    s.resize(size_t(seconds * zmh::kRate));
    return zmh::channel(s, 20, 300, 5, 0, 0);
}

// A temporary system root with the sound card stand-in's peer on it.
struct Root {
    ztest::Sysroot dir;
    zsimaudio_t *peer = nullptr;
    bool make()
    {
        peer = dir.isValid() ? zsimaudio_create(dir.path().toLocal8Bit().constData()) : nullptr;
        return peer != nullptr;
    }
    ~Root() { zsimaudio_destroy(peer); }
};

// Runs the host for `seconds` while draining its playback: each thread's
// share of one core, and (receiving) the blocks processed per second.
void measureThreads(benchmark::State &state, ZRModem *m, zsimaudio_t *peer, double seconds, bool receiving)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double dem0 = ztest::threadCpuSeconds(m->demThread), mod0 = ztest::threadCpuSeconds(m->modThread);
    const uint64_t blocks0 = m->blocksProcessed.load();
    const auto w0 = std::chrono::steady_clock::now();
    std::vector<int16_t> drain(2 * 1024);
    while (std::chrono::steady_clock::now() - w0 < std::chrono::duration<double>(seconds))
        zsimaudio_read_playback(peer, drain.data(), 1024, 20);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    const double dem = ztest::threadCpuSeconds(m->demThread) - dem0;
    const double mod = ztest::threadCpuSeconds(m->modThread) - mod0;
    state.SetIterationTime(wall);
    state.counters["dem_pct"] = 100.0 * dem / wall;
    state.counters["mod_pct"] = 100.0 * mod / wall;
    state.counters["both_pct"] = 100.0 * (dem + mod) / wall;
    if (receiving)
        state.counters["blocks_per_s"] = double(m->blocksProcessed.load() - blocks0) / wall;
}

// Both threads while receiving (the modulator plays silence meanwhile).
void BM_HostThreadsDecoding(benchmark::State &state)
{
    const int mode = int(state.range(0));
    Root root;
    if (!root.make()) {
        state.SkipWithError("no peer");
        return;
    }
    const double seconds = 3.0;
    std::vector<float> x = signalOf(mode, seconds + 1.0);
    for (float &v : x)
        v /= 32767.0f;
    for (auto _ : state) {
        auto *m = new ZRModem;
        m->mode = mode;
        m->setFc(1000);
        m->start();
        zsimaudio_wait_clients(root.peer, ZSIMAUDIO_CAPTURE, 1, 2000);
        zsimaudio_write_capture_mono(root.peer, x.data(), x.size());
        measureThreads(state, m, root.peer, seconds, true);
        delete m;
    }
    state.SetLabel(ZRModem::modeName(mode).toStdString());
}
BENCHMARK(BM_HostThreadsDecoding)
    ->Arg(ZRModem::ModeBPSK)
    ->Arg(ZRModem::ModeRTTY)
    ->Arg(ZRModem::ModeCW)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The modulator thread while it transmits (received audio is ignored then).
void BM_HostThreadsTransmitting(benchmark::State &state)
{
    const int mode = int(state.range(0));
    Root root;
    if (!root.make()) {
        state.SkipWithError("no peer");
        return;
    }
    const double seconds = 3.0;
    for (auto _ : state) {
        auto *m = new ZRModem;
        m->mode = mode;
        m->setFc(1000);
        m->start();
        zsimaudio_wait_clients(root.peer, ZSIMAUDIO_PLAYBACK, 1, 2000);
        m->postText(QString::fromLatin1(zmh::sample_text(200, 4, false)));
        measureThreads(state, m, root.peer, seconds, false);
        delete m;
    }
    state.SetLabel(ZRModem::modeName(mode).toStdString());
}
BENCHMARK(BM_HostThreadsTransmitting)
    ->Arg(ZRModem::ModeBPSK)
    ->Arg(ZRModem::ModeRTTY)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One block through the tone tracker and the demodulator, no device.
void BM_HostBlock(benchmark::State &state)
{
    const int mode = int(state.range(0));
    ztest::setSysroot(QStringLiteral("/nonexistent-zr450-bench"));
    ZRModem m;
    m.mode = mode;
    m.setFc(1000);
    m.afcEnable = 1;
    const std::vector<float> x = signalOf(mode, 4.0);
    std::vector<int16_t> frames(2 * x.size());
    for (size_t i = 0; i < x.size(); i++)
        frames[2 * i] = frames[2 * i + 1] = int16_t(x[i]);
    size_t pos = 0;
    for (auto _ : state) {
        if (pos + 1024 > x.size())
            pos = 0;
        m.rxFrames(frames.data() + 2 * pos, 1024);
        pos += 1024;
    }
    // 15.625 blocks a second at 16 kHz.
    state.counters["blocks_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(ZRModem::modeName(mode).toStdString());
}
BENCHMARK(BM_HostBlock)->Arg(ZRModem::ModeBPSK)->Arg(ZRModem::ModeRTTY)->Arg(ZRModem::ModeCW)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    // Run directly from the build tree: the project's ALSA devices.
    setenv("ALSA_CONFIG_PATH", ZR450_ALSA_CONFIG_PATH, 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
