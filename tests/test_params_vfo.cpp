// VFOs and local oscillators, band stacks, memory channels, twin filters,
// band plan, tuner memory and named texts, checked as one would on a radio.
#include "tests/params_support.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

using namespace ptest;
using namespace zrnamespace;

static const QString W = QStringLiteral("wparam");

static int freqOf(ZParamAdmin &s)
{
    return s.vfoFront("freq").value.toInt();
}

static void checkLo(ZParamAdmin &s)
{
    int plo = 0, dlo = 0;
    s.loFrequencies(&plo, &dlo);
    QCOMPARE(plo + dlo, freqOf(s));
}

// Channel 4 holds 3.65 MHz, the VFO is left at 14.25 MHz, and the radio
// goes to memory mode on channel 4.
static bool memoryModeOnChannel4(ZParamAdmin &s)
{
    s.setVfoFront("freq", 3650000);
    s.saveChItem(4, s.logicVfoMemo());
    s.setVfoFront("freq", 14250000);
    return s.setVfoMemoMode(1);
}

class TestParamVfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installLogCapture(); }
    void init() { clearLog(); }

    // The offset moves inside its window; crossing an edge moves the
    // physical LO and pins the offset; both directions, every mode family.
    void tuningAcrossTheOffsetWindow()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setMode(2);
        s.setVfoFront("freq", 14000000); // 270 kHz down from the start: pinned at the low edge
        QCOMPARE(s.dloFreq.load(), -48000);
        QCOMPARE(s.ploFreq.load(), 14048000);
        // Re-centre as a stored pair would: offset 0.
        s.setParamItem(W, "center_mode", 1);
        s.setVfoFront("freq", 14000000);
        s.setParamItem(W, "center_mode", 0);
        QCOMPARE(s.ploFreq.load(), 14000000);
        QCOMPARE(s.dloFreq.load(), 0);
        s.setVfoFront("freq", 14030000);
        QCOMPARE(s.dloFreq.load(), 30000);
        QCOMPARE(s.ploFreq.load(), 14000000);
        s.setVfoFront("freq", 14060000);
        QCOMPARE(s.dloFreq.load(), 48000);
        QCOMPARE(s.ploFreq.load(), 14012000);

        struct Family
        {
            int mode;
            int margin;
        };
        for (const Family fam : { Family{ 0, 2000 }, Family{ 3, 2000 }, Family{ 4, 1000 }, Family{ 5, 1000 },
                                  Family{ 6, 5000 }, Family{ 7, 8000 } }) {
            const int edge = 50000 - fam.margin;
            s.setMode(fam.mode);
            s.setParamItem(W, "center_mode", 1);
            s.setVfoFront("freq", 7100000);
            s.setParamItem(W, "center_mode", 0);
            for (int dir : { 1, -1 }) {
                // Walk 200 kHz in 1 kHz steps, then back again.
                s.setParamItem(W, "ts", 3);
                for (int i = 0; i < 200; ++i) {
                    const int plo = s.ploFreq;
                    const int dlo = s.dloFreq;
                    s.modifyFrequncy(dir);
                    checkLo(s);
                    QVERIFY(s.dloFreq >= -edge && s.dloFreq <= edge);
                    if (dlo == dir * edge) // already at the edge: the LO moves by the step
                        QCOMPARE(s.ploFreq - plo, dir * 1000);
                    else if (qAbs(dlo + dir * 1000) <= edge)
                        QCOMPARE(s.ploFreq.load(), plo);
                }
                QCOMPARE(s.dloFreq.load(), dir * edge);
            }
        }
        // A mode change that narrows the window keeps the frequency.
        s.setMode(2);
        s.setParamItem(W, "center_mode", 1);
        s.setVfoFront("freq", 7100000);
        s.setParamItem(W, "center_mode", 0);
        s.setVfoFront("freq", 7148000);
        QCOMPARE(s.dloFreq.load(), 48000);
        s.setMode(7);
        QCOMPARE(s.dloFreq.load(), 42000);
        checkLo(s);
    }

    void centreModeSnapAndLimits()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setParamItem(W, "center_mode", 1);
        for (int f : { 7000000, 7049990, 21300000 }) {
            s.setVfoFront("freq", f);
            QCOMPARE(s.dloFreq.load(), 0);
            QCOMPARE(s.ploFreq.load(), f);
        }
        s.setParamItem(W, "center_mode", 0);

        s.setVfoFront("freq", 14270350);
        s.setParamItem(W, "ts", 1);
        s.modifyFrequncy(1);
        QCOMPARE(freqOf(s), 14270360);
        s.setParamItem(W, "ts", 2);
        s.modifyFrequncy(-1);
        QCOMPARE(freqOf(s), 14270260);
        s.setVfoFront("freq", 14270350);
        s.setParamItem(W, "ts", 3);
        s.modifyFrequncy(1);
        QCOMPARE(freqOf(s), 14271000);
        s.setVfoFront("freq", 14270350);
        s.modifyFrequncy(-1);
        QCOMPARE(freqOf(s), 14269000);
        s.setVfoFront("freq", 14270350);
        s.modifyFrequncy(0);
        QCOMPARE(freqOf(s), 14270000);
        checkLo(s);

        s.setVfoFront("freq", 100000);
        QCOMPARE(freqOf(s), 500000);
        s.setVfoFront("freq", qint64(1) << 40);
        QCOMPARE(freqOf(s), 55000000);
        s.setVfoFront("freq", QStringLiteral("garbage"));
        QCOMPARE(freqOf(s), 500000);
        checkLo(s);

        // The back VFO is set as given; vi chooses which VFO is in front.
        s.setVfoBack("freq", 3700000);
        s.setParamItem(W, "vi", 1);
        QCOMPARE(freqOf(s), 3700000);
        QCOMPARE(s.vfoBack("freq").value.toInt(), 500000);
        QCOMPARE(s.modifyVfoFront("att", 1), QVariant(1));
        QCOMPARE(s.paramItem("vfob", "att").value, QVariant(1));
        QCOMPARE(s.modifyVfoBack("mode", -1), QVariant(1));
        s.setParamItem(W, "vi", 0);
    }

    // Band index at every band edge, both band configurations, full-band
    // transmit and the system configuration's bad values.
    void bandPlan()
    {
        {
            Sysroot root;
            ZBandPlan p;
            QCOMPARE(p.bandIndex(1799999), 0);
            QCOMPARE(p.bandIndex(1800000), 1);
            QCOMPARE(p.bandIndex(2000000), 1);
            QCOMPARE(p.bandIndex(2000001), 2);
            QCOMPARE(p.bandIndex(60000000), 22);
            for (int k = 0; k < ZBandPlan::BandCount; ++k) {
                const zband_t &b = p.band(k);
                QCOMPARE(p.bandIndex(b.low - 1), 2 * k);
                QCOMPARE(p.bandIndex(b.low), 2 * k + 1);
                QCOMPARE(p.bandIndex(b.high), 2 * k + 1);
                QCOMPARE(p.bandIndex(b.high + 1), 2 * k + 2);
                QVERIFY(p.isTxEnable(b.low) && p.isTxEnable(b.high));
                QVERIFY(!p.isTxEnable(b.high + 1));
            }
            QVERIFY(p.isTxEnable(5400000));
            QVERIFY(p.isTxEnable(7250000));
            QVERIFY(!p.isHamBand(9000000));
            QVERIFY(p.isHamBand(14100000));
            QVERIFY(!p.fullbandTx());
        }
        {
            Sysroot root;
            root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nbands-cfg=1\nfullband-tx=enable\n");
            ZBandPlan p;
            QCOMPARE(p.bandsCfg(), 1);
            QVERIFY(!p.isTxEnable(5400000));
            QVERIFY(!p.isTxEnable(7250000));
            QVERIFY(p.isTxEnable(7200000));
            QCOMPARE(p.bandIndex(1912501), 2);
            QCOMPARE(p.bandIndex(3805001), 4);
            QVERIFY(p.isHamBand(9000000));
            QVERIFY(logContains("found [mods] fullband-tx:"));
        }
        {
            Sysroot root;
            root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nbands-cfg=one\nfullband-tx=disable\n");
            ZBandPlan p;
            QCOMPARE(p.bandsCfg(), 0);
            QVERIFY(!p.fullbandTx());
            QVERIFY(p.isTxEnable(5400000));
            QVERIFY(logContains("bands-cfg is not a number"));
        }
        {
            Sysroot root;
            root.writeFile("/etc/zrradio/zrradio.conf", QByteArray("\0\x01garbage=\n[[[", 14));
            ZBandPlan p;
            QCOMPARE(p.bandsCfg(), 0);
            QVERIFY(!p.fullbandTx());
        }
        Sysroot root;
        ZParamAdmin s;
        s.setVfoFront("freq", 18100000);
        QCOMPARE(s.bandIndex(), 13);
    }

    // Band changes in HAM BAND and ALL BAND modes, wrapping at both ends,
    // and band stacks remembered per band across a restart.
    void bandStacks()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            // HAM BAND: from a gap to the next band, band to band, wrap.
            s.setVfoFront("freq", 20500000);
            QCOMPARE(s.bandIndex(), 14);
            s.modifyBandstackIndex(1);
            QCOMPARE(s.bandIndex(), 15);
            QCOMPARE(freqOf(s), 21000000); // never visited: default start
            QCOMPARE(s.mode(), 2);
            s.setVfoFront("freq", 14200000);
            QCOMPARE(s.bandIndex(), 11);
            s.modifyBandstackIndex(1);
            QCOMPARE(s.bandIndex(), 13);
            s.setBandstackIndex(21);
            s.modifyBandstackIndex(1);
            QCOMPARE(s.bandIndex(), 1);
            QCOMPARE(s.mode(), 0);
            s.modifyBandstackIndex(-1);
            QCOMPARE(s.bandIndex(), 21);
            checkLo(s);

            // ALL BAND: every index, wrapping 22 -> 0 and 0 -> 22.
            s.setParamItem(W, "bsmode", 1);
            s.setBandstackIndex(22);
            QCOMPARE(freqOf(s), 55000000);
            s.modifyBandstackIndex(1);
            QCOMPARE(s.bandIndex(), 0);
            QCOMPARE(freqOf(s), 500000);
            QCOMPARE(s.mode(), 6);
            s.modifyBandstackIndex(-1);
            QCOMPARE(s.bandIndex(), 22);
            s.setBandstackIndex(8);
            QCOMPARE(freqOf(s), 8500000);
            QCOMPARE(s.mode(), 0); // the one gap that defaults to LSB
            s.setBandstackIndex(-1);
            QCOMPARE(s.bandIndex(), 22);
            s.setParamItem(W, "bsmode", 0);

            // Settings made on a band come back when returning to it.
            s.setBandstackIndex(7);
            s.setVfoFront("freq", 7074000);
            s.setMode(3);
            s.setVfoFront("agc", 1);
            s.setBandstackIndex(11);
            s.setVfoFront("freq", 14074000);
            s.setBandstackIndex(7);
            QCOMPARE(freqOf(s), 7074000);
            QCOMPARE(s.mode(), 3);
            QCOMPARE(s.vfoFront("agc").value, QVariant(1));
            checkLo(s);
            s.setBandstackIndex(11);
            QCOMPARE(freqOf(s), 14074000);
            s.syncDatabase();
        }
        ZParamAdmin s;
        QCOMPARE(freqOf(s), 14074000);
        s.setBandstackIndex(7);
        QCOMPARE(freqOf(s), 7074000);
        QCOMPARE(s.mode(), 3);

        const zparam_memo_t bs = s.getBandStackItem(7);
        QCOMPARE(bs.vfoa.value("freq").value.toInt(), 7074000);
        QCOMPARE(bs.vfob.value("freq").value.toInt(), 7074000);

        // A stored slot whose texts lack a key is replaced by the defaults.
        s.saveBandstackItem(9, zparam_memo_t(QStringList{ "freq" }));
        const zparam_memo_t d = s.getBandStackItem(9);
        QCOMPARE(d.vfoa.value("freq").value.toInt(), 10100000);
        QVERIFY(logContains("check vfoa failed"));
        QVERIFY(logContains("ChItem is invalid, set to default"));

        // Memory mode ignores band changes.
        zparam_memo_t ch = s.logicVfoMemo();
        s.saveChItem(0, ch);
        QVERIFY(s.setVfoMemoMode(1));
        const int f = freqOf(s);
        s.modifyBandstackIndex(1);
        s.setBandstackIndex(3);
        QCOMPARE(freqOf(s), f);
    }

    // Memory channels stored, renamed, erased, stepped and wrapped; memory
    // mode entered with and without channels.
    void memoryChannels()
    {
        Sysroot root;
        ZParamAdmin s;
        QSignalSpy spy(&s, &ZParamAdmin::sig_chUpdate);

        QVERIFY(!s.setVfoMemoMode(1)); // none stored
        QCOMPARE(s.vm(), 0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(s.seekCh(1), -1);
        QCOMPARE(s.chSlotName(), QString());

        const int freqs[] = { 7030000, 3700000, 21200000 };
        const int chans[] = { 5, 0, 12 };
        for (int i = 0; i < 3; ++i) {
            s.setVfoFront("freq", freqs[i]);
            s.setMode(i + 4);
            zparam_memo_t m = s.logicVfoMemo();
            m.chtag = QStringLiteral("CH%1").arg(i);
            s.saveChItem(chans[i], m);
        }
        QCOMPARE(s.chList(), (QStringList{ "M0000", "M0005", "M0012" }));
        QVERIFY(s.checkChNum(12));
        QVERIFY(!s.checkChNum(1));
        QCOMPARE(ZParamAdmin::chNumToString(0), QStringLiteral("M0000"));
        QCOMPARE(s.chItem(5).chtag, QStringLiteral("CH0"));
        QCOMPARE(s.chItem(5).valid, 1);
        QCOMPARE(s.chItem(6).valid, 0);

        s.setVfoFront("freq", 14100000);
        s.setMode(2);
        spy.clear();
        QVERIFY(s.setVfoMemoMode(1));
        QCOMPARE(s.vm(), 1);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(s.chSlotName(), QStringLiteral("M-1"));
        QCOMPARE(s.currentChName(), QStringLiteral("M0000"));
        QCOMPARE(freqOf(s), 3700000);
        QCOMPARE(s.mode(), 5);
        checkLo(s);

        QCOMPARE(s.seekCh(1), 1);
        QCOMPARE(freqOf(s), 7030000);
        QCOMPARE(s.seekCh(1), 2);
        QCOMPARE(s.seekCh(1), 0); // wraps to the first
        QCOMPARE(s.seekCh(-1), 2); // and to the last
        QCOMPARE(freqOf(s), 21200000);
        QCOMPARE(s.chSlotName(), QStringLiteral("M-13"));
        QCOMPARE(spy.count(), 5);

        // Rename, erase: the selection follows, the other channels stay.
        s.saveChItem(12, QStringLiteral("DX"));
        QCOMPARE(s.chItem(12).chtag, QStringLiteral("DX"));
        QCOMPARE(s.chItem(12).vfoa.value("freq").value.toInt(), 21200000);
        s.saveChItem(7, QStringLiteral("nothing"));
        QVERIFY(logContains("not exists"));
        QCOMPARE(s.chList().size(), 3);
        s.eraseChItem(12);
        QCOMPARE(s.chList(), (QStringList{ "M0000", "M0005" }));
        QCOMPARE(s.chNum(), 1);
        QCOMPARE(freqOf(s), 7030000);

        // Leaving memory mode restores the VFO with its LOs.
        QVERIFY(s.setVfoMemoMode(0));
        QCOMPARE(s.vm(), 0);
        QCOMPARE(freqOf(s), 14100000);
        QCOMPARE(s.mode(), 2);
        checkLo(s);

        // Erasing the last channel in memory mode falls back to VFO mode.
        QVERIFY(s.setVfoMemoMode(1));
        s.eraseChItem(0);
        s.eraseChItem(5);
        QCOMPARE(s.vm(), 0);
        QCOMPARE(s.chNum(), 0);
        QCOMPARE(s.currentChName(), QString());
    }

    // Channel labels with any characters come back byte for byte, and the
    // stored texts are plain QSettings INI texts.
    void channelLabelsAndStoredForms()
    {
        Sysroot root;
        QStringList labels = { QStringLiteral("a\"b=c"),   QStringLiteral("x,y;z"),     QStringLiteral("@Variant(x)"),
                               QStringLiteral("[chtag]"),  QStringLiteral("new\nline"), QStringLiteral(" lead trail "),
                               QStringLiteral("ünï€ 日本"), QStringLiteral("\\\\ \\x41"), QString(),
                               QStringLiteral("#;comment"), QStringLiteral("'); DROP TABLE memory; --") };
        QRandomGenerator rng(4711);
        for (int i = 0; i < 40; ++i) {
            QString t;
            const int n = int(rng.bounded(24));
            for (int k = 0; k < n; ++k)
                t += QChar(ushort(rng.bounded(2) ? rng.bounded(32, 127) : rng.bounded(1, 0xD7FF)));
            labels << t;
        }
        {
            ZParamAdmin s;
            for (int i = 0; i < labels.size(); ++i) {
                zparam_memo_t m = s.logicVfoMemo();
                m.chtag = labels.at(i);
                s.saveChItem(i, m);
            }
            s.saveChItem(0, QStringLiteral("re=\"named\""));
            labels[0] = QStringLiteral("re=\"named\"");
        }
        {
            DbFile db(root.dbFile());
            QCOMPARE(db.count("memory"), labels.size());
            QCOMPARE(db.value("SELECT vfoa FROM memory WHERE ch='M0001'").toString(),
                     QStringLiteral("[vfoa]\nagc=3\natt=0\nfreq=14270000\nmode=2\npre=0\n"));
            QCOMPARE(db.value("SELECT flags FROM memory WHERE ch='M0001'").toString(), QString());
            const QString tag = db.value("SELECT chtag FROM memory WHERE ch='M0003'").toString();
            QVERIFY(tag.startsWith(QStringLiteral("[chtag]\nchtag=")));
            QVERIFY(tag.contains(QStringLiteral("\nchvalid=1\n")));
            QVERIFY(tag.contains(QStringLiteral("\nplo=")));
            // A channel written by an earlier version loads.
            QVERIFY(db.exec("INSERT INTO memory values('M0100', ?, ?, ?, '')",
                            { "[vfoa]\nagc=1\natt=1\nfreq=7012345\nmode=4\npre=1\n",
                              "[vfob]\nagc=3\natt=0\nfreq=7050000\nmode=0\npre=0\n",
                              "[chtag]\nchtag=OLD\nchvalid=1\ndlo=12345\nflags=\nplo=7000000\n" }));
        }
        ZParamAdmin s;
        for (int i = 0; i < labels.size(); ++i)
            QCOMPARE(s.chItem(i).chtag, labels.at(i).isNull() ? QString("") : labels.at(i));
        const zparam_memo_t old = s.chItem(100);
        QCOMPARE(old.chtag, QStringLiteral("OLD"));
        QCOMPARE(old.dlo, 12345);
        QCOMPARE(old.plo, 7000000);
        QCOMPARE(old.vfoa.value("freq").value.toInt(), 7012345);
        s.setParamItem(W, "chnum", labels.size());
        QVERIFY(s.setVfoMemoMode(1));
        QCOMPARE(freqOf(s), 7012345);
        QCOMPARE(s.mode(), 4);
        QCOMPARE(s.dloFreq.load(), 12345);
        QCOMPARE(s.ploFreq.load(), 7000000);
    }

    // Damaged channel rows: each falls back without harming the others.
    void badChannelRows()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.saveChItem(1, s.logicVfoMemo());
        }
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("INSERT INTO memory values('M0002', 'garbage', NULL, '[[[', NULL)"));
            QVERIFY(db.exec("INSERT INTO memory values('M0003', '[vfoa]\nfreq=abc\nmode=99\n', '', '', '')"));
            QVERIFY(db.exec("INSERT INTO memory values('M0004', '[vfoa]\nfreq=7100000\n', '', "
                            "'[chtag]\ndlo=40000\nplo=1\n', '')"));
            QVERIFY(db.exec("INSERT INTO bandstack values('M0011', 'nonsense', 'nonsense', '', '')"));
        }
        ZParamAdmin s;
        QCOMPARE(s.chList().size(), 4);
        s.setVfoFront("freq", 7150000);
        QVERIFY(s.setVfoMemoMode(1));
        for (int i = 0; i < 4; ++i) {
            s.seekCh(1);
            checkLo(s);
            const int f = freqOf(s);
            QVERIFY(f >= 500000 && f <= 55000000);
            QVERIFY(s.mode() >= 0 && s.mode() <= 7);
        }
        QVERIFY(logContains("value rejected"));
        s.setParamItem(W, "chnum", 3);
        s.seekCh(0);
        QCOMPARE(freqOf(s), 7100000);
        QCOMPARE(s.dloFreq.load(), 0); // the stored pair did not add up
        QVERIFY(s.setVfoMemoMode(0));
        s.setBandstackIndex(11);
        QCOMPARE(freqOf(s), 14270000); // unreadable slot: defaults
        QCOMPARE(s.chList().size(), 4);
    }

    // A channel or band-stack entry below the range the radio tunes (the
    // item's own range reaches to 50 kHz) is not loaded: the VFO keeps its
    // frequency, the LO pair still adds up, and the rest of the entry is
    // taken. The lowest frequency tuned loads.
    void untunableStoredFrequencies()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setVfoFront("freq", 7100000);
        s.setMode(0);
        zparam_memo_t low = s.logicVfoMemo();
        low.vfoa["freq"].value = 100000;
        low.vfoa["mode"].value = 6;
        low.vfob = low.vfoa;
        s.saveChItem(1, low);
        zparam_memo_t edge = low;
        edge.vfoa["freq"].value = 500000;
        edge.vfob = edge.vfoa;
        s.saveChItem(2, edge);
        s.saveBandstackItem(11, low);

        QVERIFY(s.setVfoMemoMode(1)); // channel 1
        QCOMPARE(freqOf(s), 7100000);
        QCOMPARE(s.mode(), 6);
        checkLo(s);
        QVERIFY(logContains("value rejected: \"100000\""));
        QCOMPARE(s.seekCh(1), 1); // channel 2
        QCOMPARE(freqOf(s), 500000);
        checkLo(s);
        QVERIFY(s.setVfoMemoMode(0));

        clearLog();
        s.setVfoFront("freq", 7100000);
        s.setBandstackIndex(11);
        QCOMPARE(freqOf(s), 7100000);
        checkLo(s);
        QVERIFY(logContains("value rejected: \"100000\""));
    }

    // Randomised stored rows: parameter values, channel texts, pass bands
    // and tuner networks of any shape load without a crash, and whatever
    // reaches the caches is in range.
    void randomStoredRows()
    {
        Sysroot root;
        { ZParamAdmin s; }
        QRandomGenerator rng(20240607);
        auto junk = [&rng](int maxLen) {
            static const QString alphabet = QStringLiteral("0123456789-+.,|=[]\"\\\n @abcxyzfreqmodeagc\u00fc");
            QString t;
            const int n = int(rng.bounded(maxLen + 1));
            for (int i = 0; i < n; ++i)
                t += alphabet.at(int(rng.bounded(alphabet.size())));
            return t;
        };
        // Mostly plausible numbers, some of any size, some not numbers.
        auto number = [&rng]() {
            return QString::number(rng.bounded(4) ? int(rng.bounded(60000000)) - 100 : int(rng.generate()));
        };
        QStringList numericKeys;
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("BEGIN"));
            for (int ch = 0; ch < 150; ++ch) {
                QString a = QStringLiteral("[vfoa]\n");
                for (const char *k : { "freq", "mode", "agc", "att", "pre" })
                    if (rng.bounded(4))
                        a += QStringLiteral("%1=%2\n").arg(QLatin1String(k), rng.bounded(3) ? number() : junk(8));
                const QString tag = QStringLiteral("[chtag]\nchtag=%1\ndlo=%2\nplo=%3\n")
                                        .arg(junk(10)).arg(int(rng.bounded(200000)) - 100000).arg(int(rng.generate()));
                QVERIFY(db.exec("INSERT INTO memory values(?, ?, ?, ?, '')",
                                { ZParamAdmin::chNumToString(ch), rng.bounded(8) ? a : junk(40), junk(30),
                                  rng.bounded(8) ? tag : junk(40) }));
                QVERIFY(db.exec("INSERT OR REPLACE INTO atunetwork values(?, ?, '', '')",
                                { ZParamAdmin::atuSavePoint(ch * 50000), junk(12) }));
            }
            for (const char *key : { "rxvol", "ks", "kr", "txpwr", "ts", "vi", "vm", "chnum", "cwtone", "bsmode",
                                      "fltgrp_ssb", "fltgrp_cw", "center_mode", "agcknee", "text_dlo_freq",
                                      "text_plo_freq", "text_ssbflt_1_1", "text_cwflt_2_2", "text_amflt_3_1" }) {
                QVERIFY(db.exec("UPDATE wparam SET pv=? WHERE pname=?", { rng.bounded(2) ? number() : junk(10), QString::fromLatin1(key) }));
                if (!QByteArray(key).startsWith("text_"))
                    numericKeys << QString::fromLatin1(key);
            }
            QVERIFY(db.exec("COMMIT"));
        }
        ZParamAdmin s;
        for (const QString &k : qAsConst(numericKeys)) {
            const zparam_item_t it = s.paramItem(W, k);
            QVERIFY2(it.value.toDouble() >= it.min.toDouble() && it.value.toDouble() <= it.max.toDouble(), qPrintable(k));
        }
        checkLo(s);
        s.setParamItem(W, "chnum", 0);
        s.setVfoMemoMode(1);
        for (int i = 0; i < 150; ++i) {
            s.seekCh(1);
            checkLo(s);
            const int f = freqOf(s);
            QVERIFY(f >= 50000 && f <= 55000000);
            QVERIFY(s.mode() >= 0 && s.mode() <= 7);
        }
        for (int ch = 0; ch < 150; ++ch)
            s.atuNetworkInfo(ch * 50000);
        for (int m = 0; m < 8; ++m) {
            const ztwinfilter_t f = s.twinFilter(m);
            QVERIFY(!f.name.isEmpty());
        }
    }

    // Twin filters: shifting, NFM, pass-band texts, CW pitch, group indexes.
    void twinFilters()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.setMode(2);
            ztwinfilter_t ssb = s.twinFilter();
            QCOMPARE(ssb.name, QStringLiteral("SSB"));
            QCOMPARE(ssb.passBand1(), QStringLiteral("150|2850")); // stored default
            QCOMPARE(ssb.fp1Init.low, 50.0f);
            QCOMPARE(ssb.centerFreqency(), QStringLiteral("1500"));

            s.setMode(4);
            QCOMPARE(s.setTwinFilterGroupIndex(1), 1);
            QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("675|925"));
            for (int i = 0; i < 10; ++i)
                s.modifyTwinFilter(1);
            QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("775|1025"));
            s.modifyTwinFilter(1);
            s.modifyTwinFilter(1);
            QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("795|1045"));
            s.modifyTwinFilter(1);
            QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("795|1045"));
            s.setTwinFilterIndex(1);
            QCOMPARE(s.twinFilterIndex(), 1);
            s.modifyTwinFilter(-1);
            QCOMPARE(s.twinFilter().passBand2(), QStringLiteral("665|915"));
            QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("795|1045"));

            // CW pass bands follow the pitch.
            s.setParamItem(W, "cwtone", 700);
            ztwinfilter_fp_t r = s.logicFpToRealFp(ztwinfilter_fp_t{ 550, 1050 });
            QCOMPARE(r.low, 450.0f);
            QCOMPARE(r.high, 950.0f);
            s.setMode(5);
            QCOMPARE(s.logicFpToRealFp(ztwinfilter_fp_t{ 550, 1050 }).low, 450.0f);
            s.setMode(2);
            QCOMPARE(s.logicFpToRealFp(ztwinfilter_fp_t{ 550, 1050 }).low, 550.0f);

            s.setMode(7);
            const QString nfm = s.twinFilter().passBand1();
            s.modifyTwinFilter(1);
            QCOMPARE(s.twinFilter().passBand1(), nfm);
            QCOMPARE(s.setTwinFilterGroupIndex(9), 2);
            QCOMPARE(s.modifyTwinFilterGroup(1), 0);
            QCOMPARE(s.modifyTwinFilterGroup(-1), 2);
            s.setTwinFilterGroupOffset(7, 100.0f);
            QCOMPARE(s.twinFilter(7).offset, 100.0f);
            QCOMPARE(s.twinFilter(7).centerFreqency(), QStringLiteral("100"));
            s.setMode(6);
            QCOMPARE(s.twinFilterGroupIndex(), 0);
            s.setTwinFilterGroupIndex(2);
            s.syncDatabase();
        }
        {
            DbFile db(root.dbFile());
            QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='fltgrp_cw'").toString(), QStringLiteral("1"));
            QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='text_cwflt_2_1'").toString(),
                     QStringLiteral("795|1045"));
            QVERIFY(db.exec("UPDATE wparam SET pv='300;2700' WHERE pname='text_ssbflt_2_2'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='a|b' WHERE pname='text_ssbflt_3_1'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='7' WHERE pname='fltgrp_ssb'"));
        }
        ZParamAdmin s;
        s.setMode(4);
        QCOMPARE(s.twinFilterGroupIndex(), 1);
        QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("795|1045"));
        QCOMPARE(s.twinFilter().passBand2(), QStringLiteral("665|915"));
        s.setMode(7);
        QCOMPARE(s.twinFilterGroupIndex(), 2);
        s.setMode(6);
        QCOMPARE(s.twinFilterGroupIndex(), 2);
        s.setMode(2);
        QCOMPARE(s.twinFilterGroupIndex(), 0); // 7 was out of range
        QCOMPARE(s.setTwinFilterGroupIndex(1), 1);
        QCOMPARE(s.twinFilter().passBand2(), QStringLiteral("300|2700"));
        QVERIFY(logContains("text_ssbflt_2_2"));
        QVERIFY(logContains("text_ssbflt_3_1"));
    }

    void twinFilterRecord()
    {
        ztwinfilter_t f(QStringLiteral("SSB"), { 150, 2850 }, { 150, 2850 }, { -1200, 4200 });
        f.setPassband(QStringLiteral("300|2700"), 1);
        QCOMPARE(f.passBand1(), QStringLiteral("150|2850"));
        QCOMPARE(f.passBand2(), QStringLiteral("300|2700"));
        QCOMPARE(f.actualFp().low, 300.0f);
        QCOMPARE(f.actualFp().high, 2700.0f);
        for (const char *bad : { "300;2700", "", "1|2|3", "x|1", "1|", "nan|1", "inf|2" }) {
            f.setPassband(QString::fromLatin1(bad), 0);
            QCOMPARE(f.passBand1(), QStringLiteral("150|2850"));
        }
        f.setPassband(QStringLiteral("-4500|4500"), 0);
        QCOMPARE(f.passBand1(), QStringLiteral("-4500|4500"));
        f.setPassband(QStringLiteral("1|2"), 2);
        QCOMPARE(f.passBand1(), QStringLiteral("-4500|4500"));
    }

    // Tuner memory per 50 kHz segment.
    void tunerMemory()
    {
        Sysroot root;
        ZParamAdmin s;
        QCOMPARE(ZParamAdmin::atuSavePoint(14270000), QStringLiteral("f0285"));
        QCOMPARE(ZParamAdmin::atuSavePoint(14250000), QStringLiteral("f0285"));
        QCOMPARE(ZParamAdmin::atuSavePoint(14299999), QStringLiteral("f0285"));
        QCOMPARE(ZParamAdmin::atuSavePoint(14300000), QStringLiteral("f0286"));
        QCOMPARE(ZParamAdmin::atuSaveStep(), 50000);

        zatu_network_t none = s.atuNetworkInfo(7100000);
        QCOMPARE(int(none.c) + none.l + none.s, 0);
        QVERIFY(!logContains("invalid atu network data"));

        zatu_network_t n1{ 10, 20, 1 };
        zatu_network_t n2{ 200, 7, 2 };
        s.saveAtuNetworkInfo(14250000, &n1);
        s.saveAtuNetworkInfo(14299999, &n2);
        s.saveAtuNetworkInfo(14300000, &n1);
        s.saveAtuNetworkInfo(14300000, nullptr);
        const zatu_network_t r = s.atuNetworkInfo(14270000);
        QCOMPARE(int(r.c), 200);
        QCOMPARE(int(r.l), 7);
        QCOMPARE(int(r.s), 2);
        QCOMPARE(int(s.atuNetworkInfo(14310000).c), 10);
        {
            DbFile db(root.dbFile());
            QCOMPARE(db.count("atunetwork"), 2);
            QCOMPARE(db.value("SELECT network FROM atunetwork WHERE freq='f0285'").toString(),
                     QStringLiteral("200,7,2"));
            QVERIFY(db.exec("INSERT INTO atunetwork values('f0100', '1,2', '', '')"));
            QVERIFY(db.exec("INSERT INTO atunetwork values('f0101', 'a,b,c', '', '')"));
            QVERIFY(db.exec("INSERT INTO atunetwork values('f0102', '300,1,2', '', '')"));
        }
        QCOMPARE(int(s.atuNetworkInfo(5000000).c), 0);
        QVERIFY(logContains("invalid atu network data"));
        QCOMPARE(int(s.atuNetworkInfo(5050000).l), 0);
        QCOMPARE(int(s.atuNetworkInfo(5100000).c), 300 & 0xFF);
    }

    void namedTexts()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            QCOMPARE(s.textFile("never"), QString());
            s.addText("note", "first");
            s.addText("note", "second");
            QCOMPARE(s.textFile("note"), QStringLiteral("second"));
            s.addText("mfk_key", "");
        }
        clearLog();
        ZParamAdmin s;
        QVERIFY(logContains("[INFO] mfk_key not found, use default txpwr"));
        QCOMPARE(s.mfkKey.value(), QStringLiteral("txpwr"));
        QCOMPARE(s.textFile("mfk_key"), QStringLiteral("txpwr"));
    }

    // Start-up check of the stored LO pair.
    void storedLoPairChecked()
    {
        Sysroot root;
        { ZParamAdmin s; }
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("UPDATE wparam SET pv='60000' WHERE pname='text_dlo_freq'"));
        }
        {
            ZParamAdmin s;
            QVERIFY(logContains("[WRN] Digital LO Frequency out-of-range:"));
            QCOMPARE(s.dloFreq.load(), 0);
            QCOMPARE(s.ploFreq.load(), 14270000);
        }
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("UPDATE wparam SET pv='1000' WHERE pname='text_dlo_freq'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='14000000' WHERE pname='text_plo_freq'"));
        }
        clearLog();
        {
            ZParamAdmin s;
            QVERIFY(logContains("[WRN] Logical LO Frequency out-of-range:"));
            QCOMPARE(s.dloFreq.load(), 0);
        }
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("UPDATE wparam SET pv='-20000' WHERE pname='text_dlo_freq'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='14290000' WHERE pname='text_plo_freq'"));
        }
        ZParamAdmin s;
        QCOMPARE(s.dloFreq.load(), -20000);
        QCOMPARE(s.ploFreq.load(), 14290000);
    }

    // Destroying and re-creating the store restores everything.
    void fullRestart()
    {
        Sysroot root;
        zparam_memo_t before;
        {
            ZParamAdmin s;
            s.setBandstackIndex(7);
            s.setVfoFront("freq", 7012000);
            s.setVfoFront("freq", 7070000);
            s.setMode(4);
            s.setVfoBack("freq", 10120000);
            s.setTwinFilterGroupIndex(2);
            s.modifyTwinFilter(1);
            s.setMode(1);
            s.setTwinFilterGroupIndex(1);
            zatu_network_t n{ 1, 2, 3 };
            s.saveAtuNetworkInfo(7070000, &n);
            s.saveChItem(3, s.logicVfoMemo());
            s.saveChItem(3, QStringLiteral("three"));
            s.setBandstackIndex(11);
            s.setBandstackIndex(7);
            s.mfkKey = QStringLiteral("rxvol");
            s.setParamItem(W, "chnum", 0);
            QVERIFY(s.setVfoMemoMode(1));
            QVERIFY(s.setVfoMemoMode(0));
            before = s.logicVfoMemo();
            s.syncDatabase();
        }
        ZParamAdmin s;
        const zparam_memo_t after = s.logicVfoMemo();
        for (const char *k : { "freq", "mode", "agc", "att", "pre" }) {
            QCOMPARE(after.vfoa.value(k).value.toInt(), before.vfoa.value(k).value.toInt());
            QCOMPARE(after.vfob.value(k).value.toInt(), before.vfob.value(k).value.toInt());
        }
        QCOMPARE(after.dlo, before.dlo);
        QCOMPARE(after.plo, before.plo);
        QCOMPARE(s.mode(), 1);
        QCOMPARE(s.twinFilterGroupIndex(), 1);
        s.setMode(4);
        QCOMPARE(s.twinFilterGroupIndex(), 2);
        QCOMPARE(s.twinFilter().passBand1(), QStringLiteral("735|885"));
        QCOMPARE(int(s.atuNetworkInfo(7070000).s), 3);
        QCOMPARE(s.chItem(3).chtag, QStringLiteral("three"));
        QCOMPARE(s.mfkKey.value(), QStringLiteral("rxvol"));
        QCOMPARE(s.getBandStackItem(7).vfoa.value("freq").value.toInt(), 7070000);
    }

    // A radio switched off in memory mode comes back in memory mode with the
    // selected channel.
    void restartInMemoryMode()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            QVERIFY(memoryModeOnChannel4(s));
            s.syncDatabase();
        }
        ZParamAdmin s;
        QCOMPARE(s.vm(), 1);
        QCOMPARE(s.currentChName(), QStringLiteral("M0004"));
        QCOMPARE(freqOf(s), 3650000);
        checkLo(s);
        QVERIFY(s.setVfoMemoMode(0));
        QCOMPARE(freqOf(s), 14250000);
        checkLo(s);
    }

    // Another VFO brought to the front (VFO key, CI-V 07) or centre mode
    // switched: the LO pair follows the front VFO, so the radio tunes what
    // the display shows, also on the next tuning step.
    void loPairFollowsTheFrontVfo()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setParamItem(W, "vi", 0);
        s.setMode(2);
        s.setVfoFront("freq", 14000000);
        s.setVfoFront("freq", 14030000); // an offset inside the window
        QVERIFY(s.dloFreq.load() != 0);
        s.setVfoBack("freq", 7050000);
        s.setParamItem(W, "vi", 1);
        QCOMPARE(freqOf(s), 7050000);
        checkLo(s);
        s.setParamItem(W, "ts", 1);
        s.modifyFrequncy(1);
        QCOMPARE(freqOf(s), 7050010);
        checkLo(s);
        s.modifyParamItem(W, "vi", 1); // steps (wraps) back to A
        QCOMPARE(freqOf(s), 14030000);
        checkLo(s);

        s.setVfoFront("freq", 14040000);
        QVERIFY(s.dloFreq.load() != 0);
        s.setParamItem(W, "center_mode", 1);
        QCOMPARE(s.dloFreq.load(), 0);
        QCOMPARE(s.ploFreq.load(), 14040000);
        s.setParamItem(W, "center_mode", 0);
        checkLo(s);
    }

    // Asking for the mode the radio is already in changes nothing: the
    // operator's VFO survives a second request for memory mode, and the
    // tuning done in VFO mode survives a request for VFO mode.
    void repeatedModeRequests()
    {
        Sysroot root;
        ZParamAdmin s;
        QVERIFY(memoryModeOnChannel4(s));
        QCOMPARE(freqOf(s), 3650000);
        QVERIFY(s.setVfoMemoMode(1));
        QCOMPARE(freqOf(s), 3650000);
        QVERIFY(s.setVfoMemoMode(0));
        QCOMPARE(freqOf(s), 14250000);
        checkLo(s);

        s.setVfoFront("freq", 14255000);
        s.setMode(3);
        QVERIFY(s.setVfoMemoMode(0));
        QCOMPARE(freqOf(s), 14255000);
        QCOMPARE(s.mode(), 3);
        checkLo(s);
    }

    // In memory mode a channel stored or erased below the selected one
    // leaves the radio on the selected channel.
    void selectedChannelSurvivesListChanges()
    {
        Sysroot root;
        ZParamAdmin s;
        for (int ch : { 1, 5, 9 }) {
            s.setVfoFront("freq", 7000000 + ch * 1000);
            s.saveChItem(ch, s.logicVfoMemo());
        }
        s.setParamItem(W, "chnum", 1);
        QVERIFY(s.setVfoMemoMode(1));
        QCOMPARE(freqOf(s), 7005000);
        QSignalSpy spy(&s, &ZParamAdmin::sig_chUpdate);

        s.eraseChItem(1);
        QCOMPARE(s.currentChName(), QStringLiteral("M0005"));
        QCOMPARE(s.chNum(), 0);
        QCOMPARE(freqOf(s), 7005000);
        zparam_memo_t m = s.logicVfoMemo();
        m.vfoa[QStringLiteral("freq")].value = 3550000;
        s.saveChItem(0, m);
        QCOMPARE(s.chList(), (QStringList{ "M0000", "M0005", "M0009" }));
        QCOMPARE(s.currentChName(), QStringLiteral("M0005"));
        QCOMPARE(s.chNum(), 1);
        QCOMPARE(freqOf(s), 7005000);
        QCOMPARE(s.chSlotName(), QStringLiteral("M-6"));
        QCOMPARE(spy.count(), 2);
        // The selected channel itself erased: its neighbour takes over.
        s.eraseChItem(5);
        QCOMPARE(s.currentChName(), QStringLiteral("M0009"));
        QCOMPARE(freqOf(s), 7009000);
    }
};

int runParamVfoTests(int argc, char **argv)
{
    TestParamVfo t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_params_vfo.moc"
