// Cost of the operating screen.
//
//   xvfb-run -a -s "-screen 0 800x480x24" build/bench/bench_mainwindow
//
// TickWithNewFrequencyAndFrame: one 50 ms tick of the main window in which
// the front frequency changed and a new spectrum frame arrived (the frame's
// resampling, meters and CI-V trace, the comparison of every displayed
// item, the VFO redraw and the register-block rebuild); ...AndRepaint adds
// the event loop's repaint of what the tick changed (panadapter through
// OpenGL, Mesa's software renderer under Xvfb, readouts, meters).
//
// ApplicationAtRest: the real application on the simulator's board, as
// `./zr run --offscreen` runs it, left alone on the operating screen; the
// CPU share of each of its threads over ten seconds (counters, percent of
// one core; "main" is the GUI thread, "llvmpipe-*" the software renderer).
#include "tests/test_support.h"

#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "spectrum/zscopegl.h"
#include "ui/mainwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <memory>
#include <vector>

namespace {

std::vector<float> spectrumFrame(uint32_t n)
{
    std::vector<float> v(512);
    uint32_t seed = n * 2654435761u + 1;
    for (int i = 0; i < 512; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[size_t(i)] = -118.0f + float((seed >> 16) & 0x7FFF) / 32768.0f * 6.0f;
    }
    for (int c = 0; c < 6; ++c)
        v[size_t((40 + c * 77 + int(n % 5)) % 512)] = -60.0f - float(c) * 5.0f;
    return v;
}

void tickBench(benchmark::State &state, bool repaint)
{
    ztest::Sysroot root;
    MainWidget w;
    w.updateTimer()->stop();
    w.clockTimer()->stop();
    if (repaint) {
        w.show();
        for (int i = 0; i < 100; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
    }
    ZParamAdmin *s = w.paramAdmin();
    s->setParamItem(QStringLiteral("wparam"), QStringLiteral("ts"), 2);
    w.slot_timerUpdate(); // the first tick only resets
    w.slot_timerUpdate();
    const int f0 = s->vfoFront(QStringLiteral("freq")).value.toInt();
    uint32_t n = 0;
    std::vector<std::vector<float>> frames;
    for (int i = 0; i < 16; ++i)
        frames.push_back(spectrumFrame(uint32_t(i)));
    const quint64 painted = w.scope()->repaintCount();
    for (auto _ : state) {
        s->setVfoFront(QStringLiteral("freq"), f0 + int(n % 2) * 100);
        w.feedSpectrumFrame(frames[n % 16].data(), 512);
        w.slot_timerUpdate();
        if (repaint) {
            const quint64 before = w.scope()->repaintCount();
            for (int spin = 0; spin < 100000 && w.scope()->repaintCount() == before; ++spin)
                QCoreApplication::processEvents();
        }
        ++n;
    }
    if (repaint && w.scope()->repaintCount() - painted < quint64(state.iterations()))
        state.SkipWithError("the panadapter did not repaint on every tick");
}

void TickWithNewFrequencyAndFrame(benchmark::State &state)
{
    tickBench(state, false);
}
BENCHMARK(TickWithNewFrequencyAndFrame)->Unit(benchmark::kMicrosecond);

void TickWithNewFrequencyAndFrameAndRepaint(benchmark::State &state)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        state.SkipWithError("needs an X display (run under xvfb-run)");
        return;
    }
    tickBench(state, true);
}
BENCHMARK(TickWithNewFrequencyAndFrameAndRepaint)->Unit(benchmark::kMicrosecond);

// utime + stime of every thread of a process, in clock ticks, by thread id;
// names from /proc/<pid>/task/<tid>/comm.
QMap<int, QPair<QString, qint64>> threadTimes(qint64 pid)
{
    QMap<int, QPair<QString, qint64>> out;
    const QString dir = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &t : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = ztest::readFile(dir + "/" + t + "/stat");
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> f = stat.mid(close + 2).split(' ');
        if (f.size() < 13)
            continue;
        const qint64 ticks = f.at(11).toLongLong() + f.at(12).toLongLong(); // fields 14, 15
        QString name = QString::fromLatin1(ztest::readFile(dir + "/" + t + "/comm")).trimmed();
        if (t.toLongLong() == pid)
            name = QStringLiteral("main");
        out.insert(t.toInt(), {name, ticks});
    }
    return out;
}

void ApplicationAtRest(benchmark::State &state)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        state.SkipWithError("needs an X display (run under xvfb-run)");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString root = dir.path();
        ztest::Sim sim;
        if (!sim.start(root)) {
            state.SkipWithError("the simulator did not start");
            return;
        }
        QDir().mkpath(root + "/tmp");
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZR450_SYSROOT", root);
        env.insert("TMPDIR", root + "/tmp");
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("ALSA_CONFIG_PATH",
                   "/usr/share/alsa/alsa.conf:" ZR_BINARY_DIR "/sim/alsa/zr450-alsa.conf");
        app.setProcessEnvironment(env);
        app.setStandardOutputFile(QProcess::nullDevice());
        app.setStandardErrorFile(QProcess::nullDevice());
        app.start(QStringLiteral(ZR_BINARY_DIR "/zr450"), QStringList());
        if (!app.waitForStarted(10000)) {
            state.SkipWithError("the application did not start");
            return;
        }
        // At rest: past the delayed stage and the CI-V line's first quiet
        // period.
        QThread::sleep(15);
        const auto a = threadTimes(app.processId());
        QElapsedTimer t;
        t.start();
        QThread::sleep(10);
        const auto b = threadTimes(app.processId());
        const double secs = double(t.nsecsElapsed()) * 1e-9;
        state.SetIterationTime(secs);
        const double hz = double(sysconf(_SC_CLK_TCK));
        double total = 0.0;
        QMap<QString, int> seen;
        for (auto it = b.constBegin(); it != b.constEnd(); ++it) {
            const qint64 before = a.contains(it.key()) ? a.value(it.key()).second : 0;
            const double pct = 100.0 * double(it.value().second - before) / hz / secs;
            total += pct;
            QString name = it.value().first;
            const int k = seen.value(name);
            seen[name] = k + 1;
            if (k)
                name += QStringLiteral("#%1").arg(k);
            state.counters[name.toStdString()] = pct;
        }
        state.counters["total"] = total;
        app.terminate();
        app.waitForFinished(15000);
    }
}
BENCHMARK(ApplicationAtRest)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ztest::silenceLog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
