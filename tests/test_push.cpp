// Register block and push: every word against the register tables for
// representative and extreme settings, the LO rule, the control word and its
// transient flags, the push thread's scan and refresh on a recording bus,
// the reports before and after the first frame, the spectrum settings,
// backlight and power-off, the simulator's transmitter and tuner model, and
// the real application against the real simulator.
#include "sim/bbtx.h"
#include "tests/params_support.h"
#include "tests/radio_support.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "app/zsystem.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <climits>
#include <cstring>
#include <cmath>
#include <thread>

using namespace rtest;

namespace {

enum Kind { Int, Tenths };

// The register tables: word, first bit, width, group, key.
struct Field {
    int word, shift, width;
    const char *group;
    const char *key;
    Kind kind;
};

const Field kFields[] = {
    {2, 0, 32, "vfoa", "att", Int}, {3, 0, 32, "vfoa", "pre", Int},
    {4, 0, 32, "vfoa", "mode", Int}, {5, 0, 32, "vfoa", "agc", Int},
    {8, 0, 32, "vfob", "att", Int}, {9, 0, 32, "vfob", "pre", Int},
    {10, 0, 32, "vfob", "mode", Int}, {11, 0, 32, "vfob", "agc", Int},
    {13, 0, 8, "wparam", "vi", Int}, {13, 16, 1, "wparam", "vm", Int},
    {14, 0, 8, "wparam", "rxvol", Int},
    {15, 0, 8, "wparam", "rfg", Int}, {15, 8, 8, "wparam", "txpwr", Tenths}, {15, 16, 4, "wparam", "fftdec", Int},
    {20, 0, 8, "wparam", "ling", Int}, {20, 8, 8, "wparam", "loutg", Int},
    {20, 16, 8, "wparam", "imicg", Int}, {20, 24, 8, "wparam", "hmicg", Int},
    {21, 0, 2, "wparam", "micsel", Int}, {21, 2, 2, "wparam", "pttmode", Int},
    {21, 4, 1, "wparam", "chge", Int}, {21, 5, 1, "wparam", "spmode", Int},
    {21, 6, 1, "wparam", "auxiqen", Int}, {21, 8, 8, "wparam", "sqlthr", Int},
    {22, 0, 7, "wparam", "voxg", Int}, {22, 7, 7, "wparam", "voxag", Int},
    {22, 14, 12, "wparam", "voxdly", Int}, {22, 26, 1, "wparam", "voxe", Int},
    {23, 0, 8, "wparam", "nrthr", Int}, {23, 8, 8, "wparam", "nbw", Int}, {23, 16, 8, "wparam", "nbthr", Int},
    {23, 24, 1, "wparam", "nre", Int}, {23, 25, 1, "wparam", "nbe", Int},
    {24, 0, 12, "wparam", "dnfcnt", Int}, {24, 12, 12, "wparam", "dnfwidth", Int}, {24, 24, 1, "wparam", "dnfe", Int},
    {25, 0, 4, "wparam", "cmplevel", Int}, {25, 4, 1, "wparam", "cmpe", Int},
    {27, 0, 8, "wparam", "agcknee", Int}, {27, 8, 4, "wparam", "agcslope", Int}, {27, 12, 1, "wparam", "agchang", Int},
    {28, 0, 10, "wparam", "agc_tcslow", Int}, {28, 10, 10, "wparam", "agc_tcmid", Int},
    {28, 20, 10, "wparam", "agc_tcfast", Int},
    {29, 0, 8, "wparam", "monilevel", Int},
    {33, 0, 8, "wparam", "ks", Int}, {33, 8, 2, "wparam", "km", Int}, {33, 10, 2, "wparam", "kimb", Int},
    {33, 12, 11, "wparam", "cwtone", Int}, {33, 23, 6, "wparam", "cwvol", Int}, {33, 29, 1, "wparam", "cwtrain", Int},
    {34, 0, 16, "wparam", "qsktime", Int}, {34, 16, 16, "wparam", "kr", Tenths},
    {42, 0, 32, "wparam", "rit", Int}, {43, 0, 32, "wparam", "xit", Int},
    {48, 0, 32, "wparam", "rphscmp", Int}, {49, 0, 32, "wparam", "rmagcmp", Int},
    {50, 0, 32, "wparam", "txiofs", Int}, {51, 0, 32, "wparam", "txqofs", Int},
    {53, 0, 32, "wparam", "pwrsync", Int},
};

uint32_t mask(int width)
{
    return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
}

// The block the tables give for the store's current values. Tenths fields
// take their expected value from `tenths` (the test states it).
void expectedBlock(ZParamAdmin *s, const QHash<QString, int> &tenths, bool calFlag, uint32_t *w)
{
    std::memset(w, 0, 4 * ZRADIO_REG_WORDS);
    for (const Field &f : kFields) {
        const int v = f.kind == Tenths ? tenths.value(QLatin1String(f.key))
                                       : s->paramItem(QLatin1String(f.group), QLatin1String(f.key)).value.toInt();
        w[f.word] |= (uint32_t(v) & mask(f.width)) << f.shift;
    }
    const QString wp = QStringLiteral("wparam");
    auto val = [&](const char *g, const char *k) { return s->paramItem(QLatin1String(g), QLatin1String(k)).value.toInt(); };
    const int fa = val("vfoa", "freq"), fb = val("vfob", "freq");
    w[0] = s->bandPlan().isHamBand(fa);
    w[6] = s->bandPlan().isHamBand(fb);
    const bool center = val("wparam", "center_mode") != 0;
    const int vm = val("wparam", "vm");
    w[1] = uint32_t(center || vm ? fa : s->ploFreq.load());
    w[7] = uint32_t(!center && vm ? s->ploFreq.load() : fb);
    w[12] = (val("wparam", "sple") & 1 ? 1u << 1 : 0) | (val("wparam", "atue") & 1 ? 1u << 12 : 0);
    w[13] |= uint32_t(s->bandPlan().bandIndex(s->vfoFront(QStringLiteral("freq")).value.toInt()) & 0xFF) << 8;
    w[35] = (uint32_t(s->dloFreq.load()) & 0xFFFFFF) | (center ? 1u << 24 : 0);
    if (calFlag)
        w[41] = (uint32_t(val("wparam", "bias_drive")) & 0xFFFF) | (uint32_t(val("wparam", "bias_final")) & 0xFFFF) << 16;
    Q_UNUSED(wp);
}

bool compareBlocks(const uint32_t *got, const uint32_t *want, QString *why)
{
    for (int i = 0; i < ZRADIO_REG_WORDS; ++i) {
        if (got[i] != want[i]) {
            *why = QStringLiteral("word %1: got %2, want %3").arg(i).arg(got[i], 8, 16, QLatin1Char('0')).arg(want[i], 8, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

bool isFullRefresh(const RecordingBus::Write &w)
{
    return w.address == 0 && w.data.size() == 4 * ZRADIO_REG_WORDS
        && bbframe_get_u32(&w.data[4 * ZRADIO_WORD_REFRESH]) == ZRADIO_REFRESH_MARK;
}

} // namespace

class TestPush : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }

    // Every word for the default settings and for sets of extreme values;
    // the worked examples: "txpwr" 5.0 and 0.1, "agcknee" -60, a negative
    // digital offset; values wider than their field are masked.
    void registerWords()
    {
        ztest::Sysroot root;
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        ZParamAdmin *s = radio->param;

        struct Case {
            const char *name;
            QVector<QPair<QString, QVariant>> set; // "group/key" -> value
            QHash<QString, int> tenths;
            bool cal;
        };
        const QVector<Case> cases = {
            {"defaults", {}, {{"txpwr", 50}, {"kr", 30}}, false},
            {"examples",
             {{"wparam/txpwr", 0.1f}, {"wparam/agcknee", -60}, {"wparam/kr", 2.5f}, {"wparam/rit", -1234},
              {"wparam/xit", 2500}},
             {{"txpwr", 1}, {"kr", 25}},
             false},
            {"grid floats",
             {{"wparam/txpwr", 0.7f}, {"wparam/kr", 3.3f}, {"wparam/agcknee", -100}},
             {{"txpwr", 7}, {"kr", 33}},
             false},
            {"truncation", {{"wparam/txpwr", 9.99f}, {"wparam/kr", 4.46f}}, {{"txpwr", 99}, {"kr", 44}}, false},
            {"all ones",
             {{"vfoa/att", 1}, {"vfoa/pre", 1}, {"vfoa/mode", 7}, {"vfoa/agc", 3}, {"vfob/att", 1}, {"vfob/pre", 1},
              {"vfob/mode", 6}, {"vfob/agc", 2}, {"wparam/rxvol", 255}, {"wparam/rfg", 255}, {"wparam/fftdec", 15},
              {"wparam/txpwr", 10.0f}, {"wparam/ling", 255}, {"wparam/loutg", 255}, {"wparam/imicg", 255},
              {"wparam/hmicg", 255}, {"wparam/micsel", 3}, {"wparam/pttmode", 3}, {"wparam/chge", 1},
              {"wparam/spmode", 1}, {"wparam/auxiqen", 1}, {"wparam/sqlthr", 255}, {"wparam/voxg", 127},
              {"wparam/voxag", 127}, {"wparam/voxdly", 4095}, {"wparam/voxe", 1}, {"wparam/nrthr", 255},
              {"wparam/nbw", 255}, {"wparam/nbthr", 255}, {"wparam/nre", 1}, {"wparam/nbe", 1},
              {"wparam/dnfcnt", 4095}, {"wparam/dnfwidth", 4095}, {"wparam/dnfe", 1}, {"wparam/cmplevel", 15},
              {"wparam/cmpe", 1}, {"wparam/agcknee", -1}, {"wparam/agcslope", 15}, {"wparam/agchang", 1},
              {"wparam/agc_tcslow", 1023}, {"wparam/agc_tcmid", 1023}, {"wparam/agc_tcfast", 1023},
              {"wparam/monilevel", 255}, {"wparam/ks", 255}, {"wparam/km", 3}, {"wparam/kimb", 3},
              {"wparam/cwtone", 2047}, {"wparam/cwvol", 63}, {"wparam/cwtrain", 1}, {"wparam/qsktime", 65535},
              {"wparam/kr", 4.5f}, {"wparam/rit", -1}, {"wparam/xit", INT_MIN}, {"wparam/rphscmp", INT_MAX},
              {"wparam/rmagcmp", -7}, {"wparam/txiofs", -32768}, {"wparam/txqofs", 32767},
              {"wparam/pwrsync", 2000000}, {"wparam/sple", 1}, {"wparam/atue", 1}, {"wparam/bias_drive", 65535},
              {"wparam/bias_final", 4660}},
             {{"txpwr", 100}, {"kr", 45}},
             true},
            {"overwide values are masked",
             {{"wparam/rxvol", 300}, {"wparam/micsel", 6}, {"wparam/chge", 2}, {"wparam/voxg", 200},
              {"wparam/dnfcnt", 5000}, {"wparam/cwtone", 3000}, {"wparam/qsktime", 70000}, {"wparam/fftdec", 17},
              {"wparam/sple", 2}, {"wparam/bias_drive", 70000}, {"wparam/vm", 0}},
             {{"txpwr", 100}, {"kr", 45}},
             true},
        };

        uint32_t w41 = 0;
        for (const Case &c : cases) {
            for (const auto &kv : c.set) {
                const QStringList gk = kv.first.split('/');
                s->setParamItem(gk[0], gk[1], kv.second);
            }
            zradio_set_calflag(c.cal ? 1 : 0);
            uint32_t got[ZRADIO_REG_WORDS] = {};
            got[41] = w41;
            zradio_pack_params(radio, got);
            uint32_t want[ZRADIO_REG_WORDS];
            expectedBlock(s, c.tenths, c.cal, want);
            if (!c.cal)
                want[41] = w41;
            QString why;
            QVERIFY2(compareBlocks(got, want, &why), qPrintable(QString("%1: %2").arg(c.name, why)));
            w41 = got[41];
        }
        // The worked examples, stated directly.
        s->setParamItem("wparam", "txpwr", 5.0f);
        s->setParamItem("wparam", "agcknee", -60);
        uint32_t w[ZRADIO_REG_WORDS] = {};
        zradio_pack_params(radio, w);
        QCOMPARE((w[15] >> 8) & 0xFF, 50u);
        QCOMPARE(w[27] & 0xFF, 0xC4u);
        s->setParamItem("wparam", "txpwr", 0.1f);
        zradio_pack_params(radio, w);
        QCOMPARE((w[15] >> 8) & 0xFF, 1u);
        zradio_set_calflag(0);
    }

    // Words 1 and 7 in each mode; the amateur-band bits always test the
    // stored VFO frequencies; a negative digital offset in 24 bits.
    void loRule()
    {
        ztest::Sysroot root;
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        ZParamAdmin *s = radio->param;
        s->setParamItem("wparam", "center_mode", 0);
        s->setParamItem("wparam", "vm", 0);
        s->setParamItem("wparam", "vi", 0);
        s->setVfoFront("mode", 2);
        // In centre mode the LO is the frequency; back outside it, a step
        // of 12 kHz down stays inside the LO window as a digital offset.
        s->setParamItem("wparam", "center_mode", 1);
        s->setVfoFront("freq", 14270000);
        s->setParamItem("wparam", "center_mode", 0);
        s->setVfoFront("freq", 14258000);
        QCOMPARE(s->dloFreq.load(), -12000);
        QCOMPARE(s->ploFreq.load(), 14270000);
        s->setParamItem("vfob", "freq", 7100000);

        uint32_t w[ZRADIO_REG_WORDS] = {};
        zradio_pack_params(radio, w);
        QCOMPARE(w[1], 14270000u);     // physical LO
        QCOMPARE(w[7], 7100000u);
        QCOMPARE(w[35] & 0xFFFFFF, 0xFFD120u);
        QCOMPARE(w[35] >> 24, 0u);
        QCOMPARE(w[0], 1u);

        // Word 0 follows "vfoa" "freq", not the LO in word 1.
        s->setParamItem("vfoa", "freq", 10000000);
        zradio_pack_params(radio, w);
        QCOMPARE(w[1], 14270000u);
        QCOMPARE(w[0], 0u);
        QCOMPARE(w[6], 1u);
        s->setParamItem("vfoa", "freq", 14258000);

        // Memory mode: the LO moves to word 7.
        s->setParamItem("wparam", "vm", 1);
        zradio_pack_params(radio, w);
        QCOMPARE(w[1], 14258000u);
        QCOMPARE(w[7], 14270000u);
        QCOMPARE((w[13] >> 16) & 1, 1u);

        // Centre mode: both VFO frequencies, whatever "vm".
        s->setParamItem("wparam", "center_mode", 1);
        zradio_pack_params(radio, w);
        QCOMPARE(w[1], 14258000u);
        QCOMPARE(w[7], 7100000u);
        QCOMPARE(w[35] >> 24, 1u);
        s->setParamItem("wparam", "vm", 0);
        zradio_pack_params(radio, w);
        QCOMPARE(w[1], 14258000u);
        QCOMPARE(w[7], 7100000u);
    }

    // The control word from every combination of the transient flags, the
    // split and tuner settings; bits 13 and 16 belong to their functions
    // and survive every rebuild, also while other threads set them.
    void controlWord()
    {
        ztest::Sysroot root;
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        radio->pushEnable.store(0);
        ZParamAdmin *s = radio->param;
        for (int m = 0; m < 256; ++m) {
            const bool voice = m & 1, modem = m & 2, swr = m & 4, cal = m & 8, iptt = m & 16, civ = m & 32;
            const bool sple = m & 64, atue = m & 128;
            zradio_set_voice_recorde(voice);
            zradio_set_modem_trx(modem);
            zradio_set_swrscan_trx(swr);
            zradio_set_calibration_trx(cal);
            zradio_set_iptt(iptt);
            zradio_set_civptt(civ);
            s->setParamItem("wparam", "sple", int(sple));
            s->setParamItem("wparam", "atue", int(atue));
            zradio_update_params();
            const uint32_t want = (sple << 1) | (voice << 3) | (swr << 4) | (atue << 12) | (modem << 14)
                | (cal << 15) | (((iptt || civ) && !voice) << 18);
            QCOMPARE(radio->regs[12].load(), want);
        }
        zradio_set_voice_recorde(0);
        zradio_set_iptt(1);

        zradio_atu_tune(1);
        zradio_update_params();
        QCOMPARE(radio->regs[12].load() & ZRADIO_CTL_ATU_TUNE, ZRADIO_CTL_ATU_TUNE);
        zradio_atu_tune(0);
        zradio_update_params();
        QCOMPARE(radio->regs[12].load() & ZRADIO_CTL_ATU_TUNE, 0u);

        // Rebuilds on one thread, tuner requests and the power-off bit on
        // another: neither is ever lost.
        std::atomic<bool> done{false};
        std::thread other([&]() {
            for (int i = 0; i < 400; ++i) {
                zradio_atu_tune(uint8_t(i & 1));
                if (i == 200)
                    zradio_remote_poweroff();
                std::this_thread::yield();
            }
            zradio_atu_tune(1);
            done = true;
        });
        while (!done)
            zradio_update_params();
        other.join();
        zradio_update_params();
        const uint32_t ctl = radio->regs[12].load();
        QCOMPARE(ctl & ZRADIO_CTL_ATU_TUNE, ZRADIO_CTL_ATU_TUNE);
        QCOMPARE(ctl & ZRADIO_CTL_POWEROFF, ZRADIO_CTL_POWEROFF);
        QCOMPARE(ctl & ZRADIO_CTL_EXT_PTT, ZRADIO_CTL_EXT_PTT);

        // The tuner network goes to word 17 and stays through rebuilds.
        zatu_network_t net;
        net.c = 0x12;
        net.l = 0x34;
        net.s = 1;
        zradio_set_atu_network(&net);
        zradio_update_params();
        QCOMPARE(radio->regs[17].load(), 0x013412u);
    }

    // The push pass on its own, on a record without threads or bus, with
    // the time given: a changed word is written at the next pass, one write
    // per word; the whole block (with the refresh mark) follows
    // ZRADIO_REFRESH_MS after the last write; a requested block carries the
    // words changed with it; word 55 is never compared.
    void pushPassTiming()
    {
        QVERIFY(!g_zi2c);
        zradio_t r;
        auto writes = [&r]() { return std::make_pair(r.wordWrites.load(), r.blockWrites.load()); };
        typedef std::pair<uint64_t, uint64_t> Count;

        QCOMPARE(zradio_push_pass(&r, 10000), int64_t(11000));
        QCOMPARE(zradio_push_pass(&r, 10999), int64_t(11000));
        QCOMPARE(writes(), Count(0, 0));
        QCOMPARE(zradio_push_pass(&r, 11000), int64_t(12000));
        QCOMPARE(writes(), Count(0, 1));
        QCOMPARE(r.mirror[ZRADIO_WORD_REFRESH], ZRADIO_REFRESH_MARK);

        // One word, then quiet: the block a refresh period after the write.
        r.regs[14] = 7;
        QCOMPARE(zradio_push_pass(&r, 11500), int64_t(12500));
        QCOMPARE(writes(), Count(1, 1));
        QCOMPARE(r.mirror[14], 7u);
        QCOMPARE(zradio_push_pass(&r, 12499), int64_t(12500));
        QCOMPARE(zradio_push_pass(&r, 12500), int64_t(13500));
        QCOMPARE(writes(), Count(1, 2));

        // Two words in one pass: two writes.
        r.regs[3] = 1;
        r.regs[40] = 2;
        QCOMPARE(zradio_push_pass(&r, 13000), int64_t(14000));
        QCOMPARE(writes(), Count(3, 2));

        // The requested block carries a word changed with it.
        r.regs[20] = 5;
        r.fullPushRequest = 1;
        QCOMPARE(zradio_push_pass(&r, 13100), int64_t(14100));
        QCOMPARE(writes(), Count(3, 3));
        QCOMPARE(r.mirror[20], 5u);
        QCOMPARE(r.fullPushRequest.load(), uint8_t(0));

        // Word 55 is the refresh mark's, never a word of its own.
        r.regs[ZRADIO_WORD_REFRESH] = 9;
        QCOMPARE(zradio_push_pass(&r, 13200), int64_t(14100));
        QCOMPARE(writes(), Count(3, 3));
        QCOMPARE(r.mirror[ZRADIO_WORD_REFRESH], ZRADIO_REFRESH_MARK);
    }

    // The push thread on a bus that records every write with the pass it
    // happened in: it sleeps at rest (one pass per refresh); one changed
    // parameter is one word write at its next pass; the whole block follows
    // with the refresh mark as the next pass; a lost write is repaired by
    // it; rebuilds without a change do not wake it; the one-shot request;
    // disabling.
    void pushScanAndRefresh()
    {
        ztest::Sysroot root;
        RecordingBus bus(root.path() + "/dev/i2c-0", nullptr);
        QVERIFY(bus.ok());
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param && g_zi2c);
        bus.setPasses(&radio->pushPasses);
        ZParamAdmin *s = radio->param;
        zradio_update_params();

        auto refreshes = [&]() {
            std::vector<RecordingBus::Write> r;
            for (const RecordingBus::Write &w : bus.writes())
                if (isFullRefresh(w))
                    r.push_back(w);
            return r;
        };
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() >= 1, 10000);

        // The refresh carries the wanted block.
        const RecordingBus::Write first = refreshes().front();
        for (int i = 0; i < ZRADIO_WORD_REFRESH; ++i)
            QCOMPARE(bbframe_get_u32(&first.data[4 * i]), radio->regs[i].load());

        // Quiet: the next refresh is the next pass; nothing woke the
        // thread in between.
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() >= 2, 10000);
        {
            const auto r = refreshes();
            QCOMPARE(r[1].pass - r[0].pass, uint64_t(1));
            qInfo("quiet refresh period: %lld ms", r[1].ms - r[0].ms);
        }

        // One changed parameter: exactly one word write, at the next pass.
        const int rx = s->rxVolum();
        const size_t n0 = bus.count();
        const uint64_t p0 = radio->pushPasses.load();
        QElapsedTimer t;
        t.start();
        s->setParamItem("wparam", "rxvol", rx + 7);
        zradio_update_params();
        QTRY_VERIFY_WITH_TIMEOUT(bus.count() > n0, 5000);
        const qint64 latency = t.elapsed();
        std::vector<RecordingBus::Write> after = bus.writes();
        after.erase(after.begin(), after.begin() + ptrdiff_t(n0));
        QCOMPARE(int(after.size()), 1);
        QCOMPARE(after[0].address, uint16_t(4 * 14));
        QCOMPARE(int(after[0].data.size()), 4);
        QCOMPARE(bbframe_get_u32(after[0].data.data()), uint32_t(rx + 7));
        // A refresh may have been due just before the change.
        QVERIFY2(after[0].pass - p0 <= 1, qPrintable(QString::number(after[0].pass - p0)));
        qInfo("changed word on the bus after %lld ms", latency);
        // Nothing else until the refresh, the next pass after the change.
        const size_t nr = refreshes().size();
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() > nr, 10000);
        after = bus.writes();
        after.erase(after.begin(), after.begin() + ptrdiff_t(n0));
        QCOMPARE(int(after.size()), 2);
        QVERIFY(isFullRefresh(after[1]));
        QCOMPARE(after[1].pass - after[0].pass, uint64_t(1));
        QCOMPARE(bbframe_get_u32(&after[1].data[4 * 14]), uint32_t(rx + 7));
        qInfo("refresh %lld ms after the change", after[1].ms - after[0].ms);

        // A lost word write is repaired by the next refresh.
        bus.failNext(1);
        const size_t nl = refreshes().size();
        s->setParamItem("wparam", "rxvol", rx + 3);
        zradio_update_params();
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() > nl, 10000);
        QCOMPARE(bbframe_get_u32(&refreshes().back().data[4 * 14]), uint32_t(rx + 3));

        // Rebuilding without a change writes nothing and wakes nothing: up
        // to the next refresh every pass is a refresh.
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() > nl + 1, 10000);
        const size_t nq = bus.count();
        const uint64_t pq = radio->pushPasses.load();
        for (int i = 0; i < 20; ++i) {
            zradio_update_params();
            QTest::qWait(5);
        }
        const size_t rq = refreshes().size();
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() > rq, 5000);
        for (size_t i = nq; i < bus.writes().size(); ++i)
            QVERIFY(isFullRefresh(bus.writes()[i]));
        // (A pass is counted once its write has been answered.)
        QTRY_COMPARE(radio->pushPasses.load() - pq, uint64_t(bus.writes().size() - nq));

        // The one-shot request: the whole block at the next pass.
        const size_t nf = refreshes().size();
        const uint64_t pf = radio->pushPasses.load();
        zradio_request_full_push();
        QTRY_VERIFY_WITH_TIMEOUT(refreshes().size() > nf, 5000);
        QVERIFY(refreshes()[nf].pass - pf <= 1);

        // Disabled: nothing is written, also not the change.
        radio->pushEnable.store(0);
        QTest::qWait(150);
        const size_t nd = bus.count();
        s->setParamItem("wparam", "rxvol", rx);
        zradio_update_params();
        QTest::qWait(300);
        QCOMPARE(bus.count(), nd);
        radio->pushEnable.store(1);
        QTRY_VERIFY_WITH_TIMEOUT(bus.count() > nd, 5000);
        QCOMPARE(bus.writes()[nd].address, uint16_t(4 * 14));
    }

    // The reports before the first frame are the preset ones; after a frame
    // they are its trailer; the live status the store publishes for CAT.
    void reportsBeforeAndAfterFirstFrame()
    {
        ztest::Sysroot root;
        Pty pty;
        QVERIFY(pty.open());
        QVERIFY(pty.link(root.path() + "/dev/ttyS1"));
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        ZParamAdmin *s = radio->param;

        QCOMPARE(zradio_get_report_vext(), 13.8f);
        QCOMPARE(zradio_get_report_vbat(), 8.4f);
        QCOMPARE(zradio_get_report_batcap(), 100);
        QCOMPARE(zradio_get_report_txpower(), 0.0f);
        QCOMPARE(zradio_get_report_vswr(), 0.0f);
        QCOMPARE(zradio_get_report_alclevel(), 0.0f);
        QCOMPARE(zradio_get_trx(), uint8_t(0));
        QCOMPARE(zradio_get_vextflag(), uint8_t(0));
        QCOMPARE(zradio_get_chgflag(), uint8_t(0));
        QCOMPARE(zradio_get_atu_status(), uint8_t(0));
        zatu_network_t net;
        zradio_get_atuparams(&net);
        QVERIFY(net.c == 0 && net.l == 0 && net.s == 0);
        float mag[ZRADIO_FFT_LEN];
        uint32_t count = 0;
        QCOMPARE(zradio_getfftmag(radio, mag, &count), 0);
        QCOMPARE(zradio_getfftpeak(radio), SACALC_FLOOR_DB);
        zradio_update_live_status(radio, 0);
        QCOMPARE(s->vsupply.load(), 13.8f);

        Trailer t;
        t.status = BBFRAME_ST_TX | BBFRAME_ST_ATU_BUSY | BBFRAME_ST_VEXT | BBFRAME_ST_CHARGING;
        t.power = 45;
        t.swr = 15;
        t.alc = 60;
        t.vext = 121;
        t.vbat = 77;
        t.batcap = 64;
        t.atu[0] = 12;
        t.atu[1] = 34;
        t.atu[2] = 1;
        // The reader drains the line when it starts: repeat the first frame
        // until it is taken.
        const Bytes first = makeFrame(t);
        QElapsedTimer wait;
        wait.start();
        while (!zradio_comm_valid() && wait.elapsed() < 10000) {
            QVERIFY(pty.write(first));
            QTest::qWait(50);
        }
        QCOMPARE(zradio_comm_valid(), uint8_t(1));
        QCOMPARE(zradio_get_report_txpower(), 4.5f);
        QCOMPARE(zradio_get_report_vswr(), 15.0f);
        QCOMPARE(zradio_get_report_alclevel(), 60.0f);
        QCOMPARE(zradio_get_report_vext(), 12.1f);
        QCOMPARE(zradio_get_report_vbat(), 7.7f);
        QCOMPARE(zradio_get_report_batcap(), 64);
        QCOMPARE(zradio_get_trx(), uint8_t(1));
        QCOMPARE(s->trxState.load(), uint8_t(1));
        QCOMPARE(zradio_get_vextflag(), uint8_t(1));
        QCOMPARE(zradio_get_chgflag(), uint8_t(1));
        QCOMPARE(zradio_get_atu_status(), uint8_t(1));
        zradio_get_atuparams(&net);
        QVERIFY(net.c == 12 && net.l == 34 && net.s == 1);

        // Live status while transmitting: smoothed power, SWR, ALC.
        // (QTRY evaluates its condition more than once: collect only once.)
        bool got = false;
        auto collect = [&]() { return got = got || zradio_getfftmag(radio, mag, &count) == 1; };
        QTRY_VERIFY_WITH_TIMEOUT(collect(), 5000);
        QCOMPARE(count, uint32_t(ZRADIO_FFT_LEN));
        s->setParamItem("wparam", "chge", 1);
        zradio_atu_tune(1);
        zradio_update_live_status(radio, 1);
        QCOMPARE(s->vsupply.load(), 12.1f);
        QVERIFY(qAbs(s->fwdPower.load() - 2.7f) < 1e-4f);
        QVERIFY(qAbs(s->swr.load() - 1.5f) < 1e-4f);
        QCOMPARE(s->alcLevel.load(), 60.0f);
        QCOMPARE(s->signalLevel.load(), 0.0f);
        QCOMPARE(s->charging.load(), uint8_t(1));
        QCOMPARE(s->atuActive.load(), uint8_t(1));
        zradio_atu_tune(0);
        s->setParamItem("wparam", "chge", 0);
        zradio_update_live_status(radio, 0);
        QCOMPARE(s->charging.load(), uint8_t(0));
        QCOMPARE(s->atuActive.load(), uint8_t(0));

        // Receiving: the signal level is the spectrum peak + 7, clamped.
        t = Trailer();
        t.vext = 0;
        t.vbat = 80;
        t.batcap = 90;
        QVERIFY(pty.write(makeFrame(t)));
        QTRY_COMPARE_WITH_TIMEOUT(zradio_get_trx(), uint8_t(0), 5000);
        got = false;
        QTRY_VERIFY_WITH_TIMEOUT(collect(), 5000);
        zradio_update_live_status(radio, 1);
        const float level = qBound(-123.0f, zradio_getfftpeak(radio) + 7.0f, -13.0f);
        QCOMPARE(s->signalLevel.load(), level);
        QCOMPARE(s->fwdPower.load(), 0.0f);
        QCOMPARE(s->vsupply.load(), 8.0f);
        QCOMPARE(zradio_getfftmag(radio, mag, &count), 0); // nothing new yet
    }

    // Span and peak-search border: the search band sits below the carrier
    // for LSB, LSB-DIG and CWR, above it otherwise, around the digital
    // offset; spans above 2^4 are refused.
    void spectrumSettings()
    {
        ztest::Sysroot root;
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio; // no line: this thread may feed the calculator
        QVERIFY(radio && radio->param && g_zsacalc);
        ZParamAdmin *s = radio->param;
        s->setParamItem("wparam", "center_mode", 1);
        s->setVfoFront("freq", 14200000); // offset 0 in centre mode
        QCOMPARE(s->dloFreq.load(), 0);

        liquid_float_complex x[ZRADIO_FFT_LEN] = {};
        float mag[ZRADIO_FFT_LEN];
        uint32_t count;
        auto bins = [&](int32_t *a, int32_t *b) {
            sacalc_run(g_zsacalc, x, ZRADIO_FFT_LEN);
            zradio_getfftmag(radio, mag, &count);
            sacalc_get_search_bins(g_zsacalc, a, b);
        };
        int32_t a, b;
        s->setVfoFront("mode", 2);
        zradio_set_fftpeak_search_border(300.0f, 3000.0f);
        bins(&a, &b);
        QCOMPARE(a, 257);
        QCOMPARE(b, 271);
        for (int mode : {0, 1, 5}) {
            s->setVfoFront("mode", mode);
            zradio_set_fftpeak_search_border(300.0f, 3000.0f);
            bins(&a, &b);
            QCOMPARE(a, 240);
            QCOMPARE(b, 254);
        }
        s->setVfoFront("mode", 4);
        zradio_set_fft_dec(2);
        QCOMPARE(radio->fsDec, 25000.0f);
        QVERIFY(ztest::logContains("[DBG] DecM:"));
        bins(&a, &b);
        QCOMPARE(a, 262);
        QCOMPARE(b, 317);
        zradio_set_fft_dec(5);
        zradio_set_fft_dec(-1);
        QCOMPARE(ztest::logCount("[ERR] Invalid dec factor:"), 2);
        QCOMPARE(radio->fsDec, 25000.0f);
        zradio_set_fft_dec(0);
        QCOMPARE(radio->fsDec, 100000.0f);
        zradio_set_rffftave(4);
        zradio_set_rffftave(99); // clamped, no harm
    }

    void backlightAndPowerOff()
    {
        ztest::Sysroot root;
        RadioLink link(zradio_create("/dev/i2c-0", 114));
        zradio_t *radio = link.radio;
        QVERIFY(radio && radio->param);
        ZParamAdmin *s = radio->param;
        const QString bl = root.path() + "/sys/class/backlight/backlight/brightness";
        const QString log = root.path() + "/var/log/commands.log";
        s->setParamItem("wparam", "bllevel", 3);
        zradio_update_backlight();
        QCOMPARE(ztest::readText(bl), QString("8\n"));
        QVERIFY(ztest::readText(log).endsWith("echo 8 > /sys/class/backlight/backlight/brightness\n"));
        s->setParamItem("wparam", "bllevel", 0);
        zradio_update_backlight();
        QCOMPARE(ztest::readText(bl), QString("10\n"));
        s->setParamItem("wparam", "bllevel", 40);
        zradio_update_backlight();
        QCOMPARE(ztest::readText(bl), QString("1\n"));

        zradio_remote_poweroff();
        zradio_update_params();
        QCOMPARE(radio->regs[12].load() & ZRADIO_CTL_POWEROFF, ZRADIO_CTL_POWEROFF);
        QVERIFY(!ztest::readText(log).contains("poweroff"));
    }

    // The simulator's transmitter model: an antenna resonant on 20 m, a
    // tuner that finds a network lowering the SWR elsewhere, transmission
    // only on allowed frequencies, the power fold-back.
    void simTransmitterModel()
    {
        const BbNetwork bypass;
        QVERIFY(BbTx::swr(14.15e6, bypass) < 1.3);
        QVERIFY(BbTx::swr(14.0e6, bypass) < BbTx::swr(13.0e6, bypass));
        QVERIFY(BbTx::swr(7.1e6, bypass) > 10.0);
        for (double f : {7.1e6, 10.12e6, 21.2e6, 28.5e6}) {
            const BbNetwork n = BbTx::tune(f);
            QVERIFY2(BbTx::swr(f, n) < 1.5, qPrintable(QString::number(BbTx::swr(f, n))));
            QVERIFY(BbTx::swr(f, n) < BbTx::swr(f, bypass));
        }

        uint32_t regs[ZRADIO_REG_WORDS] = {};
        regs[0] = 1;          // VFO A in band
        regs[1] = 14150000;   // LO
        regs[6] = 0;          // VFO B out of band
        regs[15] = 50 << 8;   // 5.0 W
        BbTx tx;
        tx.onRegisters(regs, 0.0);
        QVERIFY(!tx.state(regs).tx);
        regs[12] = ZRADIO_CTL_EXT_PTT;
        tx.onRegisters(regs, 0.0);
        BbTxState st = tx.state(regs);
        QVERIFY(st.tx);
        QCOMPARE(int(st.power), 50);
        QVERIFY(st.swr >= 10 && st.swr <= 13);
        QVERIFY(st.alc > 30);
        regs[12] |= ZRADIO_CTL_SPLIT; // transmit on VFO B: not allowed
        QVERIFY(!tx.state(regs).tx);
        regs[12] = ZRADIO_CTL_MODEM;
        regs[1] = 7100000;
        st = tx.state(regs);
        QVERIFY(st.tx && st.swr > 100 && st.power < 15);

        // A tuner run: busy for two seconds, then done with a network.
        regs[12] = ZRADIO_CTL_ATU_ENABLE | ZRADIO_CTL_ATU_TUNE;
        tx.onRegisters(regs, 10.0);
        tx.advance(regs, 11.0);
        st = tx.state(regs);
        QVERIFY(st.tuning && !st.tuneDone && st.tx);
        tx.advance(regs, 12.1);
        st = tx.state(regs);
        QVERIFY(!st.tuning && st.tuneDone && !st.tx);
        QVERIFY(st.network.c || st.network.l);
        regs[12] = ZRADIO_CTL_ATU_ENABLE | ZRADIO_CTL_EXT_PTT;
        tx.onRegisters(regs, 12.2);
        st = tx.state(regs);
        QVERIFY(!st.tuneDone && st.tx && st.swr < 15 && st.power == 50);
        regs[12] = ZRADIO_CTL_EXT_PTT; // tuner off: the bare antenna again
        QVERIFY(tx.state(regs).swr > 100);
        // A network written to word 17 replaces the one in use.
        regs[17] = 0;
        regs[12] = ZRADIO_CTL_ATU_ENABLE | ZRADIO_CTL_EXT_PTT;
        regs[17] = 1;
        tx.onRegisters(regs, 13.0);
        QCOMPARE(int(tx.state(regs).network.c), 1);
    }

    // The real application against the real simulator: front-panel
    // commands on the control socket change its state, the register words
    // show it, and a long press of the power key saves the settings and
    // powers off both.
    void applicationEndToEnd()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        Sim sim;
        QVERIFY(sim.start(root));
        QDir().mkpath(root + "/tmp");
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZR450_SYSROOT", root);
        env.insert("TMPDIR", root + "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        app.setProcessEnvironment(env);
        // The application's own messages only with ZR450_TEST_VERBOSE=1.
        if (qEnvironmentVariableIntValue("ZR450_TEST_VERBOSE"))
            app.setProcessChannelMode(QProcess::ForwardedChannels);
        else
            app.setStandardErrorFile(root + "/tmp/zr450.stderr");
        app.setStandardOutputFile(QProcess::nullDevice());
        app.start(ZR_BINARY_DIR "/zr450", QStringList());
        QVERIFY(app.waitForStarted(10000));

        uint32_t w[ZRADIO_REG_WORDS] = {};
        auto statusOk = [&]() { return sim.status(w); };
        // The application pushes its whole block soon after start.
        QTRY_VERIFY_WITH_TIMEOUT(statusOk() && w[ZRADIO_WORD_REFRESH] == ZRADIO_REFRESH_MARK && w[14] != 0, 60000);
        const uint32_t mode0 = w[4], rx0 = w[14], dlo0 = w[35] & 0xFFFFFF;
        QVERIFY(w[13] == (w[13] & 0x1FFFF));

        QVERIFY(sim.command("key 203 100").startsWith("ok"));
        const uint32_t mode1 = mode0 <= 2 ? mode0 + 1 : 0;
        QTRY_VERIFY_WITH_TIMEOUT(statusOk() && w[4] == mode1, 10000);

        QVERIFY(sim.command("knob 2").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(statusOk() && w[14] == rx0 + 2, 10000);

        QVERIFY(sim.command("dial 3").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(statusOk() && (w[35] & 0xFFFFFF) != dlo0, 10000);

        // Power key held for 6 s (a long press is 3000 input passes of a
        // little over 1 ms each, longer on a loaded machine): the settings
        // are saved, the power-off bit reaches the board (the simulator
        // ends) and "poweroff" ends the application.
        QVERIFY(sim.command("key 116 6000").startsWith("ok"));
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(sim.process().waitForFinished(10000));
        QCOMPARE(sim.process().exitCode(), 0);
        QVERIFY(ztest::readText(root + "/var/log/commands.log").contains("poweroff"));
        ptest::DbFile db(root + "/app/zparam.db");
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toInt(), int(rx0 + 2));
    }
};

QTEST_GUILESS_MAIN(TestPush)
#include "test_push.moc"
