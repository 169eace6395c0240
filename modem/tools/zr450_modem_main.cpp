// zr450-modem: decodes CW, RTTY and BPSK recordings and writes test signals
// with the radio's own modems, fed exactly as the modem host feeds them
// (16 kHz, blocks of 1024 raw 16-bit values; transmit samples scaled by 5000).
#include "modem/cw_dem.h"
#include "modem/tools/modem_harness.h"
#include "modem/zmodem_cwtone.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"
#include "modem/zmodem_wav.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <math.h>
#include <stdio.h>

static const int kRate = 16000;
static const unsigned kBlock = 1024;
// Longest signal the tool writes.
static const double kMaxSeconds = 3600;

static void emit_char(char c)
{
    const unsigned char u = (unsigned char)c;
    if (u == 254 || u == 255)
        return; // undecodable: the display ignores these
    fputc(c, stdout);
    fflush(stdout);
}

// A modem that refused its settings has logged why.
static int refused(const char *what)
{
    fprintf(stderr, "zr450-modem: the %s refused these settings\n", what);
    return 1;
}

static int pskIndex(const QCommandLineParser &p)
{
    if (p.isSet("psk125"))
        return 2;
    if (p.isSet("psk63"))
        return 1;
    return 0;
}

static int decode(const QCommandLineParser &p, const QString &mode, const QString &file)
{
    std::vector<float> x;
    zwav_info_t info;
    QString err;
    const int rc = zwav_read(file, &x, &info, &err);
    if (rc < 0) {
        fprintf(stderr, "zr450-modem: %s: %s\n", qPrintable(file), qPrintable(err));
        return 2;
    }
    if (info.rate != kRate) {
        fprintf(stderr, "zr450-modem: %s: sample rate %d Hz; only %d Hz is supported (resample first)\n",
                qPrintable(file), info.rate, kRate);
        return 2;
    }
    const bool cw = mode == "cw";
    const float fc = p.isSet("fc") ? p.value("fc").toFloat() : (cw ? 800.0f : 1000.0f);
    // Silence after the recording lets the last character complete.
    x.resize(x.size() + (size_t)((cw ? 4.0 : 1.0) * kRate), 0.0f);
    x.resize((x.size() + kBlock - 1) / kBlock * kBlock, 0.0f);

    char c;
    if (cw) {
        cw_dem_t *q = cw_dem_create(kRate, fc);
        if (!q)
            return refused("CW decoder");
        for (size_t i = 0; i < x.size(); i += kBlock) {
            cw_dem_process(q, &x[i], kBlock);
            while (cw_dem_getchar(q, &c))
                emit_char(c);
        }
        fprintf(stderr, "zr450-modem: speed %u WPM\n", cw_dem_get_wpm(q));
        cw_dem_destroy(q);
    } else if (mode == "rtty") {
        rtty_dem_t *q = rtty_dem_create(kRate, fc, kBlock);
        if (!q)
            return refused("RTTY demodulator");
        rtty_dem_set_rate(q, p.isSet("rate") ? p.value("rate").toFloat() : 45.45f);
        rtty_dem_set_shift(q, p.isSet("shift") ? p.value("shift").toFloat() : 170.0f);
        for (size_t i = 0; i < x.size(); i += kBlock) {
            rtty_dem_process(q, &x[i], kBlock);
            while (rtty_dem_getchar(q, &c))
                emit_char(c);
        }
        rtty_dem_destroy(q);
    } else {
        psk_dem_t *q = psk_dem_create(kRate, fc);
        if (!q)
            return refused("PSK demodulator");
        psk_dem_set_rate(q, pskIndex(p));
        psk_dem_set_afc(q, !p.isSet("no-afc"));
        // The first block applies the rate (and is dropped, as on the radio).
        float silence[kBlock] = {};
        psk_dem_process(q, silence, kBlock);
        for (size_t i = 0; i < x.size(); i += kBlock) {
            psk_dem_process(q, &x[i], kBlock);
            while (psk_dem_getchar(q, &c))
                emit_char(c);
        }
        fprintf(stderr, "zr450-modem: quality %d, frequency %.1f Hz\n", psk_dem_get_quality(q),
                psk_dem_get_frequency(q));
        psk_dem_destroy(q);
    }
    fputc('\n', stdout);
    return 0;
}

static int encode(const QCommandLineParser &p, const QString &mode, const QString &file)
{
    const QByteArray text = p.value("text").toLatin1();
    std::vector<float> y;
    const bool cw = mode == "cw";
    const float fc = p.isSet("fc") ? p.value("fc").toFloat() : (cw ? 800.0f : 1000.0f);
    if (cw) {
        const float wpm = p.isSet("wpm") ? p.value("wpm").toFloat() : 20.0f;
        y = cw_keyed_tone(text.constData(), wpm, fc, kRate, 1.0f, 0.5f, 0.5f);
    } else if (mode == "rtty") {
        y = zmh::rtty_signal(text, fc, p.isSet("rate") ? p.value("rate").toFloat() : 45.45f,
                             p.isSet("shift") ? p.value("shift").toFloat() : 170.0f, kMaxSeconds);
    } else {
        y = zmh::psk_signal(QString::fromLatin1(text), fc, pskIndex(p), kMaxSeconds);
    }
    if (y.empty())
        return refused(cw ? "CW keyer" : mode == "rtty" ? "RTTY modulator" : "PSK modulator");
    std::vector<int16_t> pcm(y.size());
    for (size_t i = 0; i < y.size(); i++)
        pcm[i] = (int16_t)(y[i] * 5000.0f);
    if (zwav_write(file, pcm, kRate) < 0) {
        fprintf(stderr, "zr450-modem: cannot write %s\n", qPrintable(file));
        return 2;
    }
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zr450-modem");
    QCommandLineParser p;
    p.setApplicationDescription(
        "Decodes CW, RTTY and BPSK recordings (16 kHz, 16-bit WAV) and writes test signals.\n"
        "  zr450-modem decode --mode cw|rtty|bpsk [options] FILE.wav\n"
        "  zr450-modem encode --mode rtty|bpsk|cw [options] --text TEXT OUT.wav");
    p.addHelpOption();
    p.addPositionalArgument("command", "decode or encode");
    p.addPositionalArgument("file", "WAV file to read or write");
    p.addOptions({
        {"mode", "cw, rtty or bpsk", "mode"},
        {"fc", "Tone (CW, default 800) or carrier/centre frequency (default 1000) in Hz", "hz"},
        {"rate", "RTTY rate in baud (default 45.45)", "baud"},
        {"shift", "RTTY shift in Hz (default 170)", "hz"},
        {"psk31", "BPSK at 31.25 baud (default)"},
        {"psk63", "BPSK at 62.5 baud"},
        {"psk125", "BPSK at 125 baud"},
        {"no-afc", "BPSK: no automatic frequency control"},
        {"wpm", "CW speed for encode (default 20)", "wpm"},
        {"text", "Text to encode", "text"},
    });
    p.process(app);
    const QStringList args = p.positionalArguments();
    const QString mode = p.value("mode").toLower();
    const bool modeOk = mode == "cw" || mode == "rtty" || mode == "bpsk";
    if (args.size() != 2 || !modeOk || (args[0] != "decode" && args[0] != "encode")
        || (args[0] == "encode" && !p.isSet("text"))) {
        fprintf(stderr, "%s", qPrintable(p.helpText()));
        return 1;
    }
    bool ok = true;
    for (const char *opt : {"fc", "rate", "shift", "wpm"}) {
        if (!p.isSet(opt))
            continue;
        const float v = p.value(opt).toFloat(&ok);
        if (!ok || !(v > 0) || !std::isfinite(v)) {
            fprintf(stderr, "zr450-modem: invalid --%s value\n", opt);
            return 1;
        }
    }
    return args[0] == "decode" ? decode(p, mode, args[1]) : encode(p, mode, args[1]);
}
