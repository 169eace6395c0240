// Cost of one panadapter update on the GUI thread (20 per second): a 512-bin
// spectrum resampled to the 800 x 250 widget and one repaint.
//
//   xvfb-run -a -s "-screen 0 800x480x24" build/bench/bench_ui
//
// Without an X display only the raster part runs (QT_QPA_PLATFORM=offscreen);
// the OpenGL repaint benchmark then reports that it was skipped.
#include "spectrum/zscopegl.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace {

// A noise floor with a few carriers that move a little every frame, like a
// band seen through the radio.
class SpectrumSource
{
public:
    QVector<float> next()
    {
        QVector<float> v(512);
        for (int i = 0; i < 512; ++i) {
            m_seed = m_seed * 1103515245u + 12345u;
            const float noise = float((m_seed >> 16) & 0x7FFF) / 32768.0f * 6.0f;
            v[i] = -118.0f + noise;
        }
        for (int c = 0; c < 6; ++c) {
            const int bin = (40 + c * 77 + int(m_frame) % 5) % 512;
            v[bin] = -60.0f - float(c) * 5.0f;
        }
        ++m_frame;
        return v;
    }

private:
    uint32_t m_seed = 1;
    uint32_t m_frame = 0;
};

ZScopeGL *makeScope()
{
    auto *s = new ZScopeGL(nullptr, 0, 176, 800, 250);
    s->resize(800, 250);
    QList<float> hg;
    for (int j = 1; j <= 4; ++j)
        hg << float(j * s->spectrumHeight()) / 5.0f;
    s->setHorizontalGrid(hg);
    s->setDivisions(6);
    s->setAverage(0.9f);
    s->setStatusText(QStringLiteral("-073dBm"));
    s->setMode(2);
    return s;
}

void BM_SetSamples(benchmark::State &state)
{
    QScopedPointer<ZScopeGL> s(makeScope());
    SpectrumSource src;
    const QVector<float> v = src.next();
    for (auto _ : state) {
        s->setSamples(v);
        benchmark::DoNotOptimize(s->samples().constData());
    }
}
BENCHMARK(BM_SetSamples);

// Everything a repaint computes and draws, into an image: the CPU share.
void BM_SetSamplesAndFrameRaster(benchmark::State &state)
{
    QScopedPointer<ZScopeGL> s(makeScope());
    SpectrumSource src;
    QImage target(800, 250, QImage::Format_RGB32);
    for (auto _ : state) {
        state.PauseTiming();
        const QVector<float> v = src.next();
        state.ResumeTiming();
        s->setSamples(v);
        QPainter p(&target);
        s->renderFrame(p);
    }
}
BENCHMARK(BM_SetSamplesAndFrameRaster)->Unit(benchmark::kMicrosecond);

// The widget on screen: setSamples, replot and the event loop's repaint
// through OpenGL (the window is composed with the widget's texture),
// finished on the GPU (Mesa's software renderer under Xvfb). Wall time
// counts; CPU time is only this thread's share.
void BM_SetSamplesAndRepaintGL(benchmark::State &state)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        state.SkipWithError("needs an X display (run under xvfb-run)");
        return;
    }
    // Placed in a window like the main screen's.
    QWidget window;
    window.resize(800, 480);
    ZScopeGL *s = makeScope();
    s->setParent(&window);
    s->move(0, 176);
    s->show();
    window.show();
    for (int i = 0; i < 300 && s->repaintCount() == 0; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    const quint64 before = s->repaintCount();
    SpectrumSource src;
    for (auto _ : state) {
        state.PauseTiming();
        const QVector<float> v = src.next();
        state.ResumeTiming();
        s->setSamples(v);
        // The display tick: replot, then the event loop paints.
        const quint64 n = s->repaintCount();
        s->replot();
        for (int spin = 0; spin < 100000 && s->repaintCount() == n; ++spin)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        s->makeCurrent();
        if (QOpenGLContext *ctx = QOpenGLContext::currentContext())
            ctx->functions()->glFinish();
        s->doneCurrent();
    }
    // Every iteration must have drawn a frame, or the figure means nothing.
    if (s->repaintCount() - before < quint64(state.iterations()))
        state.SkipWithError("the widget did not repaint on every call");
}
BENCHMARK(BM_SetSamplesAndRepaintGL)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
