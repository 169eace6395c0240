// Modem host: the tone tracker, the modulator passes and the transmit flag
// without a device; the whole host against the sound-card stand-in (as its
// own peer: transmit audio decoded back, receive ignored while transmitting,
// stalled, failing and missing devices); the simulator's stations offline;
// and the real zr450-bbsim end to end: its RTTY, PSK31 and CW stations
// decoded through ALSA, transmit audio and the CW key line measured by it.
#include "sim/bbstations.h"
#include "modem/tools/modem_harness.h"
#include "modem/morsesender.h"
#include "tests/test_support.h"
#include "radio/user_i2c.h"
#include "radio/zradio.h"
#include "audio/zaudiopcm.h"
#include "modem/zrmodem.h"
#include "sim/alsa/zsimaudio.h"
#include "app/zsystem.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <alsa/asoundlib.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

using ztest::clearLog;
using ztest::logCount;
using ztest::simCommand;

const int kFs = 16000;

// Interleaved stereo frames of a tone on both channels.
std::vector<int16_t> toneFrames(double hz, double amplitude, size_t frames, double *phase)
{
    std::vector<int16_t> v(2 * frames);
    for (size_t i = 0; i < frames; i++) {
        v[2 * i] = v[2 * i + 1] = int16_t(std::lrint(amplitude * std::cos(*phase)));
        *phase += 2 * M_PI * hz / kFs;
    }
    *phase = std::fmod(*phase, 2 * M_PI);
    return v;
}

// Feeds `seconds` of a tone to the host, block by block, without threads.
void feedTone(ZRModem &m, double hz, double amplitude, double seconds, double *phase)
{
    const size_t blocks = size_t(seconds * kFs / 1024);
    for (size_t b = 0; b < blocks; b++) {
        const auto f = toneFrames(hz, amplitude, 1024, phase);
        m.rxFrames(f.data(), 1024);
    }
}

// Runs modulator passes until the flag falls (or `maxPasses`), collecting
// the played samples (left channel, back on the modulators' -1..1 scale).
struct PassRun {
    std::vector<float> audio;
    int passes = 0;
    bool flagFell = false;
    bool flagUpWhileSounding = true; // the flag was set on every pass that played audio
};

PassRun runPasses(ZRModem &m, int maxPasses, bool *paused)
{
    PassRun r;
    std::vector<int16_t> period(2 * 512);
    for (; r.passes < maxPasses; r.passes++) {
        const bool flagBefore = m.transmitFlag();
        const ZRModem::ModAction a = m.modStep(period.data(), 512, *paused);
        if (a == ZRModem::ModPause) {
            *paused = true;
            r.flagFell = !m.transmitFlag();
            break;
        }
        if (a == ZRModem::ModSkip)
            continue;
        bool sounding = false;
        for (int i = 0; i < 512; i++) {
            r.audio.push_back(period[2 * i] / 5000.0f);
            sounding = sounding || period[2 * i] != 0;
        }
        if (sounding && !flagBefore)
            r.flagUpWhileSounding = false;
        *paused = false;
    }
    return r;
}

QByteArray decodeRtty(const std::vector<float> &unitScale)
{
    std::vector<float> x(unitScale.size());
    for (size_t i = 0; i < x.size(); i++)
        x[i] = unitScale[i] * 5000.0f;
    return zmh::normalise(zmh::decode_rtty(x, 1000, 45.45f, 170));
}

QByteArray decodePsk(const std::vector<float> &unitScale)
{
    std::vector<float> x(unitScale.size());
    for (size_t i = 0; i < x.size(); i++)
        x[i] = unitScale[i] * 5000.0f;
    return zmh::normalise(zmh::decode_psk(x, 1000, 0, true));
}

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

class TestModemHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void trackerLevelSquelchAfc();
    void modeChangesAndNames();
    void modulatorPassesAndTransmitFlag();
    void postRacingTheEndOfATransmission();
    void stationsTuningAndSignals();
    void transmitAndReceiveThroughAlsa();
    void stalledFailingAndMissingDevices();
    void streamsRunAtTheHostsRate();
    void simulatorEndToEnd();

private:
    QTemporaryDir m_root;
};

void TestModemHost::initTestCase()
{
    QVERIFY2(qEnvironmentVariable("ALSA_CONFIG_PATH").contains(QLatin1String("zr450-alsa.conf")),
             "ALSA_CONFIG_PATH must name the generated zr450-alsa.conf (set by CTest)");
    QVERIFY(m_root.isValid());
    ztest::setSysroot(m_root.path());
    ztest::installLogCapture();
}

void TestModemHost::init()
{
    clearLog();
}

// The tone tracker alone: blocks fed straight in, no device.
void TestModemHost::trackerLevelSquelchAfc()
{
    ZRModem m(1000, 16000, 1024);
    QCOMPARE(m.trackedFc.load(), 1000.0f);
    m.setFc(1000);
    QVERIFY(logCount(QStringLiteral("new lo phase=")) == 1);
    m.afcEnable = 1;
    m.sqlThreshold = 20;
    double ph = 0;

    // A strong tone 30 Hz above: full level, open squelch, and the loop
    // brings the tracked frequency to it within a few seconds.
    feedTone(m, 1030, 5000, 6.0, &ph);
    QCOMPARE(m.level.load(), 100.0f);
    QCOMPARE(m.sqlClosed.load(), uint8_t(0));
    QVERIFY2(std::fabs(m.trackedFc.load() - 1030.0f) < 2.5f, qPrintable(QString::number(m.trackedFc.load())));
    QVERIFY(std::fabs(m.afcOffset.load() - 30.0f) < 2.5f);

    // AFC off: the offset is not reported and the tracked frequency is fc.
    m.afcEnable = 0;
    feedTone(m, 1030, 5000, 0.2, &ph);
    QCOMPARE(m.trackedFc.load(), 1000.0f);
    QCOMPARE(m.afcOffset.load(), 0.0f);
    m.afcEnable = 1;

    // Silence: the level falls slowly and the squelch closes at 15 (20 - 5)
    // and not before; the loop then holds the offset where it was.
    feedTone(m, 1000, 0, 0.5, &ph);
    QCOMPARE(m.sqlClosed.load(), uint8_t(0));
    QVERIFY(m.level.load() > 15.0f);
    feedTone(m, 1000, 0, 2.5, &ph);
    QCOMPARE(m.sqlClosed.load(), uint8_t(1));
    QVERIFY(m.level.load() < 15.0f);
    const float held = m.afcOffset.load();
    QVERIFY(std::fabs(held - 30.0f) < 3.0f);

    // A weak tone at level 22 (amplitude 440 gives |y| 220 at the tracked
    // frequency): inside the hysteresis, the squelch stays closed, and the
    // loop does not follow it although it is 20 Hz away.
    feedTone(m, 1010 + held, 440, 3.0, &ph);
    QVERIFY2(m.level.load() > 18.0f && m.level.load() < 24.0f, qPrintable(QString::number(m.level.load())));
    QCOMPARE(m.sqlClosed.load(), uint8_t(1));
    QCOMPARE(m.afcOffset.load(), held);
    // At level 30 it opens.
    feedTone(m, 1030, 600, 0.5, &ph);
    QCOMPARE(m.sqlClosed.load(), uint8_t(0));

    // Tones beyond the limits: the offset stops at +50 Hz and at -50 Hz.
    feedTone(m, 1080, 5000, 5.0, &ph);
    QCOMPARE(m.afcOffset.load(), 50.0f);
    QCOMPARE(m.trackedFc.load(), 1050.0f);
    {
        ZRModem n;
        n.setFc(1000);
        n.afcEnable = 1;
        feedTone(n, 925, 5000, 5.0, &ph);
        QCOMPARE(n.afcOffset.load(), -50.0f);
        QCOMPARE(n.trackedFc.load(), 950.0f);
    }

    // The receive scale multiplies every sample: 0 is silence to the tracker.
    m.rxScale = 0.0f;
    feedTone(m, 1000, 5000, 3.0, &ph);
    QVERIFY(m.level.load() < 15.0f);
    QCOMPARE(m.sqlClosed.load(), uint8_t(1));

    // Partial reads gather into whole blocks; the surplus waits.
    const uint64_t before = m.blocksProcessed.load();
    const auto f = toneFrames(1000, 1000, 700, &ph);
    QCOMPARE(m.rxFrames(f.data(), 700), 0);
    QCOMPARE(m.rxFrames(f.data(), 700), 1);
    QCOMPARE(m.blocksProcessed.load(), before + 1);
    QCOMPARE(m.rxFrames(nullptr, 0), 0);
}

void TestModemHost::modeChangesAndNames()
{
    QCOMPARE(ZRModem::modeName(0), QStringLiteral("BPSK"));
    QCOMPARE(ZRModem::modeName(1), QStringLiteral("RTTY"));
    QCOMPARE(ZRModem::modeName(2), QStringLiteral("CW"));
    QCOMPARE(ZRModem::modeName(3), QStringLiteral("UNKNOWN"));
    QCOMPARE(ZRModem::modeName(-1), QStringLiteral("UNKNOWN"));

    ZRModem m;
    double ph = 0;
    // The first block counts as a mode change; each switch re-initialises
    // the CW decoder once, however many blocks follow.
    feedTone(m, 1000, 1000, 0.3, &ph);
    QCOMPARE(m.cwInits.load(), 1u);
    m.mode = ZRModem::ModeCW;
    feedTone(m, 1000, 1000, 0.3, &ph);
    QCOMPARE(m.cwInits.load(), 2u);
    m.mode = ZRModem::ModeRTTY;
    feedTone(m, 1000, 1000, 0.3, &ph);
    m.mode = 7; // unknown: no demodulator, but a change all the same
    feedTone(m, 1000, 1000, 0.3, &ph);
    QCOMPARE(m.cwInits.load(), 4u);
    QCOMPARE(logCount(QStringLiteral("modem mode changed,")), 4);

    // In CW mode setFc tunes only the CW decoder.
    m.mode = ZRModem::ModeCW;
    clearLog();
    m.setFc(650);
    QCOMPARE(cw_dem_get_cwtone(m.cwDem), 650.0f);
    QCOMPARE(logCount(QStringLiteral("new lo phase=")), 0);
    QCOMPARE(m.fc(), 650.0f);

    // With AFC the CW decoder follows the tracked frequency, in whole-hertz
    // steps of at least 2 Hz (each new tone redesigns its detector).
    m.setFc(1000);
    m.afcEnable = 1;
    m.sqlThreshold = 20;
    feedTone(m, 1020, 5000, 5.0, &ph);
    const float tone = cw_dem_get_cwtone(m.cwDem);
    QCOMPARE(tone, std::round(tone));
    QVERIFY2(std::fabs(tone - m.trackedFc.load()) <= 2.5f && std::fabs(tone - 1020.0f) < 4.0f,
             qPrintable(QStringLiteral("%1 %2").arg(tone).arg(m.trackedFc.load())));
}

// The modulator thread's passes, driven by hand: what is played, when the
// flag falls, pausing and resuming, mode switches.
void TestModemHost::modulatorPassesAndTransmitFlag()
{
    ZRModem m;
    m.setFc(1000);
    bool paused = false;
    std::vector<int16_t> period(2 * 512, 7);

    // Before any transmission: silence is played.
    QCOMPARE(m.modStep(period.data(), 512, paused), ZRModem::ModWrite);
    QVERIFY(std::all_of(period.begin(), period.end(), [](int16_t v) { return v == 0; }));
    QCOMPARE(m.trxState(), uint8_t(0));

    // RTTY: the flag stays up while there is audio and falls after the
    // trailer; the audio is the harness's own signal of the text and
    // decodes back to it.
    m.mode = ZRModem::ModeRTTY;
    QVERIFY(!m.postText(QString()));
    QVERIFY(m.postText(QStringLiteral("CQ DE ZR450")));
    QCOMPARE(m.trxState(), uint8_t(1));
    PassRun r = runPasses(m, 2000, &paused);
    QVERIFY(r.flagFell);
    QVERIFY(r.flagUpWhileSounding);
    QCOMPARE(m.transmitFlag(), uint8_t(0));
    QCOMPARE(m.trxState(), uint8_t(0));
    const std::vector<float> ref = zmh::rtty_signal("CQ DE ZR450", 1000, 45.45f, 170);
    QVERIFY2(std::abs(int(r.audio.size()) - int(ref.size())) <= 512,
             qPrintable(QStringLiteral("%1 vs %2").arg(r.audio.size()).arg(ref.size())));
    QCOMPARE(decodeRtty(r.audio), QByteArray("CQ DE ZR450"));
    QCOMPARE(rtty_mod_get_sent_counter(m.rttyMod), 0u); // reset at the end
    // Paused: nothing more is played until the next post, which resumes.
    QCOMPARE(m.modStep(period.data(), 512, paused), ZRModem::ModSkip);
    QVERIFY(m.postText(QStringLiteral("K")));
    QCOMPARE(m.modStep(period.data(), 512, paused), ZRModem::ModResume);
    paused = false;
    r = runPasses(m, 2000, &paused);
    QVERIFY(r.flagFell);

    // BPSK: the same, with the PSK modulator's preamble and postamble.
    m.mode = ZRModem::ModeBPSK;
    QVERIFY(m.postText(QStringLiteral("cq de zr450")));
    QCOMPARE(m.modStep(period.data(), 512, paused), ZRModem::ModResume);
    paused = false;
    r = runPasses(m, 4000, &paused);
    QVERIFY(r.flagFell);
    QVERIFY(r.flagUpWhileSounding);
    QVERIFY(decodePsk(r.audio).contains("CQ DE ZR450"));
    QCOMPARE(m.pskMod->sentCounter(), 0);

    // A mode switch in the middle of a transmission ends it: the text of the
    // mode left is dropped and its modulator played out to its trailer, so
    // the flag falls instead of keying the radio for ever.
    m.mode = ZRModem::ModeRTTY;
    QVERIFY(m.postText(QStringLiteral("THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789")));
    r = runPasses(m, 100, &paused); // about 3 s: the preamble and a few letters
    QVERIFY(!r.flagFell);
    m.mode = ZRModem::ModeBPSK;
    r = runPasses(m, 2000, &paused);
    QVERIFY(r.flagFell);
    QVERIFY2(r.audio.size() < size_t(3 * kFs), qPrintable(QString::number(r.audio.size())));
    // The same from BPSK to CW.
    m.mode = ZRModem::ModeBPSK;
    QVERIFY(m.postText(QStringLiteral("the quick brown fox jumps over the lazy dog")));
    r = runPasses(m, 150, &paused);
    QVERIFY(!r.flagFell);
    m.mode = ZRModem::ModeCW;
    QCOMPARE(m.trxState(), uint8_t(0)); // CW never reports transmit
    r = runPasses(m, 2000, &paused);
    QVERIFY(r.flagFell);

    // CW: text is not posted here, and a flag set in CW mode falls at once.
    QVERIFY(!m.postText(QStringLiteral("TEST")));
    m.setTransmitFlag(1);
    QCOMPARE(m.trxState(), uint8_t(0));
    QCOMPARE(m.modStep(period.data(), 512, paused), ZRModem::ModPause);
    QCOMPARE(m.transmitFlag(), uint8_t(0));
}

// The dialog posts only after the flag fell, but a post landing while the
// modulator thread ends a transmission must not be left queued with the
// flag down. The modulator thread runs its passes much faster than real
// time here, with short pauses so the test leaves the machine some air.
void TestModemHost::postRacingTheEndOfATransmission()
{
    ZRModem m;
    m.setFc(1000);
    m.mode = ZRModem::ModeBPSK;
    std::atomic<bool> stop{false};
    std::thread mod([&] {
        std::vector<int16_t> period(2 * 512);
        bool paused = false;
        while (!stop) {
            const ZRModem::ModAction a = m.modStep(period.data(), 512, paused);
            paused = a == ZRModem::ModPause || (a == ZRModem::ModSkip && paused);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    // A failed check returns early: the modulator thread is still stopped
    // and joined.
    ztest::Joiner joiner(mod, &stop);
    // How long one transmission of "e" takes here.
    QElapsedTimer t;
    t.start();
    m.postText(QStringLiteral("e"));
    while (m.transmitFlag() && t.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    const qint64 oneNs = std::max<qint64>(t.nsecsElapsed(), 1000);
    QVERIFY(!m.transmitFlag());

    // Second posts at random moments around the end of the first one.
    std::mt19937 rng(8);
    int rounds = 0;
    t.restart();
    while (t.elapsed() < 1000 && rounds < 200) {
        rounds++;
        m.postText(QStringLiteral("e"));
        QElapsedTimer w;
        w.start();
        const qint64 at = qint64(double(oneNs) * (0.8 + 0.4 * double(rng() % 1000) / 1000.0));
        while (w.nsecsElapsed() < at)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        m.postText(QStringLiteral("t"));
        w.restart();
        while (m.transmitFlag() && w.elapsed() < 5000)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        QVERIFY(!m.transmitFlag());
        // Down means done: no text is left behind.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        QVERIFY2(!m.pskMod->isActive(), qPrintable(QStringLiteral("round %1").arg(rounds)));
    }
    stop = true;
    mod.join();
    QVERIFY(rounds > 3);
}

// The simulator's receive model offline: pass bands, sidebands and the
// stations' loops, decoded without real time.
void TestModemHost::stationsTuningAndSignals()
{
    uint32_t regs[56] = {};
    auto tune = [&](uint32_t lo, int32_t dlo, uint32_t mode, uint32_t tone) {
        regs[1] = lo;
        regs[35] = uint32_t(dlo) & 0xFFFFFF;
        regs[4] = mode;
        regs[33] = tone << 12;
        return bbstations_listen(regs);
    };
    double a = 0;
    bool inv = false;
    // USB-DIG, the dial made of an LO and 12 kHz of digital offset: all
    // three stations in the pass band, anything above 2850 Hz outside.
    BbListen l = tune(14058000, 12000, 3, 800);
    QCOMPARE(l.dialHz, 14070000.0);
    QVERIFY(bbstations_audio(l, 14072000, &a, &inv));
    QCOMPARE(a, 2000.0);
    QVERIFY(!inv);
    QVERIFY(bbstations_audio(l, 14070600, &a, &inv));
    QCOMPARE(a, 600.0);
    QVERIFY(!bbstations_audio(l, 14072900, &a, &inv));
    QVERIFY(!bbstations_audio(l, 14070100, &a, &inv));
    // LSB-DIG with a negative offset (24-bit two's complement).
    l = tune(14090000, -18000, 1, 800);
    QCOMPARE(l.dialHz, 14072000.0);
    QVERIFY(bbstations_audio(l, 14071200, &a, &inv));
    QCOMPARE(a, 800.0);
    QVERIFY(inv);
    QVERIFY(!bbstations_audio(l, 14072000, &a, &inv));
    // CW at the beacon: heard at the pitch, inside 550..1050 moved by it.
    l = tune(14070600, 0, 4, 700);
    QVERIFY(bbstations_audio(l, 14070600, &a, &inv));
    QCOMPARE(a, 700.0);
    QVERIFY(bbstations_audio(l, 14070800, &a, &inv));
    QCOMPARE(a, 900.0);
    QVERIFY(!bbstations_audio(l, 14070900, &a, &inv));
    l = tune(14070600, 0, 5, 700); // CWR: the other side
    QVERIFY(bbstations_audio(l, 14070400, &a, &inv));
    QCOMPARE(a, 900.0);
    QVERIFY(inv);
    // AM hears none of them; VFO B in front takes its own mode word.
    QVERIFY(!bbstations_audio(tune(14070000, 0, 6, 800), 14071200, &a, &inv));
    regs[13] = 1;
    regs[10] = 2;
    l = tune(14070000, 0, 6, 800);
    QVERIFY(bbstations_audio(l, 14071200, &a, &inv));
    regs[13] = 0;

    // The loops decode to their texts, all three from the same audio, and
    // on the other sideband. About two loops, rendered in one go.
    BbStations st;
    for (int i = 0; i < BbStations::kCount; i++)
        QVERIFY2(st.loopLength(i) > size_t(2 * kFs) && st.loopLength(i) < size_t(8 * kFs),
                 qPrintable(QString::number(st.loopLength(i))));
    auto render = [&](const BbListen &lt, double seconds) {
        std::vector<float> x(size_t(seconds * kFs));
        st.render(lt, x.data(), x.size(), false);
        for (float &v : x)
            v *= 32767.0f; // the host's raw 16-bit scale
        return x;
    };
    const std::vector<float> usb = render(tune(14070000, 0, 2, 800), 12.0);
    QByteArray got = zmh::normalise(zmh::decode_rtty(usb, 2000, 45.45f, 170));
    QVERIFY2(got.contains("CQ DE ZR450 K"), got.constData());
    got = zmh::normalise(zmh::decode_psk(usb, 1200, 0, true));
    QVERIFY2(got.contains("CQ DE ZR450 K"), got.constData());
    got = zmh::normalise(zmh::decode_cw(usb, 600));
    QVERIFY2(got.contains("VVV DE ZR450"), got.constData());
    got = zmh::normalise(zmh::decode_psk(render(tune(14072000, 0, 0, 800), 7.0), 800, 0, true));
    QVERIFY2(got.contains("CQ DE ZR450 K"), got.constData());
    // Muted while transmitting: silence. Out of every pass band: noise only.
    std::vector<float> x(1600);
    st.render(tune(14070000, 0, 3, 800), x.data(), x.size(), true);
    QVERIFY(std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; }));
    st.render(tune(7000000, 0, 3, 800), x.data(), x.size(), false);
    double sq = 0;
    for (float v : x)
        sq += double(v) * v;
    QVERIFY(std::sqrt(sq / x.size()) < 2 * BbStations::kNoise);
    QVERIFY(std::sqrt(sq / x.size()) > 0.5 * BbStations::kNoise);
}

// The whole host on the sound-card stand-in, the test being its peer.
void TestModemHost::transmitAndReceiveThroughAlsa()
{
    zsimaudio_t *peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(peer);
    {
        ZRModem m;
        m.setFc(1000);
        m.mode = ZRModem::ModeRTTY;
        QCOMPARE(m.start(), 0);
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_CAPTURE, 1, 3000));
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_PLAYBACK, 1, 3000));
        QTRY_COMPARE(logCount(QStringLiteral("ZRModem::thread_dem created, 0x")), 1);
        QTRY_COMPARE(logCount(QStringLiteral("ZRModem::thread_mod created, 0x")), 1);

        // Before the first transmission the playback runs, with silence.
        std::vector<int16_t> buf(2 * 1024);
        size_t silent = 0;
        bool allZero = true;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 400) {
            const size_t n = zsimaudio_read_playback(peer, buf.data(), 1024, 50);
            silent += n;
            for (size_t i = 0; i < 2 * n; i++)
                allZero = allZero && buf[i] == 0;
        }
        QVERIFY2(silent > 3000, qPrintable(QString::number(silent)));
        QVERIFY(allZero);

        // Receive works: an RTTY signal on the capture decodes. (Its trailer
        // is left out: it only pads.)
        std::vector<float> incoming = zmh::channel(zmh::rtty_signal("RYRY DE RX", 1000, 45.45f, 170), 30, 100, 1, 0.2, 0.3);
        incoming.resize(std::min(incoming.size(), size_t(0.2 * kFs) + 352 * (32 + 13 * 15 / 2)));
        for (float &v : incoming)
            v /= 32767.0f;
        QCOMPARE(zsimaudio_write_capture_mono(peer, incoming.data(), incoming.size()), incoming.size());
        QByteArray heard;
        char c;
        t.restart();
        while (t.elapsed() < 6000 && !zmh::normalise(heard).contains("RYRY DE RX")) {
            zsimaudio_read_playback(peer, buf.data(), 1024, 20);
            while (rtty_dem_getchar(m.rttyDem, &c))
                heard.append(c);
        }
        QVERIFY2(zmh::normalise(heard).contains("RYRY DE RX"), heard.constData());

        // Transmit RTTY while the same signal comes in again: the played
        // audio decodes back to the text, nothing is decoded from the
        // receiver meanwhile, and the flag falls after the trailer.
        while (zsimaudio_read_playback(peer, buf.data(), 1024, 0) > 0) {
        }
        const uint64_t ignored0 = m.framesIgnored.load();
        QVERIFY(m.postText(QStringLiteral("DE ZR450 TX")));
        QThread::msleep(100);
        zsimaudio_write_capture_mono(peer, incoming.data(), incoming.size());
        std::vector<float> played;
        double lastSoundMs = -1, flagFellMs = -1;
        heard.clear();
        t.restart();
        while (t.elapsed() < 10000) {
            const size_t n = zsimaudio_read_playback(peer, buf.data(), 1024, 10);
            for (size_t i = 0; i < n; i++) {
                played.push_back(buf[2 * i] / 5000.0f);
                if (std::abs(buf[2 * i]) > 300)
                    lastSoundMs = msSince(t);
            }
            if (flagFellMs < 0 && !m.transmitFlag())
                flagFellMs = msSince(t);
            while (rtty_dem_getchar(m.rttyDem, &c))
                if (flagFellMs < 0)
                    heard.append(c);
            if (flagFellMs >= 0 && msSince(t) > flagFellMs + 600)
                break;
        }
        QVERIFY(flagFellMs > 0);
        QCOMPARE(decodeRtty(played), QByteArray("DE ZR450 TX"));
        QVERIFY2(heard.isEmpty(), heard.constData());
        QVERIFY(m.framesIgnored.load() > ignored0 + 2 * 1024);
        // The flag falls once the modulator has produced its last sample; the
        // device still plays out what it holds (at most its buffer, 256 ms).
        QVERIFY2(flagFellMs > lastSoundMs - 400 && flagFellMs < lastSoundMs + 300,
                 qPrintable(QStringLiteral("flag fell at %1 ms, last sound at %2 ms").arg(flagFellMs).arg(lastSoundMs)));
        QCOMPARE(logCount(QStringLiteral("modem playback paused")), 1);
        // Paused: the drained stream plays nothing, not even silence.
        QCOMPARE(zsimaudio_read_playback(peer, buf.data(), 1024, 300), size_t(0));

        // PSK (PSK63 here, to be quick) resumes the playback.
        m.mode = ZRModem::ModeBPSK;
        m.pskMod->setRateIndex(1);
        QVERIFY(m.postText(QStringLiteral("cq de zr450 psk")));
        played.clear();
        t.restart();
        flagFellMs = -1;
        while (t.elapsed() < 12000) {
            const size_t n = zsimaudio_read_playback(peer, buf.data(), 1024, 10);
            for (size_t i = 0; i < n; i++)
                played.push_back(buf[2 * i] / 5000.0f);
            if (flagFellMs < 0 && !m.transmitFlag())
                flagFellMs = msSince(t);
            if (flagFellMs >= 0 && msSince(t) > flagFellMs + 500)
                break;
        }
        QVERIFY(flagFellMs > 0);
        QCOMPARE(logCount(QStringLiteral("modem playback resumed")), 1);
        QCOMPARE(logCount(QStringLiteral("modem playback paused")), 2);
        std::vector<float> raw(played.size());
        for (size_t i = 0; i < raw.size(); i++)
            raw[i] = played[i] * 5000.0f;
        const QByteArray back = zmh::normalise(zmh::decode_psk(raw, 1000, 1, true));
        QVERIFY2(back.contains("CQ DE ZR450 PSK"), back.constData());
    }
    QCOMPARE(logCount(QStringLiteral("dem thread joined.")), 1);
    QCOMPARE(logCount(QStringLiteral("mod thread joined.")), 1);
    QVERIFY(logCount(QStringLiteral("destroyed")) >= 3);
    zsimaudio_destroy(peer);
}

void TestModemHost::stalledFailingAndMissingDevices()
{
    zsimaudio_t *peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(peer);

    // A stalled card (its clock stops) during a transmission: the GUI's
    // calls return at once and destruction ends within its bounds.
    {
        auto *m = new ZRModem;
        m->setFc(1000);
        m->mode = ZRModem::ModeRTTY;
        QCOMPARE(m->start(), 0);
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_PLAYBACK, 1, 3000));
        QVERIFY(m->postText(QStringLiteral("RYRYRYRYRYRYRYRYRYRY")));
        QThread::msleep(300);
        zsimaudio_set_stall(peer, ZSIMAUDIO_CAPTURE, true);
        zsimaudio_set_stall(peer, ZSIMAUDIO_PLAYBACK, true);
        QThread::msleep(400);
        const uint64_t blocks = m->blocksProcessed.load();
        QElapsedTimer t;
        t.start();
        m->setFc(1200);
        m->postText(QStringLiteral("K"));
        (void)m->trxState();
        (void)m->level.load();
        // A call blocked on the stalled card would not return until the
        // stall ends, long after this bound.
        QVERIFY(t.elapsed() < 1000);
        QThread::msleep(300);
        QCOMPARE(m->blocksProcessed.load(), blocks); // nothing comes in
        QCOMPARE(m->transmitFlag(), uint8_t(1));     // nothing goes out
        t.restart();
        delete m;
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        zsimaudio_set_stall(peer, ZSIMAUDIO_CAPTURE, false);
        zsimaudio_set_stall(peer, ZSIMAUDIO_PLAYBACK, false);
    }

    // A card that fails every call: few log lines, no spinning, recovery
    // once it heals; destruction still prompt.
    {
        ZRModem *m = new ZRModem;
        m->setFc(1000);
        QCOMPARE(m->start(), 0);
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_CAPTURE, 1, 3000));
        QTRY_VERIFY_WITH_TIMEOUT(m->blocksProcessed.load() > 2, 3000);
        clearLog();
        zsimaudio_set_fault(peer, ZSIMAUDIO_CAPTURE, EIO);
        zsimaudio_set_fault(peer, ZSIMAUDIO_PLAYBACK, EIO);
        QThread::msleep(1000);
        // The card fails every call: reads and writes end in xruns whose
        // recovery fails. Logged, but only the start of the run.
        const int errors = logCount(QStringLiteral("modem capture overrun")) + logCount(QStringLiteral("modem playback underrun"))
            + logCount(QStringLiteral("pcm read error: ")) + logCount(QStringLiteral("pcm write error: "));
        const int recoveries = logCount(QStringLiteral("Can't recovery from underrun, prepare failed"));
        QVERIFY2(errors >= 1 && errors <= 4, qPrintable(QString::number(errors)));
        QVERIFY2(recoveries >= 1 && recoveries <= 4, qPrintable(QString::number(recoveries)));
        const uint64_t blocks = m->blocksProcessed.load();
        zsimaudio_set_fault(peer, ZSIMAUDIO_CAPTURE, 0);
        zsimaudio_set_fault(peer, ZSIMAUDIO_PLAYBACK, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m->blocksProcessed.load() > blocks + 2, 3000);
        QElapsedTimer t;
        t.start();
        delete m;
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
    }
    zsimaudio_destroy(peer);

    // No such devices at all: the host is built with null streams, the
    // threads run, a transmission still takes as long as its audio.
    const QByteArray conf = qgetenv("ALSA_CONFIG_PATH");
    qputenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf");
    snd_config_update_free_global();
    {
        clearLog();
        ZRModem m;
        QVERIFY(!m.capture->handle);
        QVERIFY(!m.playback->handle);
        QCOMPARE(logCount(QStringLiteral("cannot open device (mixcapture)")), 1);
        QCOMPARE(m.start(), 0);
        m.setFc(1000);
        m.mode = ZRModem::ModeRTTY;
        rtty_mod_set_speed(m.rttyMod, 300);
        QElapsedTimer t;
        t.start();
        QVERIFY(m.postText(QStringLiteral("E")));
        QTRY_VERIFY_WITH_TIMEOUT(!m.transmitFlag(), 5000);
        // Preamble, shift, E and trailer at 300 Bd: about 430 ms of audio.
        QVERIFY2(t.elapsed() > 350, qPrintable(QString::number(t.elapsed())));
    }
    qputenv("ALSA_CONFIG_PATH", conf);
    snd_config_update_free_global();
}

// A host built for 8 kHz opens its streams at 8 kHz, the rate its modems
// run at. The devices here convert to the stand-in's 16 kHz (ALSA's "plug";
// its rate converter needs memory-mapped access, which "mmap_emul" gives
// the stand-in), so receive and transmit audio come out right only when
// streams and modems agree.
void TestModemHost::streamsRunAtTheHostsRate()
{
    const QString extra = m_root.path() + QStringLiteral("/plug-8k.conf");
    QVERIFY(ztest::writeFile(extra, QByteArrayLiteral(
        "pcm.zrcap { type zr450 socket \"/run/mixcapture.sock\" }\n"
        "pcm.zrplay { type zr450 socket \"/run/mixplayback.sock\" }\n"
        "pcm.!mixcapture { type plug slave.pcm { type mmap_emul slave.pcm \"zrcap\" } }\n"
        "pcm.!mixplayback { type plug slave.pcm { type mmap_emul slave.pcm \"zrplay\" } }\n")));
    const QByteArray conf = qgetenv("ALSA_CONFIG_PATH");
    qputenv("ALSA_CONFIG_PATH", conf + ':' + extra.toLocal8Bit());
    snd_config_update_free_global();
    ztest::AtExit restore([&] {
        qputenv("ALSA_CONFIG_PATH", conf);
        snd_config_update_free_global();
    });
    zsimaudio_t *peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(peer);
    ztest::AtExit endPeer([&] { zsimaudio_destroy(peer); });
    {
        ZRModem m(1000, 8000, 1024);
        QVERIFY(m.capture->handle && m.playback->handle);
        QCOMPARE(m.capture->rate, 8000u);
        QCOMPARE(m.playback->rate, 8000u);
        QCOMPARE(logCount(QStringLiteral("the modems at")), 0);
        m.mode = ZRModem::ModeRTTY;
        m.setFc(1000);
        QCOMPARE(m.start(), 0);
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_CAPTURE, 1, 3000));
        QVERIFY(zsimaudio_wait_clients(peer, ZSIMAUDIO_PLAYBACK, 1, 3000));

        // Receive: a 16 kHz signal from the card decodes.
        std::vector<float> incoming = zmh::channel(zmh::rtty_signal("RYRY DE RX", 1000, 45.45f, 170), 30, 100, 1, 0.2, 0.3);
        for (float &v : incoming)
            v /= 32767.0f;
        QCOMPARE(zsimaudio_write_capture_mono(peer, incoming.data(), incoming.size()), incoming.size());
        std::vector<int16_t> buf(2 * 1024);
        QByteArray heard;
        char c;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 8000 && !zmh::normalise(heard).contains("RYRY DE RX")) {
            zsimaudio_read_playback(peer, buf.data(), 1024, 20);
            while (m.getChar(&c))
                heard.append(c);
        }
        QVERIFY2(zmh::normalise(heard).contains("RYRY DE RX"), heard.constData());

        // Transmit: what the card plays at 16 kHz decodes to the text.
        while (zsimaudio_read_playback(peer, buf.data(), 1024, 0) > 0) {
        }
        QVERIFY(m.postText(QStringLiteral("DE ZR450 TX")));
        std::vector<float> played;
        t.restart();
        qint64 fell = -1;
        while (t.elapsed() < 12000 && (fell < 0 || t.elapsed() < fell + 600)) {
            const size_t n = zsimaudio_read_playback(peer, buf.data(), 1024, 10);
            for (size_t i = 0; i < n; i++)
                played.push_back(buf[2 * i] / 5000.0f);
            if (fell < 0 && !m.transmitFlag())
                fell = t.elapsed();
        }
        QVERIFY(fell > 0);
        QCOMPARE(decodeRtty(played), QByteArray("DE ZR450 TX"));
    }
}

namespace {

// "key=value" of a control reply.
double field(const QString &reply, const QString &key)
{
    for (const QString &w : reply.split(' '))
        if (w.startsWith(key + '='))
            return w.mid(key.size() + 1).toDouble();
    return -1;
}

// Front VFO A: physical LO, digital offset, mode and CW pitch, written to
// the board's register block over the I2C stand-in as the push thread does.
bool tune(zradio_i2c_t *i2c, uint32_t lo, int32_t dlo, uint32_t mode, uint32_t tone)
{
    const uint32_t w1 = lo, w4 = mode, w13 = 0, w33 = tone << 12, w35 = uint32_t(dlo) & 0xFFFFFF;
    return ui2c_write(i2c, 4 * 1, &w1, 4) == 0 && ui2c_write(i2c, 4 * 4, &w4, 4) == 0
        && ui2c_write(i2c, 4 * 13, &w13, 4) == 0 && ui2c_write(i2c, 4 * 33, &w33, 4) == 0
        && ui2c_write(i2c, 4 * 35, &w35, 4) == 0;
}

// What the demodulator of the host's mode has decoded in the last 50 ms,
// normalised.
QByteArray decodeSome(ZRModem &m)
{
    QThread::msleep(50);
    QByteArray got;
    char c;
    while (m.getChar(&c) > 0)
        got.append(c);
    return got;
}

} // namespace

// The real simulator on its own system root: the host tunes to each of its
// stations (register words over the I2C stand-in), decodes them through
// ALSA, and transmits into it; the Morse sender keys its key line.
void TestModemHost::simulatorEndToEnd()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    ztest::Sim sim;
    QVERIFY(sim.start(root.path(), 10000));
    ztest::setSysroot(root.path());

    zradio_i2c_t *i2c = ui2c_create((root.path() + "/dev/i2c-0").toLocal8Bit().constData(), 0x72);
    QVERIFY(i2c);
    {
        // Other tunings, as the simulator reports them: LSB-DIG with a
        // negative digital offset, and CW at the beacon with a 700 Hz pitch.
        QVERIFY(tune(i2c, 14090000, -18000, 1, 800));
        QCOMPARE(simCommand(root.path(), "stations"),
                 QStringLiteral("ok cw=14070600:1400 rtty=14072000:- psk=14071200:800"));
        QVERIFY(tune(i2c, 14070600, 0, 4, 700));
        QCOMPARE(simCommand(root.path(), "stations"),
                 QStringLiteral("ok cw=14070600:700 rtty=14072000:- psk=14071200:-"));

        // USB-DIG at 14070000 (an LO 12 kHz below and the digital offset):
        // all three stations at once, one host on each.
        QVERIFY(tune(i2c, 14058000, 12000, 3, 800));
        QCOMPARE(simCommand(root.path(), "stations"),
                 QStringLiteral("ok cw=14070600:600 rtty=14072000:2000 psk=14071200:1200"));
        ZRModem rtty, psk, cw;
        rtty.mode = ZRModem::ModeRTTY;
        rtty.setFc(2000);
        psk.mode = ZRModem::ModeBPSK;
        psk.setFc(1200);
        cw.mode = ZRModem::ModeCW;
        cw.setFc(600);
        QCOMPARE(rtty.start(), 0);
        QCOMPARE(psk.start(), 0);
        QCOMPARE(cw.start(), 0);
        QByteArray got[3];
        const QByteArray want[3] = {"CQ DE ZR450 K", "CQ DE ZR450 K", "DE ZR450"};
        ZRModem *host[3] = {&rtty, &psk, &cw};
        QElapsedTimer t;
        t.start();
        auto done = [&] {
            for (int i = 0; i < 3; i++)
                if (!zmh::normalise(got[i]).contains(want[i]))
                    return false;
            return true;
        };
        while (t.elapsed() < 16000 && !done())
            for (int i = 0; i < 3; i++)
                got[i] += decodeSome(*host[i]);
        for (int i = 0; i < 3; i++)
            QVERIFY2(zmh::normalise(got[i]).contains(want[i]), got[i].constData());

        // Retuned away: only noise; the tone level at the PSK station falls.
        QVERIFY(psk.level.load() > 50.0f);
        QVERIFY(tune(i2c, 14058000, 0, 3, 800));
        QCOMPARE(simCommand(root.path(), "stations"), QStringLiteral("ok cw=14070600:- rtty=14072000:- psk=14071200:-"));
        ZRModem &m = rtty;

        // Transmit audio reaches the simulator: one burst at 1000 Hz as long
        // as the RTTY transmission.
        QCOMPARE(simCommand(root.path(), "txaudio reset"), QStringLiteral("ok"));
        m.mode = ZRModem::ModeRTTY;
        m.setFc(1000);
        clearLog();
        QVERIFY(m.postText(QStringLiteral("TEST")));
        QTRY_VERIFY_WITH_TIMEOUT(!m.transmitFlag(), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(field(simCommand(root.path(), "txaudio"), "on"), 0.0, 2000);
        const QString tx = simCommand(root.path(), "txaudio");
        const double expectMs = 1000.0 * zmh::rtty_signal("TEST", 1000, 45.45f, 170).size() / kFs;
        // The audio lasts as long as the transmission.
        QVERIFY2(std::fabs(field(tx, "active_ms") - expectMs) < 120, qPrintable(tx));
        // A busy machine that holds up the modulator thread puts a gap into
        // the burst (logged as an underrun); only an undisturbed burst is
        // one piece of the message's length.
        if (logCount(QStringLiteral("modem playback underrun")) == 0) {
            QCOMPARE(field(tx, "bursts"), 1.0);
            QVERIFY2(std::fabs(field(tx, "last_ms") - expectMs) < 250, qPrintable(tx));
        }
        QVERIFY2(std::fabs(field(tx, "hz") - 1000) < 30, qPrintable(tx));
        QVERIFY2(field(tx, "peak") > 4900 && field(tx, "peak") <= 5000, qPrintable(tx));
        QCOMPARE(field(tx, "tx_ms"), 0.0); // nobody keyed the radio
        QTRY_VERIFY_WITH_TIMEOUT(psk.level.load() < 15.0f, 5000);

        // The whole way to the radio: the dialog's transmit state goes to the
        // main window's slot, the register push sends the modem transmit bit
        // and the board transmits while the audio plays, and stops after it.
        zradio_t *radio = zradio_create("/dev/i2c-0", 114);
        QVERIFY(radio);
        QCOMPARE(simCommand(root.path(), "txaudio reset"), QStringLiteral("ok"));
        QVERIFY(m.postText(QStringLiteral("TEST")));
        bool keyed = false, released = false;
        t.restart();
        while (t.elapsed() < 10000 && !released) {
            zradio_set_modem_trx(m.trxState()); // MainWidget::slot_modemTrxReceiver
            zradio_update_params();             // its update timer
            QThread::msleep(50);
            const QString st = simCommand(root.path(), "status");
            keyed = keyed || st.contains(QLatin1String(" tx=1 atu=0"));
            released = keyed && !m.transmitFlag() && st.contains(QLatin1String(" tx=0 atu=0"));
        }
        QVERIFY(keyed);
        QVERIFY(released);
        const QString tx2 = simCommand(root.path(), "txaudio");
        QVERIFY2(field(tx2, "tx_ms") >= field(tx2, "active_ms") - 1500 && field(tx2, "tx_ms") > 0.5 * field(tx2, "active_ms") && field(tx2, "active_ms") > 2500,
                 qPrintable(tx2));
        zradio_destroy(radio);
    }

    // The Morse sender keys the simulator's key line: "EI" at 20 WPM.
    QCOMPARE(simCommand(root.path(), "cwkey reset"), QStringLiteral("ok"));
    {
        MorseSender s;
        s.setUnit(60);
        s.slot_worker(QStringLiteral("EI"));
    }
    QTRY_COMPARE_WITH_TIMEOUT(field(simCommand(root.path(), "cwkey"), "downs"), 3.0, 2000);
    const QString key = simCommand(root.path(), "cwkey");
    QCOMPARE(field(key, "level"), 1.0);
    // Margins a busy machine's wake-up delays stay well inside.
    QVERIFY2(std::fabs(field(key, "down_ms") - 180) < 60, qPrintable(key));
    QVERIFY2(std::fabs(field(key, "dot_ms") - 60) < 25, qPrintable(key));
    QVERIFY2(std::fabs(field(key, "last_up_ms") - 60) < 25, qPrintable(key)); // between the dots of I
    QVERIFY(simCommand(root.path(), "cwkey now").startsWith("error"));
    QVERIFY(simCommand(root.path(), "stations x").startsWith("error"));

    ui2c_destroy(i2c);
    QVERIFY(sim.stop());
    ztest::setSysroot(m_root.path());
}

QTEST_GUILESS_MAIN(TestModemHost)
#include "test_modemhost.moc"
