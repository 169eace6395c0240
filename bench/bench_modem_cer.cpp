// Character error rate versus signal-to-noise ratio for each modem, on a flat
// channel (white Gaussian noise) and on a fading one (two equal paths, 0.5 Hz
// Doppler spread, 1 ms apart: the CCIR "moderate" HF channel), with the SNR
// at which the error rate crosses 1 %, the CPU speed of each demodulator in
// multiples of real time, and the CW speed estimate from 5 to 50 WPM.
//
// SNR is the signal power (key-down power for CW, the mean power on the
// fading channel) over the noise power in a 3 kHz bandwidth. Each cell is
// the mean over `runs` texts of about `chars` characters, each with its own
// noise (and fading) draw.
//
// RTTY is measured on minimodem's own transmissions (`minimodem --tx`, which
// begin and end with a little idle mark) plus noise: each noisy file is
// decoded by `minimodem --rx` and by ours, and every character either prints
// counts. For CW and PSK the signals come from our modulators,
// and characters are counted from the start of the signal to its end (the
// modem dialog hides the noise before and after behind its squelch).
//
//   bench_modem_cer [--mode cw|rtty|bpsk|speed] [--channel flat|fading]
//                   [--chars N] [--runs N] [--out DIR] [--no-minimodem] [--ours-only]
//
// --no-minimodem leaves minimodem out altogether (RTTY from our modulator);
// --ours-only still takes minimodem's transmissions but decodes only ours.
//
// The tables go to standard output and, as tab-separated points, to
// DIR/cer_flat.tsv and DIR/cer_fading.tsv (DIR defaults to the current
// directory). When gnuplot is installed (Debian package gnuplot-nox) the
// benchmark also draws DIR/cer_flat.png and DIR/cer_fading.png; the script
// it runs is left next to them, so the plot can be redrawn with
//
//   gnuplot DIR/cer_flat.gp
#include "modem/cw_dem.h"
#include "modem/tools/modem_harness.h"
#include "modem/zmodem_cwtone.h"
#include "modem/zmodem_rtty.h"
#include "modem/zmodem_wav.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <vector>

namespace {

enum Kind { CW, RTTY, PSK };

struct Variant {
    Kind kind;
    const char *name;
    float a;    // WPM, baud or PSK rate index
    float b;    // RTTY shift
    int lo, hi; // flat channel: SNR range in dB, 1 dB steps
    int flo, fhi; // fading channel: SNR range, 2 dB steps
};

const Variant kVariants[] = {
    {CW, "CW 20 WPM", 20, 0, -14, 0, -10, 20},
    {CW, "CW 35 WPM", 35, 0, -12, 2, -8, 22},
    {RTTY, "RTTY 45.45/170", 45.45f, 170, -12, -1, -8, 24},
    {RTTY, "RTTY 75/170", 75, 170, -10, 1, -6, 26},
    {RTTY, "RTTY 50/850", 50, 850, -12, -1, -8, 24},
    {PSK, "PSK31", 0, 0, -16, -6, -14, 16},
    {PSK, "PSK63", 1, 0, -13, -3, -10, 20},
    {PSK, "PSK125", 2, 0, -10, 0, -8, 22},
};

const double kNoiseRms = 2000;
const double kFadeSpread = 0.5, kFadeDelay = 0.001;

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One row of results: CER per SNR, and the SNR of 1 % CER.
struct Row {
    QString name;
    std::map<int, double> cer; // percent
};

// The SNR at which the CER first rises through 1 % going down from the
// highest SNR, interpolated on the logarithm of the CER; "<x" when it stays
// below 1 % down to the lowest SNR measured, ">x" when it is above at the top.
QString onePercentPoint(const Row &r)
{
    if (r.cer.empty())
        return QStringLiteral("-");
    auto it = r.cer.rbegin();
    if (it->second > 1.0)
        return QStringLiteral(">%1").arg(it->first);
    for (auto prev = it++; it != r.cer.rend(); prev = it++) {
        if (it->second > 1.0) {
            const double e0 = std::log(std::max(prev->second, 0.01)), e1 = std::log(it->second);
            const double t = (std::log(1.0) - e0) / (e1 - e0);
            return QString::number(prev->first + t * (it->first - prev->first), 'f', 1);
        }
    }
    return QStringLiteral("<%1").arg(r.cer.begin()->first);
}

void printTable(const char *title, const std::vector<Row> &rows)
{
    std::vector<int> cols;
    for (const Row &r : rows)
        for (const auto &p : r.cer)
            if (std::find(cols.begin(), cols.end(), p.first) == cols.end())
                cols.push_back(p.first);
    std::sort(cols.rbegin(), cols.rend());
    printf("\n%s\n%-25s", title, "SNR dB");
    for (int s : cols)
        printf("%6d", s);
    printf("   1%% at\n");
    for (const Row &r : rows) {
        printf("%-25s", qPrintable(r.name));
        for (int s : cols) {
            auto it = r.cer.find(s);
            if (it == r.cer.end())
                printf("%6s", "");
            else
                printf("%6.1f", it->second);
        }
        printf("%8s\n", qPrintable(onePercentPoint(r)));
    }
    fflush(stdout);
}

// Table points for the plot, and the plot itself when gnuplot is there.
void writePlot(const QString &dir, const QString &channel, const std::vector<Row> &rows)
{
    const QString base = QDir(dir).filePath(QStringLiteral("cer_") + channel);
    QFile tsv(base + QStringLiteral(".tsv"));
    if (!tsv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        fprintf(stderr, "bench_modem_cer: cannot write %s\n", qPrintable(tsv.fileName()));
        return;
    }
    QTextStream t(&tsv);
    // One block per row (gnuplot's "index"), points with CER 0 drawn at the
    // bottom of the logarithmic axis.
    for (const Row &r : rows) {
        t << "# " << r.name << "\n";
        for (const auto &p : r.cer)
            t << p.first << "\t" << std::max(p.second, 0.05) << "\n";
        t << "\n\n";
    }
    tsv.close();
    QFile gp(base + QStringLiteral(".gp"));
    if (!gp.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    QTextStream g(&gp);
    g << "set terminal pngcairo size 1100,700\n"
      << "set output '" << base << ".png'\n"
      << "set title 'Character error rate, " << channel << " channel (noise in 3 kHz)'\n"
      << "set xlabel 'SNR in 3 kHz (dB)'\nset ylabel 'CER (%)'\n"
      << "set logscale y\nset yrange [0.05:100]\nset grid\nset key outside right\n"
      << "set arrow from graph 0, first 1 to graph 1, first 1 nohead dt 2\n"
      << "plot ";
    for (size_t i = 0; i < rows.size(); i++)
        g << (i ? ", " : "") << "'" << base << ".tsv' index " << i << " with linespoints title '" << rows[i].name << "'";
    g << "\n";
    gp.close();
    const QString gnuplot = QStandardPaths::findExecutable(QStringLiteral("gnuplot"));
    if (gnuplot.isEmpty()) {
        printf("(gnuplot not installed: no plot; points in %s.tsv)\n", qPrintable(base));
        return;
    }
    QProcess p;
    p.start(gnuplot, {gp.fileName()});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        fprintf(stderr, "bench_modem_cer: gnuplot failed: %s\n", p.readAllStandardError().constData());
    else
        printf("plot: %s.png (gnuplot %s.gp)\n", qPrintable(base), qPrintable(base));
}

// Runs a program to completion (bounded); its standard output, or a null
// array when it failed.
QByteArray run(const QString &program, const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return QByteArray();
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished(2000);
        return QByteArray();
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    QByteArray out = p.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

QStringList minimodemMode(const Variant &v)
{
    const float fc = 1500;
    return {QStringLiteral("--baudot"), QStringLiteral("--stopbits"), QStringLiteral("1.5"),
            QStringLiteral("-M"), QString::number(fc + v.b / 2), QStringLiteral("-S"), QString::number(fc - v.b / 2),
            QString::number(v.a)};
}

struct Speed {
    double audio = 0, cpu = 0;
};

class Bench
{
public:
    QString only, channelOnly, outDir = QStringLiteral(".");
    int chars = 300, runs = 3;
    bool useMinimodem = true;
    bool minimodemRx = true;
    QString minimodem;
    QTemporaryDir tmp;
    std::map<QString, Speed> speed;

    // The clean signal of a variant for run r (cached), on the unit scale.
    struct Clean {
        QByteArray text;
        std::vector<float> s;
    };
    std::map<std::pair<int, int>, Clean> cache;

    const Clean &clean(int vi, int r)
    {
        auto key = std::make_pair(vi, r);
        auto it = cache.find(key);
        if (it != cache.end())
            return it->second;
        const Variant &v = kVariants[vi];
        Clean c;
        const uint32_t seed = 1000u * uint32_t(r) + 17;
        c.text = zmh::sample_text(chars, seed, v.kind == RTTY);
        if (v.kind == CW) {
            c.s = zmh::cw_signal(c.text, v.a, 800);
        } else if (v.kind == PSK) {
            c.s = zmh::psk_signal(QString::fromLatin1(c.text), 1000, int(v.a));
        } else {
            // minimodem's transmission of the text, or ours without it.
            if (!minimodem.isEmpty()) {
                const QString f = tmp.filePath(QStringLiteral("tx%1_%2.wav").arg(vi).arg(r));
                QStringList args = {QStringLiteral("--tx"), QStringLiteral("-R"), QStringLiteral("16000"),
                                    QStringLiteral("-f"), f};
                args += minimodemMode(v);
                zwav_info_t info;
                QString err;
                if (run(minimodem, args, c.text + "\n").isNull() || zwav_read(f, &c.s, &info, &err) < 0) {
                    fprintf(stderr, "bench_modem_cer: minimodem --tx failed\n");
                    c.s.clear();
                }
                for (float &x : c.s)
                    x /= 32768.0f;
            } else {
                c.s = zmh::rtty_signal(c.text, 1500, v.a, v.b);
            }
        }
        return cache.emplace(key, std::move(c)).first->second;
    }

    // One noisy copy: CER in percent, for ours and (RTTY) minimodem.
    void measure(int vi, int r, int snr, bool fade, double *ours, double *theirs)
    {
        const Variant &v = kVariants[vi];
        const Clean &c = clean(vi, r);
        const uint32_t seed = 7919u * uint32_t(r) + 31u * uint32_t(snr + 100) + (fade ? 5 : 0);
        std::vector<float> s = c.s;
        const double power = zmh::active_power(c.s);
        if (fade)
            s = zmh::fading(c.s, kFadeSpread, kFadeDelay, seed * 3 + 1);
        QByteArray got;
        double t0 = 0, t1 = 0;
        size_t audio = 0;
        zmh::Window w;
        if (v.kind == CW) {
            w.from = size_t(0.5 * zmh::kRate);
            w.to = w.from + s.size() + size_t(35 * 1.2 / v.a * zmh::kRate);
            const std::vector<float> x = zmh::channel(s, snr, kNoiseRms, seed, 0.5, 5.0, power);
            audio = x.size();
            t0 = cpuSeconds();
            got = zmh::decode_cw(x, 800, nullptr, w);
            t1 = cpuSeconds();
        } else if (v.kind == PSK) {
            w.from = size_t(0.5 * zmh::kRate);
            w.to = w.from + s.size();
            const std::vector<float> x = zmh::channel(s, snr, kNoiseRms, seed, 0.5, 1.0, power);
            audio = x.size();
            t0 = cpuSeconds();
            got = zmh::decode_psk(x, 1000, int(v.a), true, nullptr, nullptr, w);
            t1 = cpuSeconds();
        } else {
            const std::vector<float> x = zmh::channel(s, snr, kNoiseRms, seed, 0, 0, power);
            audio = x.size();
            t0 = cpuSeconds();
            got = zmh::decode_rtty(x, 1500, v.a, v.b);
            t1 = cpuSeconds();
            if (theirs && !minimodem.isEmpty() && minimodemRx) {
                std::vector<int16_t> pcm(x.size());
                for (size_t i = 0; i < x.size(); i++)
                    pcm[i] = int16_t(x[i]);
                const QString f = tmp.filePath(QStringLiteral("rx.wav"));
                zwav_write(f, pcm, zmh::kRate);
                QStringList args = {QStringLiteral("--rx"), QStringLiteral("-q"), QStringLiteral("-R"),
                                    QStringLiteral("16000"), QStringLiteral("-f"), f};
                args += minimodemMode(v);
                const QByteArray mm = run(minimodem, args);
                *theirs = 100 * std::min(1.0, zmh::cer(c.text, mm));
            }
        }
        Speed &sp = speed[QString::fromLatin1(v.name)];
        sp.cpu += t1 - t0;
        sp.audio += double(audio) / zmh::kRate;
        *ours = 100 * std::min(1.0, zmh::cer(c.text, got));
    }

    void sweep(bool fade)
    {
        std::vector<Row> rows;
        const int nv = int(sizeof kVariants / sizeof *kVariants);
        for (int vi = 0; vi < nv; vi++) {
            const Variant &v = kVariants[vi];
            const char *mode = v.kind == CW ? "cw" : v.kind == RTTY ? "rtty" : "bpsk";
            if (!only.isEmpty() && only != QLatin1String(mode))
                continue;
            const bool mm = v.kind == RTTY && !minimodem.isEmpty() && minimodemRx;
            Row ours, theirs;
            ours.name = QString::fromLatin1(v.name);
            theirs.name = ours.name + QStringLiteral(" minimodem");
            fprintf(stderr, "%s%s ...\n", v.name, fade ? " (fading)" : "");
            const int hi = fade ? v.fhi : v.hi, lo = fade ? v.flo : v.lo, step = fade ? 2 : 1;
            for (int snr = hi; snr >= lo; snr -= step) {
                double so = 0, st = 0;
                for (int r = 0; r < runs; r++) {
                    double o = 0, t = 0;
                    measure(vi, r, snr, fade, &o, mm ? &t : nullptr);
                    so += o;
                    st += t;
                }
                ours.cer[snr] = so / runs;
                if (mm)
                    theirs.cer[snr] = st / runs;
            }
            rows.push_back(ours);
            if (mm)
                rows.push_back(theirs);
        }
        const QString channel = fade ? QStringLiteral("fading") : QStringLiteral("flat");
        const QString title = QStringLiteral("CER %, %1 channel (%2 runs of ~%3 characters)")
                                  .arg(fade ? QStringLiteral("fading (2 paths, 0.5 Hz, 1 ms)") : QStringLiteral("flat"))
                                  .arg(runs)
                                  .arg(chars);
        printTable(qPrintable(title), rows);
        writePlot(outDir, channel, rows);
    }

    // CW speed estimates: steady speeds, and a change of speed in mid-text.
    void speeds()
    {
        printf("\nCW speed estimate (clean, and at 0 dB), WPM\n%-22s%10s%10s%10s%10s\n", "sent", "clean",
               "error", "0 dB", "error");
        struct Case {
            float first, second;
        };
        const Case cases[] = {{5, 0}, {8, 0}, {12, 0}, {15, 0}, {20, 0}, {25, 0}, {30, 0}, {40, 0}, {50, 0},
                              {15, 30}, {30, 15}, {10, 40}, {40, 10}, {20, 50}, {50, 20}};
        for (const Case &c : cases) {
            const QByteArray a = zmh::sample_text(c.second > 0 ? 200 : 150, 77, false);
            std::vector<float> s = zmh::cw_signal(a + " ", c.first, 800);
            float last = c.first;
            if (c.second > 0) {
                // The second half, at the new speed, long enough to be learnt.
                const QByteArray b = zmh::sample_text(200, 78, false);
                const std::vector<float> t = zmh::cw_signal(b, c.second, 800);
                s.insert(s.end(), t.begin(), t.end());
                last = c.second;
            }
            unsigned wpm[2] = {0, 0};
            for (int k = 0; k < 2; k++) {
                const std::vector<float> x = zmh::channel(s, k ? 0 : 200, kNoiseRms, 99, 0.5, 5.0);
                zmh::decode_cw(x, 800, &wpm[k]);
            }
            const QString sent = c.second > 0 ? QStringLiteral("%1 then %2").arg(c.first).arg(c.second)
                                              : QString::number(c.first);
            printf("%-22s%10u%9.1f%%%10u%9.1f%%\n", qPrintable(sent), wpm[0], 100.0 * (wpm[0] - last) / last, wpm[1],
                   100.0 * (wpm[1] - last) / last);
            fflush(stdout);
        }
    }

    void printSpeeds()
    {
        printf("\nDemodulator speed (CPU time of the decoding loops, one core)\n");
        for (const auto &p : speed)
            if (p.second.cpu > 0)
                printf("%-24s%8.0f x real time\n", qPrintable(p.first), p.second.audio / p.second.cpu);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    Bench b;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i++) {
        const bool more = i + 1 < args.size();
        if (args[i] == "--mode" && more)
            b.only = args[++i];
        else if (args[i] == "--channel" && more)
            b.channelOnly = args[++i];
        else if (args[i] == "--chars" && more)
            b.chars = std::max(20, args[++i].toInt());
        else if (args[i] == "--runs" && more)
            b.runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--out" && more)
            b.outDir = args[++i];
        else if (args[i] == "--no-minimodem")
            b.useMinimodem = false;
        else if (args[i] == "--ours-only")
            b.minimodemRx = false;
        else {
            fprintf(stderr, "usage: bench_modem_cer [--mode cw|rtty|bpsk|speed] [--channel flat|fading] "
                            "[--chars N] [--runs N] [--out DIR] [--no-minimodem] [--ours-only]\n");
            return 2;
        }
    }
    if (b.useMinimodem)
        b.minimodem = QStandardPaths::findExecutable(QStringLiteral("minimodem"));
    if (b.minimodem.isEmpty())
        printf("(minimodem not used: RTTY signals from our own modulator, no minimodem rows)\n");
    QDir().mkpath(b.outDir);
    if (b.only.isEmpty() || b.only == "speed")
        b.speeds();
    if (b.only != "speed") {
        if (b.channelOnly.isEmpty() || b.channelOnly == "flat")
            b.sweep(false);
        if (b.channelOnly.isEmpty() || b.channelOnly == "fading")
            b.sweep(true);
        b.printSpeeds();
    }
    return 0;
}
