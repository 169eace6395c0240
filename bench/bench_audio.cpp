// CPU use of the receive-audio capture: the capture thread running against
// the sound card stand-in with a tone coming in (its share of one core, the
// plugin's work included, as it runs on the reading thread), and the cost of
// one block (scope + 1024-point spectrum).
#include "tests/test_support.h"
#include "audio/zaudio.h"
#include "sim/alsa/zsimaudio.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

std::vector<int16_t> tone(size_t frames)
{
    std::vector<int16_t> v(2 * frames);
    for (size_t i = 0; i < frames; i++)
        v[2 * i] = v[2 * i + 1] = int16_t(std::lrint(8000.0 * std::cos(2 * M_PI * 1000.0 * double(i) / 16000.0)));
    return v;
}

void BM_CaptureThreadCpu(benchmark::State &state)
{
    ztest::Sysroot root;
    if (!root.isValid()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    zsimaudio_t *peer = zsimaudio_create(root.path().toLocal8Bit().constData());
    if (!peer) {
        state.SkipWithError("peer failed");
        return;
    }
    const double seconds = 3.0;
    const std::vector<int16_t> t = tone(size_t(seconds * 16000) + 16000);
    for (auto _ : state) {
        auto *a = new zaudio_t(1024, 1024);
        pthread_create(&a->capture_thread, nullptr, zaudio_t::thread_capture, a);
        a->capture_started = true;
        zsimaudio_wait_clients(peer, ZSIMAUDIO_CAPTURE, 1, 2000);
        zsimaudio_write_capture(peer, t.data(), t.size() / 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));

        const double cpu0 = ztest::threadCpuSeconds(a->capture_thread);
        const auto w0 = std::chrono::steady_clock::now();
        int spectra = 0;
        // The 50 ms publisher's side of the hand-over.
        while (std::chrono::steady_clock::now() - w0 < std::chrono::duration<double>(seconds)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (a->fft_ready.load(std::memory_order_acquire)) {
                spectra++;
                a->fft_ready.store(false, std::memory_order_release);
            }
            a->scope_ready.store(false, std::memory_order_release);
        }
        const double cpu = ztest::threadCpuSeconds(a->capture_thread) - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        state.SetIterationTime(wall);
        state.counters["cpu_share_pct"] = 100.0 * cpu / wall;
        state.counters["spectra_per_s"] = spectra / wall;
        delete a;
    }
    zsimaudio_destroy(peer);
}
BENCHMARK(BM_CaptureThreadCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_CaptureBlock(benchmark::State &state)
{
    ztest::setSysroot(QStringLiteral("/nonexistent-zr450-bench"));
    zaudio_t a(1024, 1024);
    const std::vector<int16_t> t = tone(1024);
    for (auto _ : state) {
        a.fft_ready.store(false, std::memory_order_relaxed);
        a.scope_ready.store(false, std::memory_order_relaxed);
        a.push_frames(t.data(), 1024);
        benchmark::DoNotOptimize(a.published.data());
    }
    // 15.625 blocks a second at 16 kHz.
    state.counters["blocks_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CaptureBlock)->Unit(benchmark::kMicrosecond);

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
