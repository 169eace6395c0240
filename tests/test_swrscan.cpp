// The SWR scanner: its sweep driven tick by tick against a parameter store
// (what it tunes, when it asks, where it draws), and end to end against
// the real simulator, whose antenna is resonant at 14.15 MHz.
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "tests/rig_support.h"
#include "tests/test_support.h"
#include "ui/dialogswrscanner.h"
#include "ui/zfonts.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

const QString kWp = QStringLiteral("wparam");

// A store on a system root of its own; fullbandTx lets the radio transmit
// everywhere (the radio's "fullband-tx" option).
struct Store {
    ztest::Sysroot root;
    std::unique_ptr<ZParamAdmin> store;

    explicit Store(bool fullbandTx)
    {
        if (fullbandTx)
            root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nfullband-tx=enable\n");
        QDir().mkpath(zsys::appDir());
        store.reset(new ZParamAdmin(nullptr));
    }
    ZParamAdmin *operator->() const { return store.get(); }
    ZParamAdmin *get() const { return store.get(); }
    int freq() const { return store->vfoFront("freq").value.toInt(); }
    int mode() const { return store->vfoFront("mode").value.toInt(); }
    float power() const { return store->paramItem(kWp, "txpwr").value.toFloat(); }
};

// A plot 800 pixels wide: 780 columns.
const QRect kPlot(0, 0, 800, 300);

// What one measured point looked like to the radio.
struct Point {
    int column; // where it is drawn
    int freq;   // where the radio was tuned when it was asked for
    int ticks;  // ticks from the last draw (or the start) to the request
};

// Runs the sweep tick by tick, answering every request with swr(freq),
// until `points` measurements are drawn or `ticks` ticks have passed.
QVector<Point> sweep(DialogSwrScanner &s, ZParamAdmin *store, int points, const std::function<float(int)> &swr,
                     int ticks = 100000)
{
    QVector<Point> out;
    int asked = -1;
    int askedFreq = 0;
    QMetaObject::Connection c = QObject::connect(&s, &DialogSwrScanner::sig_nextPoint, [&]() {
        asked = s.column();
        askedFreq = store->vfoFront("freq").value.toInt();
    });
    int since = 0;
    for (int t = 0; t < ticks && out.size() < points; ++t) {
        asked = -1;
        s.slot_timerUpdate();
        since++;
        if (asked < 0)
            continue;
        s.slot_commUpdateSWR(swr(askedFreq));
        s.slot_timerUpdate();
        out.append({asked, askedFreq, since});
        since = 0;
    }
    QObject::disconnect(c);
    return out;
}

void saveShot(QWidget *w, const QString &name)
{
    if (qEnvironmentVariableIsSet("ZR450_UI_SHOTS"))
        w->grab().save(qEnvironmentVariable("ZR450_UI_SHOTS") + QLatin1Char('/') + name);
}

} // namespace

class TestSwrScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
        ZFonts::install();
        ztest::installLogCapture();
    }

    // One column is one span step; the pass covers columns x step centred
    // on the start frequency rounded down to a whole kHz.
    void passCoversSpanCentredOnRoundedStart_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("span");
        QTest::addColumn<int>("hz");
        QTest::addColumn<int>("centre");
        QTest::addColumn<QString>("middleLabel");
        QTest::addColumn<QString>("firstLabel");
        QTest::newRow("1 kHz, 500 Hz above a whole kHz") << 14150500 << 0 << 1000 << 14150000 << "14.150" << "13.838";
        QTest::newRow("2 kHz, just below the next kHz") << 7000999 << 1 << 2000 << 7000000 << "07.000" << "06.376";
        QTest::newRow("5 kHz") << 21074000 << 2 << 5000 << 21074000 << "21.074" << "19.514";
        QTest::newRow("10 kHz") << 14150000 << 3 << 10000 << 14150000 << "14.150" << "11.030";
    }

    void passCoversSpanCentredOnRoundedStart()
    {
        QFETCH(int, start);
        QFETCH(int, span);
        QFETCH(int, hz);
        QFETCH(int, centre);
        QFETCH(QString, middleLabel);
        QFETCH(QString, firstLabel);
        Store st(true);
        st->setParamItem(kWp, "swrs_span", span);
        st->setVfoFront("freq", start);
        DialogSwrScanner s(nullptr, st.get(), 0, 176, 800, 304);
        s.init(kPlot);
        QCOMPARE(s.columns(), 780);
        QCOMPARE(s.hzPerColumn(), hz);
        QCOMPARE(s.centreFrequency(), centre);
        QCOMPARE(s.frequencyAt(390), centre);
        QCOMPARE(s.frequencyAt(0), centre - 390 * hz);
        QCOMPARE(s.frequencyAt(779), centre + 389 * hz);
        QCOMPARE(s.axisLabel(5), middleLabel);
        QCOMPARE(s.axisLabel(1), firstLabel);
        // The first point is measured where it is drawn.
        QCOMPARE(st.freq(), centre - 390 * hz);
    }

    // The speed sets the columns between measured points: 2 columns at
    // speed 0 (390 points on 780 columns) up to 32; a pass always has at
    // least 10 points.
    void speedSetsPointsPerPass_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("inc");
        QTest::addColumn<int>("points");
        QTest::newRow("x1") << 0 << 800 << 2 << 390;
        QTest::newRow("x2") << 1 << 800 << 4 << 195;
        QTest::newRow("x3") << 2 << 800 << 8 << 98;
        QTest::newRow("x4") << 3 << 800 << 16 << 49;
        QTest::newRow("x5") << 4 << 800 << 32 << 25;
        QTest::newRow("x5 on a narrow plot") << 4 << 120 << 10 << 10;
    }

    void speedSetsPointsPerPass()
    {
        QFETCH(int, speed);
        QFETCH(int, width);
        QFETCH(int, inc);
        QFETCH(int, points);
        Store st(true);
        st->setParamItem(kWp, "swrs_spd", speed);
        st->setVfoFront("freq", 14150000);
        DialogSwrScanner s(nullptr, st.get(), 0, 176, 800, 304);
        s.init(QRect(0, 0, width, 300));
        QCOMPARE(s.scanInc(), inc);
        const QVector<Point> pass = sweep(s, st.get(), points + 1, [](int) { return 1.5f; });
        QCOMPARE(pass.size(), points + 1);
        // Each point is asked for where it is drawn, once the radio had the
        // settling time since it was tuned there.
        for (int i = 0; i < points; ++i) {
            QCOMPARE(pass[i].column, i * inc);
            QCOMPARE(pass[i].freq, s.frequencyAt(pass[i].column));
            QCOMPARE(pass[i].ticks, DialogSwrScanner::kSettleTicks);
        }
        QCOMPARE(pass[points].column, 0); // the next pass starts on the left
        QCOMPARE(s.column(), inc);
    }

    // SWR 1 draws at the bottom clamp, a very high SWR (or no number) at the
    // top one; later passes smooth each column with its memory.
    void swrDrawsInsideTheClamps()
    {
        Store st(true);
        st->setParamItem(kWp, "swrs_spd", 4);
        DialogSwrScanner s(nullptr, st.get(), 0, 176, 800, 304);
        s.init(kPlot);
        const int bottom = s.plotHeight() - DialogSwrScanner::kPenWidth;
        const int top = DialogSwrScanner::kPenWidth + 1;
        QVector<float> answers = {1.0f, 1000.0f, std::nanf(""), 3.0f};
        QVector<int> ys;
        for (float v : answers) {
            const int c = s.column();
            sweep(s, st.get(), 1, [&](int) { return v; });
            ys.append(s.lastPoint().y());
            QCOMPARE(s.lastPoint().x(), DialogSwrScanner::kLeftMargin + c + 1);
        }
        QCOMPARE(ys[0], bottom);
        QCOMPARE(ys[1], top);
        QCOMPARE(ys[2], top);
        QCOMPARE(ys[3], s.plotHeight() - int(2.0f * s.plotHeight() / 10));
        const QImage img = s.pixmap().toImage();
        QCOMPARE(QColor(img.pixel(s.lastPoint())), QColor(Qt::yellow));
        QCOMPARE(s.history()[0], 1.0f);
        QCOMPARE(s.history()[2 * 32], 0.0f); // not a number: nothing remembered

        // The next pass: 0.7 of the new value and 0.3 of the column's last.
        sweep(s, st.get(), 25 - 4, [](int) { return 2.0f; });
        QCOMPARE(s.column(), 0);
        sweep(s, st.get(), 2, [](int) { return 2.0f; });
        QVERIFY(std::fabs(s.history()[0] - (0.7f * 2.0f + 0.3f * 1.0f)) < 1e-5f);
        QVERIFY(std::fabs(s.history()[32] - (0.7f * 2.0f + 0.3f * 1000.0f)) < 1e-3f);
    }

    // Frequency, mode and power are the operator's again once the panel is
    // gone, also in the middle of a pass; span and speed are kept.
    void closingMidPassRestoresOperatorSettings()
    {
        Store st(true);
        st->setVfoFront("mode", 2);
        st->setVfoFront("freq", 14150500);
        st->setParamItem(kWp, "txpwr", 8.0f);
        st->setParamItem(kWp, "swrs_span", 0);
        st->setParamItem(kWp, "swrs_spd", 0);
        auto *s = new DialogSwrScanner(nullptr, st.get(), 0, 176, 800, 304);
        QSignalSpy trx(s, &DialogSwrScanner::sig_postTRX);
        s->startSweep();
        s->show();
        QCOMPARE(trx.size(), 1);
        QCOMPARE(trx.at(0).at(0).value<uint8_t>(), uint8_t(1));
        QCOMPARE(st.mode(), DialogSwrScanner::kSweepMode);
        QCOMPARE(st.power(), 5.0f);
        QVERIFY(s->isSweeping());
        // Nothing is drawn before the first request has its answer.
        for (int t = 0; t < 4 * DialogSwrScanner::kSettleTicks; ++t)
            s->slot_timerUpdate();
        QCOMPARE(s->state(), 1);
        QCOMPARE(s->column(), 0);
        QCOMPARE(s->history()[0], 0.0f);
        QCOMPARE(s->functionButtonCount(), 5);
        QCOMPARE(s->functionButton(4)->text(), QStringLiteral("EXIT"));

        // SPAN cycles 1000, 2000, 5000, 10000 Hz per column; SPEED x1..x5.
        const int spans[] = {2000, 5000, 10000, 1000, 2000};
        for (int hz : spans) {
            s->functionButton(2)->click();
            QCOMPARE(s->hzPerColumn(), hz);
        }
        const int incs[] = {4, 8, 16, 32, 2, 4};
        for (int inc : incs) {
            s->functionButton(3)->click();
            QCOMPARE(s->scanInc(), inc);
        }
        QCOMPARE(DialogSwrScanner::speedLabel(s->speedIndex()), QStringLiteral("x2"));
        s->functionButton(0)->click(); // nothing
        s->functionButton(1)->click();
        QCOMPARE(s->spanIndex(), 1);

        const QVector<Point> some = sweep(*s, st.get(), 40, [](int) { return 1.3f; });
        QCOMPARE(some.size(), 40);
        QVERIFY(st.freq() != 14150500);
        // A new span in the middle of a pass: the columns forget the old
        // range, and the next point is measured in the new one.
        s->functionButton(2)->click();
        QCOMPARE(s->hzPerColumn(), 5000);
        for (float v : s->history())
            QCOMPARE(v, 0.0f);
        const QVector<Point> next = sweep(*s, st.get(), 1, [](int) { return 1.3f; });
        QCOMPARE(next.size(), 1);
        QCOMPARE(next[0].column, some.last().column + 4);
        QCOMPARE(next[0].freq, s->frequencyAt(next[0].column));
        QCOMPARE(next[0].ticks, DialogSwrScanner::kSettleTicks);
        s->functionButton(4)->click(); // EXIT
        QVERIFY(!s->isVisible());
        QVERIFY(!s->isSweeping());
        QCOMPARE(trx.size(), 1);
        delete s;
        QCOMPARE(trx.size(), 2);
        QCOMPARE(trx.at(1).at(0).value<uint8_t>(), uint8_t(0));
        QCOMPARE(st.freq(), 14150500);
        QCOMPARE(st.mode(), 2);
        QCOMPARE(st.power(), 8.0f);
        QCOMPARE(st->paramItem(kWp, "swrs_span").value.toInt(), 2);
        QCOMPARE(st->paramItem(kWp, "swrs_spd").value.toInt(), 1);

        // Stored indexes outside their tables come back in range; a panel
        // that never swept leaves the radio as it was.
        st->setParamItem(kWp, "swrs_span", -3);
        st->setParamItem(kWp, "swrs_spd", 9);
        st->setVfoFront("freq", 7074000);
        {
            DialogSwrScanner idle(nullptr, st.get(), 0, 176, 800, 304);
            QCOMPARE(idle.spanIndex(), 0);
            QCOMPARE(idle.speedIndex(), 4);
        }
        QCOMPARE(st.freq(), 7074000);
        QCOMPARE(st.mode(), 2);
    }

    // Columns where the radio may not transmit are not measured: the sweep
    // passes over them instead of waiting for a value that never comes.
    void columnsOutsideTheBandAreSkipped()
    {
        Store st(false);
        st->setVfoFront("freq", 14150000);
        DialogSwrScanner s(nullptr, st.get(), 0, 176, 800, 304);
        s.init(kPlot); // 13.760 .. 14.539 MHz, the band is 14.000 .. 14.350
        const QVector<Point> pass = sweep(s, st.get(), 177, [](int) { return 1.5f; }, 2000);
        // 14.000 .. 14.350 MHz in steps of 2 kHz, and the first of the next pass.
        QCOMPARE(pass.size(), 177);
        for (const Point &p : pass) {
            QVERIFY2(p.freq >= 14000000 && p.freq <= 14350000, qPrintable(QString::number(p.freq)));
            QCOMPARE(p.freq, s.frequencyAt(p.column));
        }
        QCOMPARE(pass.first().freq, 14000000);
        QCOMPARE(pass[175].freq, 14350000);
        QCOMPARE(pass.last().freq, 14000000);
        const QVector<float> h = s.history();
        QCOMPARE(h[238], 0.0f);
        QCOMPARE(h[240], 1.5f);
        QCOMPARE(h[590], 1.5f);
        QCOMPARE(h[592], 0.0f);

        // Nothing in the range can be sent on: the sweep idles, the radio
        // stays where it is.
        st->setVfoFront("freq", 12000000);
        DialogSwrScanner none(nullptr, st.get(), 0, 176, 800, 304);
        none.init(kPlot);
        QCOMPARE(sweep(none, st.get(), 1, [](int) { return 1.5f; }, 50).size(), 0);
        QCOMPARE(st.freq(), 12000000);
        QCOMPARE(none.state(), 0);
    }

    // A sweep around 14.15 MHz through the radio link and the simulator:
    // the register words carry AM and 5 W with the SWR-scan source, the
    // trace's lowest stretch is centred on the antenna's resonance, and EXIT
    // gives the operator's frequency, mode and power back.
    void sweepShowsTheAntennaResonance()
    {
        ztest::Rig rig;
        QVERIFY(rig.start(true));
        ZParamAdmin *store = rig.store();
        store->setVfoFront("mode", 2);
        store->setVfoFront("freq", 14150500);
        store->setParamItem(kWp, "txpwr", 8.0f);
        store->setParamItem(kWp, "swrs_span", 3); // 10 kHz per column
        store->setParamItem(kWp, "swrs_spd", 0);
        uint32_t w[ZRADIO_REG_WORDS];
        int tx = 0;
        QTRY_VERIFY_WITH_TIMEOUT(rig.status(w, &tx) && w[4] == 2 && ((w[15] >> 8) & 0xFF) == 80, 5000);

        auto *s = new DialogSwrScanner(nullptr, store, 0, 176, 800, 304);
        // The window's part.
        connect(&rig, &ztest::Rig::sig_postSwrValue, s, &DialogSwrScanner::slot_commUpdateSWR);
        connect(s, &DialogSwrScanner::sig_postTRX, &rig, &ztest::Rig::slot_swrScanTrxReceiver);
        connect(s, &DialogSwrScanner::sig_nextPoint, &rig, &ztest::Rig::slot_swrScanNextPoint);
        s->startSweep();
        s->show();
        const int columns = s->columns();
        QVERIFY(columns > 700);

        // The board gets the words one by one: AM, 5.0 W, the SWR-scan
        // source, and it transmits.
        QTRY_VERIFY_WITH_TIMEOUT(rig.status(w, &tx) && tx == 1 && w[4] == 6u && ((w[15] >> 8) & 0xFF) == 50u
                                     && (w[12] & ZRADIO_CTL_SWRSCAN),
                                 10000);

        // One whole pass.
        int lastColumn = 0;
        bool wrapped = false;
        QTRY_VERIFY_WITH_TIMEOUT((wrapped = wrapped || s->column() < lastColumn, lastColumn = s->column(), wrapped),
                                 240000);
        saveShot(s, "swrscan.png");
        const QVector<float> h = s->history();
        float low = 100.0f;
        for (int c = 0; c < columns; c += 2)
            if (h[c] > 0.0f)
                low = qMin(low, h[c]);
        int first = -1, last = -1;
        for (int c = 0; c < columns; c += 2) {
            if (h[c] > 0.0f && h[c] <= low + 0.05f) {
                if (first < 0)
                    first = c;
                last = c;
            }
        }
        const int resonance = (14150000 - s->frequencyAt(0)) / s->hzPerColumn();
        const int middle = (first + last) / 2;
        QVERIFY2(std::abs(middle - resonance) <= 3,
                 qPrintable(QString("lowest %1 from column %2 to %3, resonance at %4").arg(low).arg(first).arg(last)
                                .arg(resonance)));
        QVERIFY2(low > 1.0f && low < 1.4f, qPrintable(QString::number(low)));
        // Far from the resonance the antenna is a poor match.
        // Far from the resonance the antenna is a poor match, also in the
        // first columns, measured right after the jump from the start.
        for (int c : {0, 2, 10, (columns - 10) & ~1})
            QVERIFY2(h[c] > low + 1.0f, qPrintable(QString("column %1: %2").arg(c).arg(h[c])));

        s->functionButton(4)->click(); // EXIT
        QVERIFY(!s->isVisible());
        delete s;
        QCOMPARE(store->vfoFront("freq").value.toInt(), 14150500);
        QTRY_VERIFY_WITH_TIMEOUT(rig.status(w, &tx) && !(w[12] & ZRADIO_CTL_SWRSCAN) && tx == 0 && w[4] == 2u
                                     && ((w[15] >> 8) & 0xFF) == 80u
                                     && int(w[1]) + (int32_t(w[35] << 8) >> 8) == 14150500,
                                 10000);
    }
};

QTEST_MAIN(TestSwrScan)
#include "test_swrscan.moc"
