// Digital modes: varicode and ITA2 tables, CW tables and word-space rules,
// character queues, WAV parsing, loopbacks of every modulator through its
// demodulator (clean, noisy, off frequency), the command-line tool, and
// cross-checks against minimodem.
#include "modem/cw_dem.h"
#include "modem/zmodem_cwtone.h"
#include "modem/tools/modem_harness.h"
#include "modem/varicode.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_ring.h"
#include "modem/zmodem_rtty.h"
#include "modem/zmodem_wav.h"
#include "tests/test_support.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <math.h>
#include <random>
#include <thread>

// Clean keyed CW at 20 WPM and 800 Hz on the host's scale; one dot length
// in samples.
static const double kCwDot = 0.06 * 16000;
static std::vector<float> cwTone(const char *text)
{
    return cw_keyed_tone(text, 20, 800, 16000, 5000, 0, 0);
}
static void append(std::vector<float> &x, const std::vector<float> &y)
{
    x.insert(x.end(), y.begin(), y.end());
}

static const float kRttyRates[] = {45, 45.45f, 50, 56, 75, 100, 110, 150, 200, 300};
static const float kRttyShifts[] = {23, 85, 160, 170, 182, 200, 240, 350, 425, 850};

// Tone level over a window, by correlation at frequency f.
static double toneLevel(const std::vector<float> &y, double f, size_t from, size_t n)
{
    double re = 0, im = 0;
    for (size_t i = from; i < from + n && i < y.size(); i++) {
        const double ph = 2 * M_PI * f * (double)i / zmh::kRate;
        re += y[i] * cos(ph);
        im += y[i] * sin(ph);
    }
    return sqrt(re * re + im * im);
}

// The ITA2 codes in a clean modulator output, read at the known bit timing
// (32 mark bits of preamble, then 7.5 bits per character).
static QList<int> rttyCodes(const std::vector<float> &y, float fc, float rate, float shift)
{
    QList<int> codes;
    const double spb = (double)zmh::kRate / rate;
    const double mark = fc + shift / 2, space = fc - shift / 2;
    auto bitAt = [&](double centre) {
        const size_t w = (size_t)(spb / 2);
        const size_t from = (size_t)(centre - w / 2);
        return toneLevel(y, mark, from, w) > toneLevel(y, space, from, w) ? 1 : 0;
    };
    for (int k = 0;; k++) {
        const double start = (32 + 7.5 * k) * spb;
        if (start + 7 * spb > y.size())
            break;
        if (bitAt(start + spb / 2) != 0)
            break; // no start bit: the transmission has ended
        int code = 0;
        for (int j = 0; j < 5; j++)
            code |= bitAt(start + (j + 1.5) * spb) << j;
        codes.append(code);
    }
    return codes;
}

// Bits of a clean PSK31 modulator output at 1000 Hz: 1 where the carrier
// keeps its sign from one symbol end to the next.
static QList<int> pskBits(const std::vector<float> &y)
{
    QList<int> bits;
    float prev = 1;
    for (size_t i = 511; i < y.size(); i += 512) {
        const float c = sinf((float)(2 * M_PI * (i % 16) / 16));
        const float amp = y[i] / c;
        if (fabsf(amp) < 0.5f)
            break;
        const float sign = amp > 0 ? 1 : -1;
        bits.append(sign == prev ? 1 : 0);
        prev = sign;
    }
    return bits;
}

static QString toolPath()
{
    return QStringLiteral(ZR_BINARY_DIR "/modem/zr450-modem");
}

// Runs a program to completion (bounded); returns its exit code or -1.
static int runProcess(const QString &program, const QStringList &args, QByteArray *out = nullptr,
                      const QByteArray &input = QByteArray(), QByteArray *err = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return -1;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class TestModem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The modems log set-up lines; keep the test output readable.
        qputenv("QT_LOGGING_RULES", "*.debug=false");
    }

    // ---------------------------------------------------------------- tables

    void varicodeEveryCharacterBothWays()
    {
        QSet<uint32_t> seen;
        for (unsigned c = 0; c < 128; c++) {
            uint8_t bits[24];
            const int n = varicode_get_bits_stream(c, bits);
            QVERIFY2(n >= 3 && n <= 12, qPrintable(QString::number(c)));
            QCOMPARE(bits[n - 1], uint8_t(0));
            QCOMPARE(bits[n - 2], uint8_t(0));
            uint32_t pattern = 0;
            for (int i = 0; i < n - 2; i++) {
                // No "00" inside a code: it is the character separator.
                if (i > 0)
                    QVERIFY(bits[i] || bits[i - 1]);
                pattern = (pattern << 1) | bits[i];
            }
            QCOMPARE(bits[0], uint8_t(1));
            QCOMPARE(bits[n - 3], uint8_t(1));
            QVERIFY(!seen.contains(pattern));
            seen.insert(pattern);
            QCOMPARE(varicode_get_ascii(pattern), (int)c);
            // The decoder's table holds the same code left-justified.
            QCOMPARE((uint32_t)VARICODE_TABLE[c], pattern << (16 - (n - 2)));
        }
        // Known codes of the standard table.
        QCOMPARE((int)gVaricode_LUT[' '].bits, 0b1);
        QCOMPARE((int)gVaricode_LUT['e'].bits, 0b11);
        QCOMPARE((int)gVaricode_LUT['t'].bits, 0b101);
        QCOMPARE((int)gVaricode_LUT[0].bits, 0b1010101011);
        QCOMPARE((int)gVaricode_LUT['\n'].bits, 0b11101);
        QCOMPARE((int)gVaricode_LUT['\r'].bits, 0b11111);
        // Every code of up to 9 bits is used, 40 of the 55 of 10 bits.
        int byLen[11] = {};
        for (unsigned c = 0; c < 128; c++)
            byLen[gVaricode_LUT[c].len]++;
        const int expected[11] = {0, 1, 1, 2, 3, 5, 8, 13, 21, 34, 40};
        for (int i = 0; i < 11; i++)
            QCOMPARE(byLen[i], expected[i]);
        uint8_t bits[24];
        QCOMPARE(varicode_get_bits_stream(128, bits), 8);
        QCOMPARE(bits[7], uint8_t(1));
        QCOMPARE(varicode_get_bits_stream(129, bits), 8);
        QCOMPARE(bits[0], uint8_t(0));
        QCOMPARE(varicode_get_bits_stream(130, bits), 0);
        QCOMPARE(varicode_get_ascii(0b100), -1);
    }

    void ita2Tables()
    {
        QCOMPARE(strlen(rtty_letters), size_t(32));
        QCOMPARE(strlen(rtty_figures), size_t(32));
        for (int c = 0; c < 128; c++) {
            const int v = rtty_ascii_to_ita2[c];
            if (!v)
                continue;
            const int code = v & 31;
            const char back = (v & 0x20) ? rtty_letters[code] : rtty_figures[code];
            char want = (char)toupper(c);
            if (c == '\r')
                want = '\n';     // CR and LF both read as a new line
            if (c == '\'')
                want = ',';      // the receive table shows code 5 as ','
            if (c == 7)
                want = '#';      // and the bell as '#'
            QVERIFY2(back == want, qPrintable(QStringLiteral("char %1").arg(c)));
        }
        // Letters and space belong to the letters shift; CR and LF to figures.
        QVERIFY(rtty_ascii_to_ita2['A'] & 0x20);
        QVERIFY(rtty_ascii_to_ita2['z'] & 0x20);
        QCOMPARE((int)rtty_ascii_to_ita2[' '], 4 | 0x20);
        QCOMPARE((int)rtty_ascii_to_ita2['\r'], 8);
        QCOMPARE((int)rtty_ascii_to_ita2['\n'], 2);
        QCOMPARE((int)rtty_ascii_to_ita2['*'], 0);
        QCOMPARE(rtty_letters[27], '^');
        QCOMPARE(rtty_letters[31], '^');
    }

    void rttyShiftRulesAndTrailer()
    {
        struct Case {
            QByteArray text;
            QList<int> codes;
        };
        const QList<int> trailer = {8, 8, 8, 8, 8, 4, 4, 4, 4, 0};
        const QList<Case> cases = {
            // The first character announces its shift; a figure after
            // letters costs one FIGS, a space after figures forces LTRS.
            {"AB1", {31, 3, 25, 27, 23}},
            {"1 A", {27, 23, 31, 4, 3}},
            {"A\r\nB", {31, 3, 27, 8, 2, 31, 25}},
            {"RY", {31, 10, 21}},
            // No code: code 0 in figures shift; 8-bit: code 0 in letters.
            {"A*", {31, 3, 27, 0}},
            {"1\xe9", {27, 23, 31, 0}},
        };
        for (const Case &c : cases) {
            rtty_mod_t *q = rtty_mod_create(16000, 1000, 1024);
            rtty_mod_post_message(q, c.text.constData(), c.text.size());
            std::vector<float> y;
            float buf[512];
            int blocks = 0;
            while (!rtty_mod_is_finish(q) && blocks++ < 1000) {
                rtty_mod_process(q, buf, 512);
                y.insert(y.end(), buf, buf + 512);
            }
            QVERIFY(rtty_mod_is_finish(q));
            QVERIFY(!rtty_mod_is_active(q));
            QCOMPARE(rtty_mod_get_sent_counter(q), (uint32_t)c.text.size());
            QCOMPARE(rttyCodes(y, 1000, 45.45f, 170), c.codes + trailer);
            // It stops right after the trailer's NUL and its stop bits.
            const double spb = 16000 / 45.45;
            const double expected = (32 + 7.5 * (c.codes.size() + trailer.size())) * spb;
            QVERIFY(fabs((double)y.size() - expected) < 512 + 1);
            rtty_mod_destroy(q);
        }
    }

    void rttyForceStopAndRestart()
    {
        rtty_mod_t *q = rtty_mod_create(16000, 1000, 1024);
        const QByteArray text(40, 'E');
        rtty_mod_post_message(q, text.constData(), text.size());
        float buf[512];
        for (int i = 0; i < 60; i++)
            rtty_mod_process(q, buf, 512);
        rtty_mod_force_stop(q);
        int blocks = 0;
        while (!rtty_mod_is_finish(q) && blocks++ < 1000)
            rtty_mod_process(q, buf, 512);
        QVERIFY(rtty_mod_is_finish(q));
        QVERIFY(rtty_mod_get_sent_counter(q) < (uint32_t)text.size());
        // Idle output is silence, and a new message starts again.
        rtty_mod_process(q, buf, 512);
        QCOMPARE(buf[100], 0.0f);
        rtty_mod_reset_sent_counter(q);
        QCOMPARE(rtty_mod_get_sent_counter(q), 0u);
        rtty_mod_post_message(q, "K", 1);
        QVERIFY(rtty_mod_is_active(q));
        QVERIFY(!rtty_mod_is_finish(q));
        rtty_mod_destroy(q);
        QVERIFY(calc_iir_q(0, 1) == 1 && calc_iir_q(0.1f, 0) == 1);
    }

    void createsRefuseWhatTheyCannotWorkWith()
    {
        // Each refusal says why in the log, and callers get null.
        const QRegularExpression rate("invalid sample rate|not a multiple of 4000 Hz");
        const QRegularExpression carrier("carrier .* outside");
        QTest::ignoreMessage(QtWarningMsg, rate);
        QVERIFY(!rtty_dem_create(0, 1000, 1024));
        QTest::ignoreMessage(QtWarningMsg, carrier);
        QVERIFY(!rtty_dem_create(16000, 8000, 1024));
        QTest::ignoreMessage(QtWarningMsg, rate);
        QVERIFY(!rtty_mod_create(NAN, 1000, 1024));
        QTest::ignoreMessage(QtWarningMsg, carrier);
        QVERIFY(!rtty_mod_create(16000, -5, 1024));
        // The PSK symbol rates must divide the sample rate.
        QTest::ignoreMessage(QtWarningMsg, rate);
        QVERIFY(!psk_dem_create(11025, 1000));
        QTest::ignoreMessage(QtWarningMsg, rate);
        QVERIFY(!psk_dem_create(4000, 1000));
        QTest::ignoreMessage(QtWarningMsg, carrier);
        QVERIFY(!psk_dem_create(8000, 4000));
        QTest::ignoreMessage(QtWarningMsg, carrier);
        QVERIFY(!psk_mod_create(16000, 0));
        psk_dem_t *d = psk_dem_create(48000, 1000);
        QVERIFY(d);
        psk_dem_destroy(d);

        // A wrapper whose demodulator or modulator was refused does nothing.
        QTest::ignoreMessage(QtWarningMsg, rate);
        ZModemPSKDem dem(nullptr, 22050, 1000);
        QVERIFY(!dem.handle());
        QSignalSpy rssi(&dem, &ZModemPSKDem::sig_demRSSI);
        std::vector<float> x(1024, 100.0f);
        dem.exec(x.data(), 1024);
        QCOMPARE(rssi.count(), 0);
        char c;
        QCOMPARE(dem.getSingleChar(&c), 0);
        QTest::ignoreMessage(QtWarningMsg, carrier);
        ZModemPSKMod mod(nullptr, 16000, 9000);
        mod.slot_modMsgReceiver("e");
        QVERIFY(!mod.isActive());
        mod.exec(x.data(), 1024);
        QCOMPARE(x[5], 0.0f);
    }

    void modemsRunAtOtherSampleRates()
    {
        // At 8 kHz (and 48 kHz) the modulators keep their symbol rates and
        // tones, and the demodulators copy them.
        const QByteArray text = "CQ CQ DE ZR450 THE QUICK BROWN FOX";
        for (float fs : {8000.0f, 48000.0f}) {
            const QString at = QStringLiteral(" at %1 Hz").arg(fs);
            rtty_mod_t *rm = rtty_mod_create(fs, 1000, 1024);
            rtty_dem_t *rd = rtty_dem_create(fs, 1000, 1024);
            psk_mod_t *pm = psk_mod_create(fs, 1000);
            psk_dem_t *pd = psk_dem_create(fs, 1000);
            QVERIFY(rm && rd && pm && pd);
            rtty_mod_post_message(rm, text.constData(), text.size());
            psk_mod_post_message(pm, text.constData(), text.size());
            std::vector<float> y(512);
            QByteArray rtty, psk;
            char ch;
            size_t n = 0, rttyLen = 0;
            while (n < size_t(60 * fs) && !(rtty_mod_is_finish(rm) && psk_mod_is_finish(pm))) {
                rtty_mod_process(rm, y.data(), 512);
                if (!rtty_mod_is_finish(rm))
                    rttyLen = n + 512;
                for (float &v : y)
                    v *= 5000;
                rtty_dem_process(rd, y.data(), 512);
                psk_mod_process(pm, y.data(), 512);
                for (float &v : y)
                    v *= 5000;
                psk_dem_process(pd, y.data(), 512);
                n += 512;
                while (rtty_dem_getchar(rd, &ch))
                    rtty.append(ch);
                while (psk_dem_getchar(pd, &ch))
                    psk.append(ch);
            }
            QVERIFY2(zmh::normalise(rtty).contains(text), qPrintable(rtty + at));
            QVERIFY2(zmh::normalise(psk).contains(text), qPrintable(psk + at));
            // The same duration as at 16 kHz: 45.45 baud, 7.5 bits per
            // character, 32 bits of preamble, the shifts and the trailer.
            const double seconds = double(rttyLen) / fs;
            const double expect = double(zmh::rtty_signal(text, 1000, 45.45f, 170).size()) / zmh::kRate;
            QVERIFY2(std::fabs(seconds - expect) < 0.1, qPrintable(QString::number(seconds) + at));
            rtty_mod_destroy(rm);
            rtty_dem_destroy(rd);
            psk_mod_destroy(pm);
            psk_dem_destroy(pd);
        }
    }

    void rttyRateChangeAppliesNextBlock()
    {
        rtty_dem_t *d = rtty_dem_create(16000, 1000, 1024);
        QCOMPARE(rtty_dem_get_samples_per_bit(d), 352u);
        rtty_dem_set_rate(d, 300);
        QCOMPARE(rtty_dem_get_samples_per_bit(d), 352u);
        float silence[1024] = {};
        rtty_dem_process(d, silence, 1024);
        QCOMPARE(rtty_dem_get_samples_per_bit(d), 53u);
        rtty_dem_destroy(d);

        // The modulator: the same text is far shorter when the rate changes
        // after the first block.
        auto length = [](bool change) {
            rtty_mod_t *q = rtty_mod_create(16000, 1000, 1024);
            rtty_mod_post_message(q, "RYRYRYRY", 8);
            float buf[512];
            size_t n = 0;
            while (!rtty_mod_is_finish(q) && n < 16000 * 60) {
                rtty_mod_process(q, buf, 512);
                n += 512;
                if (change && n == 512)
                    rtty_mod_set_speed(q, 300);
            }
            rtty_mod_destroy(q);
            return n;
        };
        QVERIFY(length(true) * 4 < length(false));
    }

    void cwTables()
    {
        QCOMPARE(morse_to_char(1), (unsigned char)' ');
        QCOMPARE(morse_to_char(43690), (unsigned char)127);  // eight dots
        QCOMPARE(morse_to_char(0), (unsigned char)254);
        QCOMPARE(morse_to_char(0xABCDE), (unsigned char)255);
        QCOMPARE(morse_to_char(2), (unsigned char)'E');
        QCOMPARE(morse_to_char(3), (unsigned char)'T');
        QCOMPARE(morse_to_char(11), (unsigned char)'A');
        QCOMPARE(morse_to_char(14), (unsigned char)'N');
        QCOMPARE(morse_to_char(1023), (unsigned char)'0');
        const struct {
            uint32_t code;
            char c;
        } signs[] = {{187, '^'}, {750, '+'}, {746, '&'}, {61114, '{'}, {955, '}'},
                     {958, '('}, {3775, '%'}, {2747, '>'}, {686, '~'}};
        for (const auto &s : signs)
            QCOMPARE(morse_to_char(s.code), (unsigned char)s.c);
        // Every character of the table comes back through its code, and the
        // codes are unique across both tables.
        QSet<uint32_t> codes;
        for (int i = 0; i < 47; i++) {
            QVERIFY(!codes.contains(cw_char_codes[i]));
            codes.insert(cw_char_codes[i]);
            QCOMPARE(morse_to_char(cw_char_codes[i]), (unsigned char)cw_char_chars[i]);
        }
        for (int i = 0; i < 10; i++) {
            QVERIFY(!codes.contains(cw_sign_codes[i]));
            codes.insert(cw_sign_codes[i]);
        }
        for (const char *p = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,?'/-=:\"@"; *p; p++)
            QCOMPARE(morse_to_char(morse_char_to_code(*p)), (unsigned char)*p);
        QCOMPARE(morse_char_to_code('q'), morse_char_to_code('Q'));
        QCOMPARE(morse_char_to_code('#'), 0u);
    }

    void cwWordSpaceAfterIAndK()
    {
        // A decoder trained at 20 WPM (dot 11 blocks, character gap 33) on
        // clean keying; then a letter, a gap of some dot lengths and an E.
        // A gap of 6 dots is a word space after K but not after I (and the
        // other letters that often begin longer characters); 8 dots is one
        // after either.
        auto spaceAfter = [](char c, double gapDots) {
            std::vector<float> x = cwTone("PARIS PARIS PARIS PARIS PARIS ");
            const char letter[2] = {c, 0};
            append(x, cwTone(letter));
            // The letter's own tone ends with a character gap of 3 dots.
            x.resize(x.size() + size_t((gapDots - 3) * kCwDot), 0.0f);
            append(x, cwTone("E"));
            x.resize(x.size() + 4 * 16000, 0.0f);
            cw_dem_t *q = cw_dem_create(16000, 800);
            cw_dem_process(q, x.data(), unsigned(x.size()));
            QByteArray got;
            char ch;
            while (cw_dem_getchar(q, &ch))
                got.append(ch);
            cw_dem_destroy(q);
            const QByteArray n = zmh::normalise(got);
            const QByteArray with = QByteArray(letter) + " E", without = QByteArray(letter) + "E";
            if (n.endsWith(with))
                return 1;
            if (n.endsWith(without))
                return 0;
            qWarning("unexpected copy: %s", n.constData());
            return -1;
        };
        QCOMPARE(spaceAfter('K', 6), 1);
        QCOMPARE(spaceAfter('I', 6), 0);
        QCOMPARE(spaceAfter('V', 6), 0);
        QCOMPARE(spaceAfter('I', 8), 1);
        QCOMPARE(spaceAfter('Z', 8), 1);
        // Without a pending word space nothing is added.
        cw_dem_t *q = cw_dem_create(16000, 800);
        cw_dem_putwordspace(q, 'K');
        char out;
        QCOMPARE(cw_dem_getchar(q, &out), 0);
        cw_dem_destroy(q);
    }

    void cwSteadyToneIsOneCappedRun()
    {
        // Lead silence, then 4 s of tone: one key-down run, capped at 3 s of
        // blocks; the silence after it starts a new run.
        cw_dem_t *q = cw_dem_create(16000, 800);
        std::vector<float> x(16000 * 5, 0.0f);
        for (size_t i = 8000; i < 8000 + 16000 * 4; i++)
            x[i] = 8000 * sinf((float)(2 * M_PI * 800 * (double)i / 16000));
        const unsigned cap = 3 * 16000 / 88;
        cw_dem_process(q, x.data(), 8000 + 16000 * 3 + 8000);
        QCOMPARE(cw_dem_get_key(q), 1);
        QCOMPARE(cw_dem_get_current_run(q), cap);
        cw_dem_process(q, x.data() + 16000 * 4, 8000);
        QCOMPARE(cw_dem_get_key(q), 1);
        QCOMPARE(cw_dem_get_current_run(q), cap);
        QVERIFY(cw_dem_get_rssi(q) > 50);
        cw_dem_process(q, x.data() + 16000 * 4 + 8000, 8000);
        QCOMPARE(cw_dem_get_key(q), 0);
        QVERIFY(cw_dem_get_current_run(q) < cap / 4);
        cw_dem_destroy(q);
    }

    void cwThresholdAndInit()
    {
        cw_dem_t *q = cw_dem_create(16000, 800);
        QCOMPARE(cw_dem_get_wpm(q), 20u);
        cw_dem_set_threshold(q, -5);
        QCOMPARE(cw_dem_get_threshold(q), 1000.0f);
        cw_dem_set_threshold(q, 30);
        QCOMPARE(cw_dem_get_threshold(q), 15000.0f);
        cw_dem_set_threshold(q, 101);
        QCOMPARE(cw_dem_get_threshold(q), 50000.0f);
        cw_dem_set_threshold(q, 0);
        // Trained on clean keying, then sent back to training.
        std::vector<float> x = cwTone("PARIS PARIS PARIS PARIS PARIS ");
        cw_dem_process(q, x.data(), unsigned(x.size()));
        QVERIFY(cw_dem_get_synchronised(q));
        cw_dem_init(q);
        QVERIFY(!cw_dem_get_synchronised(q));
        QCOMPARE(cw_dem_set_cwtone(q, 650), 650.0f);
        QCOMPARE(cw_dem_get_cwtone(q), 650.0f);
        // A reset forgets the speed and the queue but keeps the settings.
        cw_dem_process(q, x.data(), unsigned(x.size()));
        cw_dem_reset(q);
        char c;
        QCOMPARE(cw_dem_getchar(q, &c), 0);
        QVERIFY(!cw_dem_get_synchronised(q));
        QCOMPARE(cw_dem_get_cwtone(q), 650.0f);
        QCOMPARE(cw_dem_get_threshold(q), 0.0f);
        cw_dem_destroy(q);
        // Arguments a decoder cannot work with are refused, with the reason.
        QTest::ignoreMessage(QtWarningMsg, "cw_dem_create: invalid sample rate 0");
        QVERIFY(!cw_dem_create(0, 800));
        QTest::ignoreMessage(QtWarningMsg, "cw_dem_create: tone 9000 Hz outside 0..8000 Hz");
        QVERIFY(!cw_dem_create(16000, 9000));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cw_dem_create: tone .* outside"));
        QVERIFY(!cw_dem_create(16000, -1));
        Goertzel g;
        Goertzel_SetFc(&g, 800, 88, 1, 16000);
        QCOMPARE(g.k, 4); // 727 Hz bin
    }

    // ------------------------------------------------------------- queues

    void queueOverwritesOldest()
    {
        ZModemRing<100> r;
        for (int i = 0; i < 150; i++)
            r.put((char)i);
        QCOMPARE(r.size(), 99u);
        char c;
        for (int i = 51; i < 150; i++) {
            QCOMPARE(r.get(&c), 1);
            QCOMPARE((int)(unsigned char)c, i);
        }
        QCOMPARE(r.get(&c), 0);

        // The same through a decoder's own queue.
        cw_dem_t *q = cw_dem_create(16000, 800);
        for (int i = 0; i < 120; i++)
            cw_dem_putchar(q, (unsigned char)('A' + i % 26));
        int n = 0;
        char first = 0;
        while (cw_dem_getchar(q, &c))
            if (n++ == 0)
                first = c;
        QCOMPARE(n, 99);
        QCOMPARE(first, (char)('A' + 21 % 26));
        cw_dem_destroy(q);
    }

    void queueConcurrentReaderWriter()
    {
        // One writer and one reader, as demodulator thread and dialog: the
        // reader sees the written sequence in order, each character once,
        // with gaps only where the writer overwrote unread characters. The
        // values wrap every 128 characters, so a reader that slept while the
        // writer went round may legitimately see the same value again; each
        // value read is therefore placed in the written sequence: after the
        // one read before it, no older than what the ring can still hold
        // when the read began, and written by the time it ended. A value
        // that fits nowhere there is a fault (a duplicate, a reordering or a
        // torn slot).
        const unsigned kSize = 16;
        ZModemRing<kSize> r;
        const long total = 200000;
        std::atomic<long> written{0};
        std::thread writer([&] {
            for (long i = 0; i < total; i++) {
                r.put((char)(i & 0x7f));
                written.store(i + 1, std::memory_order_release);
            }
        });
        ztest::Joiner joiner(writer);
        long last = -1, got = 0, faults = 0;
        QString firstFault;
        char c;
        for (;;) {
            const long before = written.load(std::memory_order_acquire);
            if (!r.get(&c)) {
                if (before == total && !r.size())
                    break;
                continue;
            }
            // The writer publishes its count just after put returns: one
            // more may already be in the ring.
            const long after = written.load(std::memory_order_acquire) + 1;
            long lo = std::max(last + 1, before - long(kSize - 1));
            lo += ((long(c) - lo) % 128 + 128) % 128; // the first index with this value
            if (lo >= after) {
                if (!faults++)
                    firstFault = QStringLiteral("value %1 after index %2, %3..%4 written")
                                     .arg(int(c)).arg(last).arg(before).arg(after);
                continue;
            }
            last = lo;
            got++;
        }
        writer.join();
        QVERIFY2(faults == 0, qPrintable(firstFault));
        QVERIFY(got > 0 && got <= total);
    }

    void modulatorsTakeTextFromAnotherThread()
    {
        // The dialog posts text from its thread while the modulator thread
        // runs: every character is sent exactly once, whether it arrives
        // while the modulator is idle, sending or in its trailer.
        const int messages = 12;
        const QByteArray word = "RYRY ";
        rtty_mod_t *r = rtty_mod_create(16000, 1000, 1024);
        rtty_mod_set_speed(r, 300);
        ZModemPSKMod p(nullptr, 16000, 1000);
        p.setRateIndex(2);
        std::atomic<bool> posted{false};
        std::thread worker([&] {
            float buf[512];
            for (int guard = 0; guard < 200000; guard++) {
                rtty_mod_process(r, buf, 512);
                p.exec(buf, 512);
                if (posted && rtty_mod_is_finish(r) && p.isFinished())
                    break;
            }
        });
        for (int m = 0; m < messages; m++) {
            rtty_mod_post_message(r, word.constData(), word.size());
            p.slot_modMsgReceiver(QString::fromLatin1(word));
            std::this_thread::sleep_for(std::chrono::microseconds(300 * (m % 4)));
        }
        posted = true;
        worker.join();
        QCOMPARE(rtty_mod_get_sent_counter(r), (uint32_t)(messages * word.size()));
        QCOMPARE(p.sentCounter(), messages * word.size());
        rtty_mod_destroy(r);
    }

    // ----------------------------------------------------------------- WAV

    void wavParsing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.wav");
        std::vector<int16_t> pcm = {0, 1000, -1000, 32767, -32768};
        QCOMPARE(zwav_write(path, pcm, 16000), 0);
        std::vector<float> x;
        zwav_info_t info;
        QString err;
        QCOMPARE(zwav_read(path, &x, &info, &err), 0);
        QCOMPARE(info.rate, 16000);
        QCOMPARE(info.channels, 1);
        QCOMPARE((int)x.size(), 5);
        QCOMPARE(x[3], 32767.0f);
        QCOMPARE(x[4], -32768.0f);

        // Stereo: the left channel.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray img = f.readAll();
        f.close();
        QByteArray st = img.left(44);
        st[22] = 2;               // channels
        const QByteArray frames = QByteArray::fromHex("1000f0ff2000e0ff");
        st.replace(40, 4, QByteArray::fromHex("08000000"));
        st.append(frames);
        QCOMPARE(zwav_parse(st, &x, &info, &err), 0);
        QCOMPARE(info.channels, 2);
        QCOMPARE((int)x.size(), 2);
        QCOMPARE(x[0], 16.0f);
        QCOMPARE(x[1], 32.0f);

        // 8-bit and float files are refused with a reason.
        QByteArray bad = img;
        bad[34] = 8;
        QCOMPARE(zwav_parse(bad, &x, &info, &err), -95);
        QVERIFY(err.contains("16-bit"));
        bad = img;
        bad[20] = 3;
        QCOMPARE(zwav_parse(bad, &x, &info, &err), -95);
        QCOMPARE(zwav_parse(QByteArray("RIFF"), &x, &info, &err), -22);
        QCOMPARE(zwav_read(dir.filePath("missing.wav"), &x, &info, &err), -2);
    }

    void wavParserFuzz()
    {
        // Random and mutated images never crash, and a parsed file never
        // yields more samples than its bytes hold.
        std::mt19937 rng(1234);
        std::vector<int16_t> pcm(300, 77);
        QTemporaryDir dir;
        QCOMPARE(zwav_write(dir.filePath("a.wav"), pcm, 16000), 0);
        QFile f(dir.filePath("a.wav"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray good = f.readAll();
        for (int round = 0; round < 20000; round++) {
            QByteArray img = good;
            if (round % 5 == 0) {
                img = QByteArray(rng() % 200, 0);
                for (char &ch : img)
                    ch = (char)rng();
                if (round % 10 == 0)
                    img.replace(0, 12, "RIFF\0\0\0\0WAVE");
            } else {
                const int edits = 1 + rng() % 6;
                for (int e = 0; e < edits; e++)
                    img[(int)(rng() % 60)] = (char)rng();
                if (rng() % 3 == 0)
                    img.truncate((int)(rng() % img.size()));
            }
            std::vector<float> x;
            zwav_info_t info = {0, 0, 0};
            QString err;
            const int rc = zwav_parse(img, &x, &info, &err);
            if (rc == 0)
                QVERIFY((size_t)img.size() >= x.size() * 2);
            else
                QVERIFY(!err.isEmpty());
        }
    }

    // ------------------------------------------------------------ loopbacks

    void rttyLoopbackEveryRateAndShift()
    {
        // Pairs with a modulation index (shift / rate) below 0.4 cannot be
        // told apart by tone filters at all: 23 Hz at 75 baud and up, 85 Hz
        // at 300 baud. The noisy case needs 0.5 (which also leaves out 23 Hz
        // at 50 and 56 baud and 85 Hz at 200 baud), the off-frequency case
        // 0.7 (leaving out 23 Hz at 45 and 45.45 baud and 85 Hz at 150
        // baud): filters narrower than the baud rate are needed to tell such
        // close tones apart, and they cannot be off tune.
        const QByteArray text = "RYRY THE QUICK BROWN FOX 1234";
        const QByteArray core = "THE QUICK BROWN FOX 1234";
        QStringList failures, skipped;
        int checked = 0;
        for (float rate : kRttyRates) {
            for (float shift : kRttyShifts) {
                const float h = shift / rate;
                const QString pair = QStringLiteral("%1 Bd/%2 Hz").arg(rate).arg(shift);
                if (h < 0.4f) {
                    skipped << pair;
                    continue;
                }
                const float fc = shift > 600 ? 1500 : 1000;
                zmh::Window w;
                w.from = zmh::kRate / 2;
                // Clean: exactly the text, then the trailer.
                std::vector<float> s = zmh::rtty_signal(text, fc, rate, shift);
                w.to = w.from + s.size();
                QByteArray got = zmh::decode_rtty(zmh::channel(s, 200, 0, 1), fc, rate, shift, w);
                if (zmh::normalise(got) != text)
                    failures << pair + " clean: " + got;
                checked++;
                if (h < 0.5f)
                    continue;
                // White noise at +10 dB in 3 kHz.
                got = zmh::decode_rtty(zmh::channel(s, 10, 2000, 2), fc, rate, shift, w);
                if (!zmh::normalise(got).contains(core))
                    failures << pair + " noise: " + got;
                if (h < 0.7f)
                    continue;
                // Off frequency by a tenth of the shift (at most 10 Hz), both ways.
                const float off = std::min(10.0f, shift / 10);
                for (float o : {off, -off}) {
                    s = zmh::rtty_signal(text, fc + o, rate, shift);
                    got = zmh::decode_rtty(zmh::channel(s, 20, 2000, 3), fc, rate, shift, w);
                    if (!zmh::normalise(got).contains(core))
                        failures << pair + QStringLiteral(" offset %1: ").arg(o) + got;
                }
                checked++;
            }
        }
        qInfo("RTTY pairs not separable (shift/rate < 0.4): %s", qPrintable(skipped.join(", ")));
        QCOMPARE(skipped.size(), 7);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
        QVERIFY(checked > 150);
    }

    void pskLoopback_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("snr");
        QTest::addColumn<double>("offset");
        const double noisy[3] = {-3, 0, 3};
        for (int r = 0; r < 3; r++) {
            const char *name[3] = {"PSK31", "PSK63", "PSK125"};
            QTest::addRow("%s clean", name[r]) << r << 200.0 << 0.0;
            QTest::addRow("%s noise", name[r]) << r << noisy[r] << 0.0;
            QTest::addRow("%s +40 Hz", name[r]) << r << noisy[r] + 6 << 40.0;
            QTest::addRow("%s -40 Hz", name[r]) << r << noisy[r] + 6 << -40.0;
        }
    }

    void pskLoopback()
    {
        QFETCH(int, rate);
        QFETCH(double, snr);
        QFETCH(double, offset);
        const QByteArray text = "cq cq de zr450 The Quick Brown Fox 73";
        const std::vector<float> s = zmh::psk_signal(QString::fromLatin1(text), 1000 + offset, rate);
        zmh::Window w;
        w.from = zmh::kRate / 2;
        w.to = w.from + s.size();
        float freq = 0;
        int quality = 0;
        const QByteArray got = zmh::decode_psk(zmh::channel(s, snr, 2000, 11), 1000, rate, true,
                                               &freq, &quality, w);
        if (snr > 100)
            QCOMPARE(got, text);
        else
            QVERIFY2(got.contains(text.mid(5)), got.constData());
        // The AFC has followed the signal.
        QVERIFY2(fabs(freq - (1000 + offset)) < 2, qPrintable(QString::number(freq)));
        QVERIFY(quality >= 30);
    }

    void pskEveryCharacter()
    {
        QByteArray text;
        for (int c = 1; c < 128; c++)
            text.append((char)c);
        const std::vector<float> s = zmh::psk_signal(QString::fromLatin1(text), 1000, 2);
        const QByteArray got = zmh::decode_psk(zmh::channel(s, 200, 0, 1), 1000, 2, true);
        QCOMPARE(got, text);
    }

    void pskModulatorBitsOfE()
    {
        ZModemPSKMod m(nullptr, 16000, 1000);
        QSignalSpy sent(&m, &ZModemPSKMod::sig_txCharCount);
        m.slot_modMsgReceiver("e");
        std::vector<float> y;
        float buf[512];
        while (!m.isFinished() && y.size() < 16000 * 10) {
            m.exec(buf, 512);
            y.insert(y.end(), buf, buf + 512);
        }
        QVERIFY(m.isFinished());
        QCOMPARE(sent.count(), 1);
        QCOMPARE(m.sentCounter(), 1);
        const QList<int> bits = pskBits(y);
        QVERIFY(bits.size() >= 84 + 40);
        for (int i = 0; i < 80; i++)
            QCOMPARE(bits[i], 0);
        QCOMPARE(bits.mid(80, 4), QList<int>({1, 1, 0, 0}));
        // Then 1.5 s of steady carrier.
        QCOMPARE(bits.mid(84, 40), QList<int>() << QVector<int>(40, 1).toList());
        QCOMPARE((int)y.size() / 512 * 512, (int)y.size());
        QVERIFY(fabs((double)y.size() - (84 * 512 + 24000)) <= 512);
        // Finished: silence.
        m.exec(buf, 512);
        QCOMPARE(buf[3], 0.0f);
    }

    void pskStopEndsAfterCurrentCharacter()
    {
        ZModemPSKMod m(nullptr, 16000, 1000);
        m.slot_modMsgReceiver(QString(50, 'x'));
        float buf[512];
        for (int i = 0; i < 120; i++) // past the preamble, into the text
            m.exec(buf, 512);
        const int before = m.sentCounter();
        QVERIFY(before >= 1);
        m.slot_modStop();
        int n = 0;
        while (!m.isFinished() && n++ < 1000)
            m.exec(buf, 512);
        QVERIFY(m.isFinished());
        QCOMPARE(m.sentCounter(), before);
        m.resetSentCounter();
        QCOMPARE(m.sentCounter(), 0);
    }

    void pskSquelchIdleAndCarrier()
    {
        // Reversals (the preamble) read as quality 75 and open the squelch;
        // the steady carrier that follows closes it.
        ZModemPSKMod m(nullptr, 16000, 1000);
        m.slot_modMsgReceiver(QString());
        std::vector<float> y;
        float buf[512];
        while (!m.isFinished() && y.size() < 16000 * 10) {
            m.exec(buf, 512);
            y.insert(y.end(), buf, buf + 512);
        }
        const std::vector<float> x = zmh::channel(y, 200, 0, 1, 0, 0);
        ZModemPSKDem d(nullptr, 16000, 1000);
        const size_t preamble = 80 * 512;
        bool openInPreamble = false;
        int q = 0;
        for (size_t i = 0; i + 1024 <= x.size(); i += 1024) {
            d.exec(const_cast<float *>(&x[i]), 1024);
            if (i + 1024 < preamble && d.squelchOpen()) {
                openInPreamble = true;
                q = d.quality();
            }
        }
        QVERIFY(openInPreamble);
        QCOMPARE(q, 75);
        QVERIFY(!d.squelchOpen());
        QCOMPARE(d.quality(), 0);
        QCOMPARE(ZModemPSKDem::instances(), 1);
    }

    void pskAfcWindowEdge()
    {
        // 60 Hz off: the AFC stops at the edge of its ±50 Hz window.
        const std::vector<float> s = zmh::psk_signal("ryryryryryryryry", 1060, 0);
        float freq = 0;
        zmh::decode_psk(zmh::channel(s, 200, 0, 1), 1000, 0, true, &freq);
        QVERIFY2(fabs(freq - 1050) < 0.5, qPrintable(QString::number(freq)));
        // And with AFC off it stays where it was set.
        zmh::decode_psk(zmh::channel(s, 200, 0, 1), 1000, 0, false, &freq);
        QVERIFY(fabs(freq - 1000) < 0.01);
    }

    void pskRateChangeDropsOneBlock()
    {
        ZModemPSKDem d(nullptr, 16000, 1000);
        QSignalSpy rssi(&d, &ZModemPSKDem::sig_demRSSI);
        std::vector<float> x(1024, 100.0f);
        d.exec(x.data(), 1024);
        QCOMPARE(rssi.count(), 1);
        d.setRateIndex(2);
        d.exec(x.data(), 1024); // applies the rate, drops the block
        QCOMPARE(rssi.count(), 1);
        d.exec(x.data(), 1024);
        QCOMPARE(rssi.count(), 2);
        // An invalid rate keeps the old one.
        d.setRateIndex(7);
        QTest::ignoreMessage(QtWarningMsg, "Error Baudrate!");
        d.exec(x.data(), 1024);
        QCOMPARE(d.rateIndex(), 2);
    }

    void cwLoopback_data()
    {
        QTest::addColumn<double>("wpm");
        QTest::addColumn<double>("snr");
        QTest::addRow("10 WPM") << 10.0 << 200.0;
        QTest::addRow("20 WPM") << 20.0 << 200.0;
        QTest::addRow("35 WPM") << 35.0 << 200.0;
        QTest::addRow("20 WPM noise") << 20.0 << 0.0;
        QTest::addRow("35 WPM noise") << 35.0 << 3.0;
    }

    void cwLoopback()
    {
        // Training takes the first 97 runs (about 20 characters); the text
        // is then decoded from its start.
        QFETCH(double, wpm);
        QFETCH(double, snr);
        const QByteArray text = "CQ CQ DE ZR450 ZR450 TEST THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 599 73 K";
        const std::vector<float> s = zmh::cw_signal(text, (float)wpm, 800);
        zmh::Window w;
        w.from = zmh::kRate / 2;
        w.to = w.from + s.size() + (size_t)(35 * 1.2 / wpm * zmh::kRate);
        unsigned speed = 0;
        const QByteArray got = zmh::decode_cw(zmh::channel(s, snr, 2000, 5, 0.5, 5), 800, &speed, w);
        if (snr > 100)
            QCOMPARE(zmh::normalise(got), text);
        else
            QVERIFY2(zmh::cer(text, got) < 0.05, got.constData());
        QVERIFY2(fabs(speed - wpm) <= 0.1 * wpm + 1, qPrintable(QString::number(speed)));
    }

    void cwWeakSignalsCopiedFromTheFirstWord_data()
    {
        // Keyer-timed sending well below the noise in 3 kHz, after half a
        // second of noise alone: nothing is made of the noise, and once
        // trained the decoder also reads the first characters it trained on.
        QTest::addColumn<double>("wpm");
        QTest::addColumn<double>("snr");
        QTest::addColumn<float>("offset");
        QTest::addRow("20 WPM at -7 dB") << 20.0 << -7.0 << 0.0f;
        QTest::addRow("12 WPM at -8 dB") << 12.0 << -8.0 << 0.0f;
        QTest::addRow("30 WPM at -4 dB") << 30.0 << -4.0 << 0.0f;
        QTest::addRow("20 WPM at -4 dB, 20 Hz off tune") << 20.0 << -4.0 << 20.0f;
    }
    void cwWeakSignalsCopiedFromTheFirstWord()
    {
        QFETCH(double, wpm);
        QFETCH(double, snr);
        QFETCH(float, offset);
        const QByteArray text = zmh::sample_text(160, 4242, false);
        const std::vector<float> s = zmh::cw_signal(text, (float)wpm, 800 + offset);
        zmh::Window w;
        w.from = (size_t)(0.5 * zmh::kRate);
        w.to = w.from + s.size() + (size_t)(35 * 1.2 / wpm * zmh::kRate);
        const QByteArray got = zmh::decode_cw(zmh::channel(s, snr, 2000, 77, 0.5, 5), 800, nullptr, w);
        const QByteArray firstWord = text.left(text.indexOf(' ') + 1);
        QVERIFY2(zmh::normalise(got).startsWith(firstWord), got.constData());
        QVERIFY2(zmh::cer(text, got) < 0.02, got.constData());
    }

    void cwFollowsLargeSpeedChanges_data()
    {
        QTest::addColumn<float>("first");
        QTest::addColumn<float>("second");
        QTest::addRow("40 then 10 WPM") << 40.0f << 10.0f;
        QTest::addRow("10 then 40 WPM") << 10.0f << 40.0f;
        QTest::addRow("18 then 36 WPM") << 18.0f << 36.0f;
    }
    void cwFollowsLargeSpeedChanges()
    {
        // A station much faster or slower than the last one: the decoder
        // learns the new speed and copies its text, and shows its speed.
        QFETCH(float, first);
        QFETCH(float, second);
        std::vector<float> s = zmh::cw_signal(zmh::sample_text(150, 5, false) + " ", first, 800);
        const QByteArray tail = zmh::sample_text(200, 6, false);
        const size_t change = s.size();
        append(s, zmh::cw_signal(tail, second, 800));
        zmh::Window w;
        // The second station's last 120 characters.
        const QByteArray last = tail.mid(tail.size() - 120);
        w.from = (size_t)(0.5 * zmh::kRate) + change +
                 (size_t)((double)zmh::cw_signal(tail.left(tail.size() - 120), second, 800).size());
        w.to = (size_t)(0.5 * zmh::kRate) + s.size() + (size_t)(35 * 1.2 / second * zmh::kRate);
        unsigned speed = 0;
        const QByteArray got = zmh::decode_cw(zmh::channel(s, 3, 2000, 8, 0.5, 5), 800, &speed, w);
        QVERIFY2(zmh::cer(last, got) < 0.03, got.constData());
        QVERIFY2(fabs(speed - second) <= 0.1 * second, qPrintable(QString::number(speed)));
    }

    void cwHandSentKeyingStillCopied()
    {
        // A hand key: each character at its own speed between 16 and 24 WPM
        // and gaps that vary too. The keying never keeps to one clock, so
        // the decoder reads it key change by key change.
        const QByteArray text = zmh::sample_text(150, 31, false);
        std::mt19937 rng(12);
        std::uniform_real_distribution<float> speed(16, 24), gap(0, 0.04f);
        std::vector<float> s;
        for (char c : text) {
            const float wpm = speed(rng);
            if (c == ' ') {
                // A word gap: four dots more than the character gap.
                s.resize(s.size() + (size_t)(4 * 1.2 / wpm * zmh::kRate), 0.0f);
                continue;
            }
            const char one[2] = {c, 0};
            append(s, zmh::cw_signal(QByteArray(one), wpm, 800));
            s.resize(s.size() + (size_t)(gap(rng) * zmh::kRate), 0.0f);
        }
        const QByteArray got = zmh::decode_cw(zmh::channel(s, 10, 2000, 3, 0.5, 5), 800);
        QVERIFY2(zmh::cer(text, got) < 0.05, got.constData());
    }

    void cwFollowsAFadingStation()
    {
        // A strong station on a fading path (two equal paths, 0.5 Hz
        // Doppler spread, 1 ms apart): the fades pass in a second or so and
        // the copy comes back with the signal; most of it is right.
        const QByteArray text = zmh::sample_text(300, 21, false);
        const std::vector<float> s = zmh::fading(zmh::cw_signal(text, 20, 800), 0.5, 0.001, 17);
        const QByteArray got = zmh::decode_cw(zmh::channel(s, 20, 2000, 5, 0.5, 5), 800);
        QVERIFY2(zmh::cer(text, got) < 0.1, got.constData());
    }

    void cwCopiesAStationAfterJunk()
    {
        // Tuning across the band before settling on a station: strong
        // noise, clipping, a carrier and silence go into the decoder first.
        // Afterwards it still learns the station and copies it.
        std::mt19937 rng(99);
        std::uniform_real_distribution<float> any(-32768, 32767);
        std::vector<float> x;
        for (int i = 0; i < 3 * 16000; i++)
            x.push_back(any(rng));
        for (int i = 0; i < 16000; i++)
            x.push_back(i % 40 < 20 ? 32767.0f : -32768.0f);
        for (int i = 0; i < 2 * 16000; i++)
            x.push_back(20000.0f * sinf(6.2831853f * 800 * i / 16000));
        x.resize(x.size() + 16000, 0.0f);
        const QByteArray text = zmh::sample_text(250, 8, false);
        const size_t start = x.size();
        append(x, zmh::channel(zmh::cw_signal(text, 22, 800), 10, 2000, 4, 0.5, 5));
        x.resize((x.size() + zmh::kBlock - 1) / zmh::kBlock * zmh::kBlock, 0.0f);
        cw_dem_t *q = cw_dem_create(16000, 800);
        QByteArray got;
        char c;
        for (size_t i = 0; i < x.size(); i += zmh::kBlock) {
            cw_dem_process(q, &x[i], zmh::kBlock);
            while (cw_dem_getchar(q, &c))
                if (i >= start)
                    got.append(c);
        }
        const unsigned speed = cw_dem_get_wpm(q);
        cw_dem_destroy(q);
        // The last 150 characters: the decoder may take the first words to
        // learn the station after the junk.
        const QByteArray last = text.mid(text.size() - 150);
        const QByteArray n = zmh::normalise(got);
        QVERIFY2(zmh::cer(last, n.mid(std::max(0, n.size() - last.size()))) < 0.03, got.constData());
        QVERIFY2(speed >= 20 && speed <= 24, qPrintable(QString::number(speed)));
    }

    void cwOffTune()
    {
        // The detector tolerates a tone 15 Hz from the set pitch.
        const QByteArray text = "CQ CQ DE ZR450 ZR450 TEST THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG";
        for (float off : {15.0f, -15.0f}) {
            const std::vector<float> s = zmh::cw_signal(text, 25, 800 + off);
            const QByteArray got = zmh::decode_cw(zmh::channel(s, 6, 2000, 9, 0.5, 5), 800);
            QVERIFY2(zmh::cer(text, got) < 0.03, got.constData());
        }
    }

    void cwNothingBeforeTraining()
    {
        // Continuous sending: no character comes out before 97 runs have
        // trained the decoder, and the training ends there. The runs are
        // counted on the clean keying itself (key changes so far, the lead
        // silence being the first run).
        const QByteArray text = "PARIS PARIS PARIS PARIS PARIS PARIS PARIS PARIS";
        const std::vector<float> s = zmh::cw_signal(text, 20, 800);
        const std::vector<float> x = zmh::channel(s, 200, 0, 1, 0.5, 0);
        std::vector<unsigned> runsBefore(x.size() + 1, 1);
        bool on = false;
        for (size_t i = 0; i < x.size(); i++) {
            // Key down while the tone reached half its peak within the last
            // 1.25 ms (one period at 800 Hz).
            float m = 0;
            for (size_t k = i >= 19 ? i - 19 : 0; k <= i; k++)
                m = std::max(m, std::fabs(x[k]));
            const bool now = m > 2500;
            runsBefore[i + 1] = runsBefore[i] + (now != on ? 1 : 0);
            on = now;
        }
        cw_dem_t *q = cw_dem_create(16000, 800);
        char c;
        bool synced = false;
        for (size_t i = 0; i + 1024 <= x.size(); i += 1024) {
            cw_dem_process(q, &x[i], 1024);
            if (!cw_dem_get_synchronised(q)) {
                QCOMPARE(cw_dem_getchar(q, &c), 0);
                continue;
            }
            if (!synced) {
                // The decoder sees each key change a few blocks late; one
                // pass holds at most two of them.
                const unsigned runs = runsBefore[i + 1024];
                QVERIFY2(runs >= 97 && runs <= 104, qPrintable(QString::number(runs)));
            }
            synced = true;
        }
        QVERIFY(synced);
        cw_dem_destroy(q);
    }

    // --------------------------------------------------------- command line

    void toolRoundTrip()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath("x.wav");
        const QString text = "CQ CQ DE ZR450 TEST 123";
        const QList<QStringList> modes = {
            {"--mode", "rtty", "--rate", "75", "--shift", "850", "--fc", "1500"},
            {"--mode", "bpsk", "--psk63", "--fc", "1200"},
            {"--mode", "cw", "--wpm", "25", "--fc", "700"},
        };
        for (const QStringList &m : modes) {
            QStringList enc = QStringList{"encode"} + m;
            enc << "--text" << (m[1] == "cw" ? QString(text + " ").repeated(4) : text) << wav;
            QCOMPARE(runProcess(toolPath(), enc), 0);
            QStringList dec = QStringList{"decode"} + m;
            dec.removeAll("--wpm");
            dec.removeAll("25");
            dec << wav;
            QByteArray out;
            QCOMPARE(runProcess(toolPath(), dec, &out), 0);
            QVERIFY2(zmh::normalise(out).contains(text.toLatin1()), out.constData());
        }
    }

    void toolRejectsOtherRatesAndBadArguments()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath("8k.wav");
        QCOMPARE(zwav_write(wav, std::vector<int16_t>(800, 0), 8000), 0);
        QByteArray err;
        QCOMPARE(runProcess(toolPath(), {"decode", "--mode", "rtty", wav}, nullptr, QByteArray(), &err), 2);
        QVERIFY2(err.contains("16000"), err.constData());
        QCOMPARE(runProcess(toolPath(), {"decode", "--mode", "fax", wav}), 1);
        QCOMPARE(runProcess(toolPath(), {"encode", "--mode", "rtty", wav}), 1);
        QCOMPARE(runProcess(toolPath(), {"decode", "--mode", "cw", "--fc", "x", wav}), 1);
        QCOMPARE(runProcess(toolPath(), {"decode", "--mode", "cw", dir.filePath("none.wav")}), 2);
    }

    // ------------------------------------------------------------ minimodem

    void minimodemCrossCheck()
    {
        const QString mm = QStandardPaths::findExecutable("minimodem");
        if (mm.isEmpty())
            QSKIP("minimodem is not installed (Debian package minimodem)");
        QTemporaryDir dir;
        const QByteArray text = "RYRY CQ CQ DE ZR450 THE QUICK BROWN FOX 0123456789";

        // minimodem's RTTY (45.45 baud, 1.5 stop bits) around 1500 Hz.
        const QString theirs = dir.filePath("mm.wav");
        QCOMPARE(runProcess(mm, {"--tx", "rtty", "-R", "16000", "-f", theirs}, nullptr, text + "\n"), 0);
        std::vector<float> x;
        zwav_info_t info;
        QString err;
        QCOMPARE(zwav_read(theirs, &x, &info, &err), 0);
        QCOMPARE(info.rate, 16000);
        // Its idle lead-in is the mark tone: 1585 Hz, the upper tone, as here.
        QVERIFY(toneLevel(x, 1585, 1000, 2000) > 5 * toneLevel(x, 1415, 1000, 2000));
        QByteArray out;
        QCOMPARE(runProcess(toolPath(), {"decode", "--mode", "rtty", "--fc", "1500", theirs}, &out), 0);
        QVERIFY2(zmh::normalise(out).contains(text), out.constData());

        // Ours, decoded by minimodem, at its default tones and at 1000 Hz.
        const QString ours = dir.filePath("zr.wav");
        QCOMPARE(runProcess(toolPath(), {"encode", "--mode", "rtty", "--fc", "1500", "--text",
                                         QString::fromLatin1(text), ours}), 0);
        QCOMPARE(runProcess(mm, {"--rx", "rtty", "-q", "-R", "16000", "-f", ours}, &out), 0);
        QVERIFY2(zmh::normalise(out).contains(text), out.constData());
        QCOMPARE(runProcess(toolPath(), {"encode", "--mode", "rtty", "--text", QString::fromLatin1(text), ours}), 0);
        QCOMPARE(runProcess(mm, {"--rx", "rtty", "-q", "-R", "16000", "-M", "1085", "-S", "915", "-f", ours}, &out), 0);
        QVERIFY2(zmh::normalise(out).contains(text), out.constData());
    }

    // A file that cannot be written in full (a full disk) is an error, also
    // when the short recording sat in the write buffer until the close.
    void wavWriteFailureIsReported()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full");
        QVERIFY(zwav_write("/dev/full", std::vector<int16_t>(100, 1), 16000) < 0);
        QVERIFY(zwav_write("/dev/full", std::vector<int16_t>(100000, 1), 16000) < 0);
        QCOMPARE(runProcess(toolPath(), {"encode", "--mode", "cw", "--text", "E", "/dev/full"}), 2);
    }
};

QTEST_GUILESS_MAIN(TestModem)
#include "test_modem.moc"
