// Character error rate versus signal-to-noise ratio for each modem. The
// noise is white Gaussian noise; SNR is the signal power (key-down power for
// CW) over the noise power in a 3 kHz bandwidth. Each cell is the mean over
// several texts of about 300 characters. Characters decoded from the noise
// before and after the transmission are not counted (the modem dialog hides
// them behind its squelch).
//
//   bench_modem_cer [--mode cw|rtty|bpsk] [--chars N] [--runs N]
#include "modem/tools/modem_harness.h"

#include <QCoreApplication>
#include <QStringList>

#include <stdio.h>
#include <string.h>

struct Variant {
    const char *mode;
    const char *name;
    float a; // wpm, baud or PSK rate index
    float b; // shift
};

static const Variant kVariants[] = {
    {"cw", "CW 20 WPM", 20, 0},
    {"cw", "CW 35 WPM", 35, 0},
    {"rtty", "RTTY 45.45/170", 45.45f, 170},
    {"rtty", "RTTY 75/170", 75, 170},
    {"rtty", "RTTY 300/850", 300, 850},
    {"bpsk", "PSK31", 0, 0},
    {"bpsk", "PSK63", 1, 0},
    {"bpsk", "PSK125", 2, 0},
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString only;
    int chars = 300, runs = 3;
    for (int i = 1; i + 1 < args.size(); i++) {
        if (args[i] == "--mode")
            only = args[i + 1];
        else if (args[i] == "--chars")
            chars = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
    }
    const int snrs[] = {10, 4, 0, -2, -4, -6, -8, -10, -12, -14, -16, -18};
    printf("CER %% (noise in 3 kHz; %d runs of ~%d characters)\n", runs, chars);
    printf("%-16s", "SNR dB");
    for (int s : snrs)
        printf("%6d", s);
    printf("\n");
    for (const Variant &v : kVariants) {
        if (!only.isEmpty() && only != v.mode)
            continue;
        printf("%-16s", v.name);
        fflush(stdout);
        for (int snr : snrs) {
            double sum = 0;
            for (int r = 0; r < runs; r++) {
                const uint32_t seed = 1000u * (uint32_t)r + 17;
                const bool figures = strcmp(v.mode, "rtty") == 0;
                const QByteArray text = zmh::sample_text(chars, seed, figures);
                std::vector<float> s;
                QByteArray got;
                // Characters count from the start of the signal to its end
                // (CW: plus the silence that ends the last character).
                zmh::Window w;
                w.from = (size_t)(0.5 * zmh::kRate);
                if (!strcmp(v.mode, "cw")) {
                    s = zmh::cw_signal(text, v.a, 800);
                    w.to = w.from + s.size() + (size_t)(35 * 1.2 / v.a * zmh::kRate);
                    got = zmh::decode_cw(zmh::channel(s, snr, 2000, seed + 1, 0.5, 5.0), 800, nullptr, w);
                } else if (!strcmp(v.mode, "rtty")) {
                    s = zmh::rtty_signal(text, 1000, v.a, v.b);
                    w.to = w.from + s.size();
                    got = zmh::decode_rtty(zmh::channel(s, snr, 2000, seed + 1), 1000, v.a, v.b, w);
                } else {
                    s = zmh::psk_signal(QString::fromLatin1(text), 1000, (int)v.a);
                    w.to = w.from + s.size();
                    got = zmh::decode_psk(zmh::channel(s, snr, 2000, seed + 1), 1000, (int)v.a, true,
                                          nullptr, nullptr, w);
                }
                double e = zmh::cer(text, got);
                sum += e > 1 ? 1 : e;
            }
            printf("%6.1f", 100 * sum / runs);
            fflush(stdout);
        }
        printf("\n");
    }
    return 0;
}
