// CI-V control: frames the interpreter handles per second (reads, settings
// and noise), the time from a request's last byte on the wired port to the
// last byte of its reply through the whole transport loop, and the CPU the
// CI-V thread spends at rest with all three ports open and quiet.
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "tests/test_support.h"
#include "params/zparamadmin.h"
#include "app/zsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hx(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// One store for the whole run, on a temporary system root.
struct Fixture
{
    QTemporaryDir root;
    std::unique_ptr<ZParamAdmin> store;
    Fixture()
    {
        QDir().mkpath(root.path() + "/app");
        QDir().mkpath(root.path() + "/dev");
        ztest::setSysroot(root.path());
        store.reset(new ZParamAdmin(nullptr));
    }
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

// What a logger or a digital-mode program polls, and what it sets.
const char *const kPolls[] = {
    "FE FE A4 E0 03 FD", "FE FE A4 E0 04 FD", "FE FE A4 E0 25 00 FD", "FE FE A4 E0 26 00 FD",
    "FE FE A4 E0 0F FD", "FE FE A4 E0 1C 00 FD", "FE FE A4 E0 15 02 FD", "FE FE A4 E0 14 0A FD",
};
const char *const kSets[] = {
    "FE FE A4 E0 05 00 40 07 14 00 FD", "FE FE A4 E0 26 00 01 01 01 FD", "FE FE A4 E0 14 01 01 00 FD",
    "FE FE A4 E0 0F 00 FD", "FE FE A4 E0 16 12 01 FD", "FE FE A4 E0 25 01 00 00 05 07 00 FD",
};

void runFrames(benchmark::State &state, const QByteArray &batch, int framesPerBatch)
{
    Fixture &f = fixture();
    CivDevice dev;
    dev.setParams(f.store.get(), QString(), B19200);
    const int sink = ::open("/dev/null", O_WRONLY);
    dev.attachPorts(sink, -1);
    for (auto _ : state) {
        dev.receive(batch);
        dev.slot_rxPhase();
    }
    ::close(sink);
    state.SetItemsProcessed(int64_t(state.iterations()) * framesPerBatch);
    state.SetBytesProcessed(int64_t(state.iterations()) * batch.size());
}

} // namespace

static void BM_CivReadFrames(benchmark::State &state)
{
    QByteArray batch;
    for (const char *p : kPolls)
        batch += hx(p);
    runFrames(state, batch, int(sizeof(kPolls) / sizeof(kPolls[0])));
}
BENCHMARK(BM_CivReadFrames);

static void BM_CivSetFrames(benchmark::State &state)
{
    QByteArray batch;
    for (const char *p : kSets)
        batch += hx(p);
    runFrames(state, batch, int(sizeof(kSets) / sizeof(kSets[0])));
}
BENCHMARK(BM_CivSetFrames);

// A full 10240-byte receive buffer of line noise without a frame in it.
static void BM_CivNoise(benchmark::State &state)
{
    QByteArray batch(CIV_RX_LIMIT, '\0');
    uint32_t x = 1;
    for (char &c : batch) {
        x = x * 1664525u + 1013904223u;
        c = char((x >> 24) == 0xFE ? 0x11 : (x >> 24));
    }
    runFrames(state, batch, 0);
}
BENCHMARK(BM_CivNoise);

// Request to reply through the transport loop: the interpreter runs every
// 50 ms, so a request at a random moment waits up to one period; the mean
// is about half the period.
static void BM_CivReplyLatency(benchmark::State &state)
{
    Fixture &f = fixture();
    ztest::Pty pty;
    if (!pty.open(ztest::Pty::NonBlockingMaster) || !pty.link(f.root.path() + "/dev/ttyS2")) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const int master = pty.master;

    auto admin = std::make_unique<CivDeviceAdmin>(nullptr);
    admin->device()->setParams(f.store.get(), "/dev/ttyS2", B19200);
    emit admin->start();

    const QByteArray req = hx("FE FE A4 E0 03 FD");
    char buf[256];
    double worst = 0;
    uint32_t x = 7;
    for (auto _ : state) {
        ztest::drainFd(master);
        // Requests arrive at any point of the interpreter's period.
        x = x * 1664525u + 1013904223u;
        usleep(useconds_t((x >> 8) % 50000));
        const auto t0 = std::chrono::steady_clock::now();
        if (write(master, req.constData(), size_t(req.size())) != req.size()) {
            state.SkipWithError("write failed");
            break;
        }
        bool done = false;
        while (!done) {
            pollfd p = { master, POLLIN, 0 };
            if (poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t r = read(master, buf, sizeof(buf));
            done = r > 0 && buf[r - 1] == char(0xFD);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!done) {
            state.SkipWithError("no reply");
            break;
        }
        worst = std::max(worst, s);
        state.SetIterationTime(s);
    }
    state.counters["worst_ms"] = worst * 1000.0;
    admin.reset();
}
BENCHMARK(BM_CivReplyLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

// At rest: the wired and Bluetooth ports held open by a silent controller
// and the network server's port published, nothing received. The share of
// one core the CI-V thread uses over the measured time.
static void BM_CivIdleCpu(benchmark::State &state)
{
    Fixture &f = fixture();
    ztest::Pty wired, bt;
    if (!wired.open(ztest::Pty::NonBlockingMaster) || !wired.link(f.root.path() + "/dev/ttyS2")
        || !bt.open(ztest::Pty::NonBlockingMaster) || !bt.link(f.root.path() + "/dev/rfcomm0")) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    auto admin = std::make_unique<CivDeviceAdmin>(nullptr);
    CivDevice *dev = admin->device();
    // The worker thread's handle, asked on the thread before its loop runs.
    pthread_t worker = pthread_self();
    QMetaObject::invokeMethod(dev, [&worker]() { worker = pthread_self(); }, Qt::BlockingQueuedConnection);
    dev->setParams(f.store.get(), "/dev/ttyS2", B19200);
    emit admin->start();
    // Settled: the Bluetooth port is open and the loop has run a while.
    for (int i = 0; i < 300 && dev->bluetoothFd() < 0; ++i)
        usleep(10000);
    usleep(200000);

    const double seconds = double(state.range(0));
    double share = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        // Silent, but shorter than the 5 s that close a quiet Bluetooth port:
        // measured in slices, the port is kept alive between them by one
        // request (not counted: it is answered outside the slices).
        double busy = 0, wall = 0;
        for (double left = seconds; left > 0; left -= 4.0) {
            const double slice = std::min(4.0, left);
            const double c0 = ztest::threadCpuSeconds(worker);
            const auto s0 = std::chrono::steady_clock::now();
            usleep(useconds_t(slice * 1e6));
            busy += ztest::threadCpuSeconds(worker) - c0;
            wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
            const QByteArray req = hx("FE FE A4 E0 03 FD");
            if (write(bt.master, req.constData(), size_t(req.size())) != req.size())
                break;
            usleep(100000);
            ztest::drainFd(bt.master);
            ztest::drainFd(wired.master);
        }
        share = wall > 0 ? busy / wall : 0;
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    state.counters["cpu_percent"] = share * 100.0;
    admin.reset();
}
BENCHMARK(BM_CivIdleCpu)->Arg(20)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ztest::silenceLog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture().store.reset();
    ztest::setSysroot(QString());
    return 0;
}
