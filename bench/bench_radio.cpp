// The UART reader's costs against the line-rate budget: 1152000 baud at 10
// bits a byte carries 115200 bytes/s, one 4136-byte frame every 35.9 ms
// (27.85 frames/s).
//
//   ReaderFrame           search + CRC + samples + spectrum of one frame
//   FrameSearchStream     frames with stray bytes, read in 4095-byte pieces
//   FrameSearchSyncFlood  worst case: nothing but sync words
//   ReaderThreadAtLineRate  the real reader thread on a pseudo-terminal fed
//                         at the line rate: its CPU time over wall time
//   UpdateParams          one rebuild of the register block from the store
//                         (every 50 ms on the GUI thread)
//   PushThreadAtRest      the push and input threads with nothing changing,
//                         on a bus socket that answers every transfer: their
//                         CPU time over wall time
//   FirmwareUpgrade       a whole base-band firmware upgrade of 100 KB against
//                         the simulator: its time, and the XMODEM transfer's
//                         bytes per second against the line's 115200
//   LinkThreadsAtRest     the radio at rest as under ./zr run: frames at the
//                         line rate, five input FIFOs with their writers
//                         open, a rebuild every 50 ms that changes nothing;
//                         the reader, push and input threads' CPU time over
//                         wall time
#include "tests/test_support.h"
#include "radio/zcrc.h"
#include "radio/bbframe.h"
#include "radio/zradio.h"
#include "radio/xmodem.h"
#include "app/zsystem.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

typedef std::vector<uint8_t> Bytes;

static const double kFramesPerSecond = 1152000.0 / 10.0 / BBFRAME_SIZE;

static Bytes makeFrame(std::mt19937 &rng)
{
    Bytes f(BBFRAME_SIZE, 0);
    std::normal_distribution<float> noise(0.0f, 1e-4f);
    for (uint32_t i = 0; i < 2 * BBFRAME_SAMPLES; ++i) {
        const float v = noise(rng) + (i % 2 ? 0.01f * std::sin(0.3f * i) : 0.01f * std::cos(0.3f * i));
        uint32_t u;
        std::memcpy(&u, &v, 4);
        bbframe_put_u32(&f[BBFRAME_OFS_SAMPLES + 4 * i], u);
    }
    f[BBFRAME_OFS_VEXT] = 138;
    bbframe_seal(f.data());
    return f;
}

struct Reader {
    Bytes acc;
    uint64_t frames = 0;
    bbframe_cb_t cb = nullptr;
    void *ctx = nullptr;
    bbframe_stats_t stats;

    void feed(const uint8_t *p, size_t n)
    {
        acc.insert(acc.end(), p, p + n);
        if (acc.size() >= BBFRAME_SIZE) {
            const size_t used = bbframe_search(acc.data(), acc.size(), cb, ctx, &stats);
            acc.erase(acc.begin(), acc.begin() + ptrdiff_t(used));
        }
    }
};

struct FrameCtx {
    zradio_t *radio;
    uart_t *uart;
    sacalc_t *sacalc;
    std::vector<float> out;
};

static void onFrame(const uint8_t *frame, void *p)
{
    FrameCtx *c = static_cast<FrameCtx *>(p);
    zradio_comm_frame(c->radio, c->uart, c->sacalc, frame);
}

static void ReaderFrame(benchmark::State &state)
{
    std::mt19937 rng(1);
    const Bytes frame = makeFrame(rng);
    FrameCtx ctx{new zradio_t, new uart_t, sacalc_create(ZRADIO_FFT_LEN, ZRADIO_BASE_RATE),
                 std::vector<float>(ZRADIO_FFT_LEN)};
    ctx.radio->commValid = 1; // no log line per frame
    Reader r;
    r.cb = onFrame;
    r.ctx = &ctx;
    uint32_t n;
    float peak;
    const double cpu0 = ztest::threadCpuSeconds(pthread_self());
    for (auto _ : state) {
        // As a pseudo-terminal delivers it: 4095 bytes, then the rest.
        r.feed(frame.data(), 4095);
        r.feed(frame.data() + 4095, BBFRAME_SIZE - 4095);
        // Collected, so every frame computes a spectrum.
        sacalc_get_spectrum(ctx.sacalc, ctx.out.data(), &n, &peak);
    }
    if (r.stats.frames != uint64_t(state.iterations()))
        state.SkipWithError("frames were lost");
    // Share of one core at the line rate = CPU time per frame x frames per second.
    const double perFrame = (ztest::threadCpuSeconds(pthread_self()) - cpu0) / double(state.iterations());
    state.SetLabel(QString::asprintf("%.1f us/frame = %.3f %% of a core at %.2f frames/s",
                                     perFrame * 1e6, perFrame * kFramesPerSecond * 100.0, kFramesPerSecond)
                       .toStdString());
    sacalc_destroy(ctx.sacalc);
    delete ctx.uart;
    delete ctx.radio;
}
BENCHMARK(ReaderFrame);

// The stream searched as a pseudo-terminal delivers it, in 4095-byte reads;
// throughput also in multiples of the line rate.
static void searchInPieces(benchmark::State &state, const Bytes &stream)
{
    Reader r;
    for (auto _ : state)
        for (size_t i = 0; i < stream.size(); i += 4095)
            r.feed(stream.data() + i, std::min<size_t>(4095, stream.size() - i));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["line_rates"] = benchmark::Counter(
        double(state.iterations()) * double(stream.size()) / 115200.0, benchmark::Counter::kIsRate);
}

static void FrameSearchStream(benchmark::State &state)
{
    std::mt19937 rng(2);
    Bytes stream;
    for (int i = 0; i < 32; ++i) {
        const Bytes f = makeFrame(rng);
        for (uint32_t k = rng() % 64; k > 0; --k)
            stream.push_back(uint8_t(rng() & 0x7F));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    searchInPieces(state, stream);
}
BENCHMARK(FrameSearchStream);

static void FrameSearchSyncFlood(benchmark::State &state)
{
    Bytes stream;
    for (int i = 0; i < 16384; ++i)
        stream.insert(stream.end(), bbframe_sync, bbframe_sync + 4);
    searchInPieces(state, stream);
    state.SetLabel("every 4 bytes a candidate whose CRC is checked");
}
BENCHMARK(FrameSearchSyncFlood);

static void Crc32Frame(benchmark::State &state)
{
    std::mt19937 rng(3);
    const Bytes f = makeFrame(rng);
    for (auto _ : state)
        benchmark::DoNotOptimize(zcrc::calCRC32_STM32_bytes(f.data(), BBFRAME_OFS_CRC / 4));
    state.SetBytesProcessed(int64_t(state.iterations()) * BBFRAME_OFS_CRC);
}
BENCHMARK(Crc32Frame);

// The whole reader thread (1 ms poll, reads, search, CRC, spectrum) fed at
// the line rate through a pseudo-terminal for three seconds.
static void ReaderThreadAtLineRate(benchmark::State &state)
{
    for (auto _ : state) {
        ztest::Sysroot root;
        ztest::Pty pty;
        if (!pty.open() || !pty.link(root.path() + "/dev/ttyS1")) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        const int master = pty.master;

        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::mt19937 rng(4);
        const Bytes frame = makeFrame(rng);
        std::atomic<bool> stop{false};
        std::thread writer([&]() {
            using clock = std::chrono::steady_clock;
            const auto t0 = clock::now();
            uint64_t sent = 0;
            while (!stop) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const uint64_t due = uint64_t(std::chrono::duration<double>(clock::now() - t0).count() * 115200.0);
                while (sent < due) {
                    const size_t pos = sent % BBFRAME_SIZE;
                    const size_t n = std::min<uint64_t>(due - sent, BBFRAME_SIZE - pos);
                    const ssize_t w = write(master, frame.data() + pos, n);
                    if (w <= 0)
                        break;
                    sent += uint64_t(w);
                }
            }
        });
        const double cpu0 = ztest::threadCpuSeconds(g_zuart->thread);
        const auto w0 = std::chrono::steady_clock::now();
        bbframe_stats_t st0;
        zradio_uartcomm_get_stats(&st0);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double cpu = ztest::threadCpuSeconds(g_zuart->thread) - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        bbframe_stats_t st1;
        zradio_uartcomm_get_stats(&st1);
        stop = true;
        writer.join();
        zradio_destroy(radio);

        state.SetIterationTime(wall);
        state.SetLabel(QString::asprintf("reader thread: %.2f %% of a core, %.1f frames/s accepted",
                                         100.0 * cpu / wall, double(st1.frames - st0.frames) / wall)
                           .toStdString());
    }
}
BENCHMARK(ReaderThreadAtLineRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

static void UpdateParams(benchmark::State &state)
{
    ztest::Sysroot root;
    zradio_t *radio = zradio_create("/dev/i2c-0", 114);
    radio->pushEnable.store(0);
    for (auto _ : state)
        zradio_update_params();
    benchmark::DoNotOptimize(radio->regs[15].load());
    zradio_destroy(radio);
}
BENCHMARK(UpdateParams)->Unit(benchmark::kMicrosecond);

// A bus socket that answers every transfer with success.
class AnsweringBus
{
public:
    explicit AnsweringBus(const QString &path)
    {
        m_fd = ztest::unixSocket(path, SOCK_STREAM, true);
        m_thread = std::thread([this]() {
            while (!m_stop) {
                pollfd p = {m_fd, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0)
                    continue;
                const int c = accept(m_fd, nullptr, nullptr);
                uint8_t buf[4096];
                while (c >= 0 && !m_stop) {
                    pollfd q = {c, POLLIN, 0};
                    if (poll(&q, 1, 20) <= 0)
                        continue;
                    if (read(c, buf, sizeof(buf)) <= 0)
                        break;
                    const uint8_t ok[4] = {1, 0, 0, 0};
                    if (write(c, ok, 4) != 4)
                        break;
                }
                if (c >= 0)
                    close(c);
            }
        });
    }
    ~AnsweringBus()
    {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

static void PushThreadAtRest(benchmark::State &state)
{
    for (auto _ : state) {
        ztest::Sysroot root;
        QDir().mkpath(root.path() + "/dev");
        AnsweringBus bus(root.path() + "/dev/i2c-0");
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        zradio_update_params();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // first writes and refresh done
        const double push0 = ztest::threadCpuSeconds(radio->pushThread);
        const double input0 = ztest::threadCpuSeconds(radio->inputThread);
        const uint64_t passes0 = radio->pushPasses.load();
        const uint64_t blocks0 = radio->blockWrites.load();
        const auto w0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        const double push = ztest::threadCpuSeconds(radio->pushThread) - push0;
        const double input = ztest::threadCpuSeconds(radio->inputThread) - input0;
        const uint64_t passes = radio->pushPasses.load() - passes0;
        const uint64_t blocks = radio->blockWrites.load() - blocks0;
        zradio_destroy(radio);

        state.SetIterationTime(wall);
        state.SetLabel(QString::asprintf("push thread: %.2f %% of a core, %.0f passes/s, %.2f block writes/s; "
                                         "input thread: %.2f %% of a core",
                                         100.0 * push / wall, double(passes) / wall, double(blocks) / wall,
                                         100.0 * input / wall)
                           .toStdString());
    }
}
BENCHMARK(PushThreadAtRest)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Streams frames into a pseudo-terminal master at the line rate, in 1 ms
// ticks as the simulator does.
class LineFeeder
{
public:
    LineFeeder(int master, const Bytes &frame)
        : m_thread([this, master, frame]() {
            using clock = std::chrono::steady_clock;
            const auto t0 = clock::now();
            auto next = t0;
            uint64_t sent = 0;
            while (!m_stop) {
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
                const uint64_t due = uint64_t(std::chrono::duration<double>(clock::now() - t0).count() * 115200.0);
                while (sent < due) {
                    const size_t pos = sent % BBFRAME_SIZE;
                    const size_t n = std::min<uint64_t>(due - sent, BBFRAME_SIZE - pos);
                    const ssize_t w = write(master, frame.data() + pos, n);
                    sent += w > 0 ? uint64_t(w) : n; // nobody reads: lost, as on a wire
                }
            }
        })
    {
    }
    ~LineFeeder()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

static void LinkThreadsAtRest(benchmark::State &state)
{
    for (auto _ : state) {
        ztest::Sysroot root;
        QDir().mkpath(root.path() + "/dev/input");
        AnsweringBus bus(root.path() + "/dev/i2c-0");
        ztest::Pty pty;
        if (!pty.open() || !pty.link(root.path() + "/dev/ttyS1")) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        for (int i = 0; i < 5; ++i)
            mkfifo(QString("%1/dev/input/event%2").arg(root.path()).arg(i).toLocal8Bit().constData(), 0600);
        std::mt19937 rng(5);
        LineFeeder feeder(pty.master, makeFrame(rng));

        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        // The writing ends, held open as the simulator holds them, once the
        // input thread has opened the reading ends.
        int writers[5] = {-1, -1, -1, -1, -1};
        for (int t = 0; t < 500; ++t) {
            bool all = true;
            for (int i = 0; i < 5; ++i) {
                if (writers[i] < 0)
                    writers[i] = open(QString("%1/dev/input/event%2").arg(root.path()).arg(i).toLocal8Bit().constData(),
                                      O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                all = all && writers[i] >= 0;
            }
            if (all)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // The GUI thread's update tick: a rebuild every 50 ms.
        auto tick = [](int ms) {
            for (int t = 0; t < ms; t += 50) {
                zradio_update_params();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        };
        tick(1500); // first writes and refresh done, frames arriving
        const pthread_t threads[3] = {g_zuart->thread, radio->pushThread, radio->inputThread};
        double cpu0[3];
        for (int i = 0; i < 3; ++i)
            cpu0[i] = ztest::threadCpuSeconds(threads[i]);
        bbframe_stats_t st0;
        zradio_uartcomm_get_stats(&st0);
        const uint64_t passes0 = radio->pushPasses.load();
        const auto w0 = std::chrono::steady_clock::now();
        tick(5000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        double cpu[3];
        for (int i = 0; i < 3; ++i)
            cpu[i] = 100.0 * (ztest::threadCpuSeconds(threads[i]) - cpu0[i]) / wall;
        bbframe_stats_t st1;
        zradio_uartcomm_get_stats(&st1);
        const uint64_t passes = radio->pushPasses.load() - passes0;
        zradio_destroy(radio);
        for (int fd : writers)
            if (fd >= 0)
                close(fd);

        state.SetIterationTime(wall);
        state.SetLabel(QString::asprintf("reader %.3f %%, push %.3f %%, input %.3f %% of a core (together %.3f %%); "
                                         "%.1f frames/s, %.1f push passes/s",
                                         cpu[0], cpu[1], cpu[2], cpu[0] + cpu[1] + cpu[2],
                                         double(st1.frames - st0.frames) / wall, double(passes) / wall)
                           .toStdString());
    }
}
BENCHMARK(LinkThreadsAtRest)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

static void FirmwareUpgrade(benchmark::State &state)
{
    for (auto _ : state) {
        ztest::Sysroot root;
        ztest::Sim sim;
        if (!sim.start(root.path())) {
            state.SkipWithError("simulator did not start");
            return;
        }
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        for (int t = 0; t < 1000 && !zradio_comm_valid(); ++t)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::mt19937 rng(6);
        QByteArray image(100 * 1024, 0);
        for (char &c : image)
            c = char(rng());
        XMWorker worker;
        QElapsedTimer clock;
        qint64 first = -1, last = -1;
        int result = 1;
        QObject::connect(&worker, &XMWorker::sig_progressUpdate, [&](int p) {
            if (first < 0)
                first = clock.elapsed();
            if (p == 100)
                last = clock.elapsed();
        });
        QObject::connect(&worker, &XMWorker::sig_finished, [&](int r) { result = r; });
        clock.start();
        worker.slot_start(image);
        const qint64 total = clock.elapsed();
        zradio_destroy(radio);
        if (result != 0 || first < 0 || last <= first) {
            state.SkipWithError("upgrade failed");
            return;
        }
        const double bytes = double((image.size() + XMODEM_BLOCK - 1) / XMODEM_BLOCK * XMODEM_BLOCK);
        const double rate = bytes / (double(last - first) / 1000.0);
        state.SetIterationTime(double(total) / 1000.0);
        state.SetLabel(QString::asprintf("whole upgrade %.2f s; XMODEM %.0f bytes/s = %.0f %% of the line rate",
                                         double(total) / 1000.0, rate, 100.0 * rate / 115200.0)
                           .toStdString());
    }
}
BENCHMARK(FirmwareUpgrade)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ztest::silenceLog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ztest::setSysroot(QString());
    return 0;
}
