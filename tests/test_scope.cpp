// The panadapter as an operator sees it: grabbed frames of a known spectrum
// are checked pixel by pixel (trace, tuning line, pass band, arrows,
// waterfall), together with the trace arithmetic behind them (resampling,
// peak hold, automatic reference) and the waterfall colour scale.
#include "spectrum/zcolormap.h"
#include "spectrum/zscopegl.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

const int kW = 800;
const int kH = 250;

QVector<float> flat(int n, float db)
{
    return QVector<float>(n, db);
}

// Spectrum of 512 bins with a floor and one tone covering `width` bins.
QVector<float> tone(float floorDb, int bin, int width, float toneDb)
{
    QVector<float> v(512, floorDb);
    for (int i = bin; i < bin + width && i < 512; ++i)
        v[i] = toneDb;
    return v;
}

bool isYellowTint(QRgb c)
{
    return qRed(c) > 60 && qGreen(c) > 60 && qBlue(c) < 30;
}

bool isBlack(QRgb c)
{
    return qRed(c) < 20 && qGreen(c) < 20 && qBlue(c) < 20;
}

bool isRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

int countBright(const QImage &img, const QRect &r)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(img.pixel(x, y)) > 200)
                ++n;
    return n;
}

} // namespace

class TestScope : public QObject
{
    Q_OBJECT

private:
    // A panadapter of the main screen's size, set up as the main window
    // does; it is never shown, so every grab is exactly one repaint.
    static ZScopeGL *makeScope()
    {
        auto *s = new ZScopeGL(nullptr, 0, 176, kW, kH);
        s->resize(kW, kH);
        QList<float> hg;
        for (int j = 1; j <= 4; ++j)
            hg << float(j * s->spectrumHeight()) / 5.0f;
        s->setHorizontalGrid(hg);
        s->setDivisions(hg.size() + 2);
        return s;
    }

private slots:
    void colourScaleRunsThroughItsAnchors()
    {
        const struct { int index, r, g, b; } rows[] = {
            {0, 0, 0, 0},       {32, 0, 0, 43},      {64, 0, 0, 202},
            {96, 0, 105, 255},  {128, 9, 255, 246},  {160, 167, 255, 88},
            {192, 255, 184, 0}, {224, 255, 26, 0},   {255, 128, 0, 0},
        };
        for (const auto &row : rows) {
            const uint32_t c = ZColorMap::getColorJet256(float(row.index), 0.0f, 255.0f);
            QCOMPARE(int(c >> 16 & 0xFF), row.r);
            QCOMPARE(int(c >> 8 & 0xFF), row.g);
            QCOMPARE(int(c & 0xFF), row.b);
            QCOMPARE(ZColorMap::colorMapJet256()[row.index] & 0xFF, 0xFFu);
        }
        // Smooth: no channel jumps by more than a few levels between entries.
        const uint32_t *t = ZColorMap::colorMapJet256();
        for (int i = 1; i < 256; ++i)
            for (int shift = 8; shift <= 24; shift += 8)
                QVERIFY(std::abs(int(t[i] >> shift & 0xFF) - int(t[i - 1] >> shift & 0xFF)) <= 12);
        // Degenerate range, clamping and values that are not numbers.
        QCOMPARE(ZColorMap::getColorJet256(5, 3, 3), 0u);
        QCOMPARE(ZColorMap::getColorJet256(-1e30f, 0, 255), t[0] >> 8);
        QCOMPARE(ZColorMap::getColorJet256(1e30f, 0, 255), t[255] >> 8);
        QCOMPARE(ZColorMap::getColorJet256(std::nanf(""), 0, 255), t[0] >> 8);
        QCOMPARE(ZColorMap::getColorJet256(50, 0, 100), t[127] >> 8);
    }

    void levelToScreenRow()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        const int h = s->spectrumHeight();
        QCOMPARE(h, int((kH - 1) * 0.5f));
        // Reference -80 dB, 6 divisions of 10 dB: the reference sits at the
        // bottom, 60 dB above it at the top, and the ends clamp.
        QCOMPARE(s->magToDispY(-80.0f), float(h));
        QCOMPARE(s->magToDispY(-20.0f), 0.0f);
        QCOMPARE(s->magToDispY(-50.0f), float(h) / 2.0f);
        QCOMPARE(s->magToDispY(-200.0f), float(h));
        QCOMPARE(s->magToDispY(50.0f), 0.0f);
        s->setLevelOffset(10.0f);
        QCOMPARE(s->magToDispY(-90.0f), float(h));
        s->setFixedReference(true);
        s->setLevelOffset(0.0f);
        QCOMPARE(s->magToDispY(-100.0f), float(h));
        s->setFftHeightRatio(0.65f);
        QCOMPARE(s->spectrumHeight(), int((kH - 1) * 0.65f));
        QCOMPARE(s->waterfallImage().height(), kH - 1 - s->spectrumHeight());
    }

    void resamplesToTheTraceWidth()
    {
        // 512 values on a 799-pixel trace: nearest value to the left.
        QScopedPointer<ZScopeGL> s(makeScope());
        QCOMPARE(s->traceWidth(), kW - 1);
        QVector<float> in(512);
        for (int i = 0; i < 512; ++i)
            in[i] = float(i);
        s->setSamples(in);
        for (int j = 0; j < 799; ++j)
            QCOMPARE(s->samples()[j], float(int(j * 512.0 / 799.0)));

        // 1024 values on 512 pixels: the mean of each pair.
        QScopedPointer<ZScopeGL> t(new ZScopeGL(nullptr, 0, 0, 513, 100));
        t->resize(513, 100);
        QCOMPARE(t->traceWidth(), 512);
        QVector<float> big(1024);
        for (int i = 0; i < 1024; ++i)
            big[i] = float(i % 2 ? 10 : 0) + float(i / 2);
        t->setSamples(big);
        for (int j = 0; j < 512; ++j)
            QCOMPARE(t->samples()[j], 5.0f + float(j));

        // 512 values on 300 pixels (not a multiple): pairs at a fractional
        // step; every output stays inside the input's range.
        QScopedPointer<ZScopeGL> u(new ZScopeGL(nullptr, 0, 0, 301, 100));
        u->resize(301, 100);
        u->setSamples(in);
        QCOMPARE(u->samples()[0], (0.0f + 0.0f) / 2.0f);
        for (int j = 1; j < 300; ++j) {
            QVERIFY(u->samples()[j] >= u->samples()[j - 1]);
            QVERIFY(u->samples()[j] <= 511.0f);
        }
        // Values that are not finite levels show as the floor.
        QVector<float> bad(512, -90.0f);
        bad[0] = std::nanf("");
        bad[1] = -std::numeric_limits<float>::infinity();
        bad[2] = std::numeric_limits<float>::infinity();
        s->setSamples(bad);
        QCOMPARE(s->samples()[0], -145.0f);
        QCOMPARE(s->samples()[2], -145.0f);
        QCOMPARE(s->samples()[4], -145.0f);
        QCOMPARE(s->samples()[5], -90.0f);
        s->grabFramebuffer();
        for (float v : s->averagedTrace())
            QVERIFY(std::isfinite(v));
        // An empty spectrum changes nothing.
        u->setSamples(QVector<float>());
        QCOMPARE(u->traceWidth(), 300);
    }

    void drawsKnownSpectrumWithTuningLine()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true); // -100 dB at the bottom
        s->setMode(2);
        s->setTuningOffset(0);
        // A tone at bin 110 (about 174 px from the left), floor below range.
        s->setSamples(tone(-130.0f, 110, 4, -55.0f));
        const QImage img = s->grabFramebuffer();
        QCOMPARE(img.size(), QSize(kW, kH));
        const int h = s->spectrumHeight();
        const int toneX = int(112 * 799.0 / 512.0);
        const int toneY = int(s->magToDispY(-55.0f));
        QVERIFY(toneY > 5 && toneY < h - 20);
        // Green trace below the tone's level, black above it and next to it.
        const QRgb inTone = img.pixel(toneX, (toneY + h) / 2);
        QVERIFY2(qGreen(inTone) > 120 && qRed(inTone) < 80, qPrintable(QString::number(inTone, 16)));
        QVERIFY(isBlack(img.pixel(toneX, toneY - 6)));
        QVERIFY(isBlack(img.pixel(toneX + 30, (toneY + h) / 2)));
        // The tuning line in red in the middle of the trace.
        const int xt = int(s->tuningX());
        QCOMPARE(xt, 399);
        QVERIFY(isRed(img.pixel(xt, 10)) || isRed(img.pixel(xt + 1, 10)));
        // Waterfall: the tone's column is coloured, the floor is black.
        const QRgb wfTone = img.pixel(toneX, h);
        QVERIFY(!isBlack(wfTone));
        QVERIFY(isBlack(img.pixel(toneX + 30, h)));
    }

    void passBandOnTheSideOfTheMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("below");
        QTest::addColumn<bool>("above");
        QTest::newRow("LSB") << 0 << true << false;
        QTest::newRow("LSB-DIG") << 1 << true << false;
        QTest::newRow("USB") << 2 << false << true;
        QTest::newRow("USB-DIG") << 3 << false << true;
        QTest::newRow("CW") << 4 << true << true;
        QTest::newRow("CWR") << 5 << true << true;
        QTest::newRow("AM") << 6 << true << true;
        QTest::newRow("NFM") << 7 << true << true;
    }

    void passBandOnTheSideOfTheMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, below);
        QFETCH(bool, above);
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true);
        s->setMode(mode);
        // 300 .. 3000 Hz at 100 kHz over 799 px: 2.4 .. 24 px from the line.
        s->setPassBand(300, 3000);
        s->setTuningOffset(-10000); // away from the grid line at the centre
        s->setSamples(flat(512, -145.0f));
        const QImage img = s->grabFramebuffer();
        const int xt = int(std::lround(s->tuningX()));
        QCOMPARE(xt, 320);
        const int y = 10;
        // CW: 2700 Hz wide around the line (±10.8 px); AM: ±24 px.
        const int near = (mode == 4 || mode == 5) ? 7 : 12;
        QCOMPARE(isYellowTint(img.pixel(xt - near, y)), below);
        QCOMPARE(isYellowTint(img.pixel(xt + near, y)), above);
        // Well outside every band: no shading.
        QVERIFY(isBlack(img.pixel(xt - 40, y)));
        QVERIFY(isBlack(img.pixel(xt + 40, y)));
        if (mode == 4 || mode == 5) {
            QVERIFY(!isYellowTint(img.pixel(xt - 16, y)));
            QVERIFY(!isYellowTint(img.pixel(xt + 16, y)));
        }
        if (mode >= 6) {
            QVERIFY(isYellowTint(img.pixel(xt - 21, y)));
            QVERIFY(isYellowTint(img.pixel(xt + 21, y)));
        }
    }

    void arrowsWhenTuningIsOffScreen()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true);
        s->setSamples(flat(512, -145.0f));
        const int h = s->spectrumHeight();
        const QRect left(2, h / 2 - 20, 80, 40);
        const QRect right(kW - 82, h / 2 - 20, 78, 40);

        s->setTuningOffset(0);
        QImage img = s->grabFramebuffer();
        QCOMPARE(countBright(img, left), 0);
        QCOMPARE(countBright(img, right), 0);

        s->setTuningOffset(60000); // beyond the right edge of a 100 kHz span
        img = s->grabFramebuffer();
        QVERIFY(s->tuningX() > s->traceWidth());
        QVERIFY(countBright(img, right) > 30);
        QCOMPARE(countBright(img, left), 0);

        s->setTuningOffset(-52000);
        img = s->grabFramebuffer();
        QVERIFY(s->tuningX() < 0);
        QVERIFY(countBright(img, left) > 30);
        QCOMPARE(countBright(img, right), 0);

        // Centre mode keeps the line in the middle: no arrows.
        s->setCenterMode(true);
        img = s->grabFramebuffer();
        QCOMPARE(int(s->tuningX()), 399);
        QCOMPARE(countBright(img, left), 0);
        QCOMPARE(countBright(img, right), 0);
    }

    void centreModeMovesTheTraceUnderTheLine()
    {
        QScopedPointer<ZScopeGL> s(new ZScopeGL(nullptr, 0, 0, 513, 100));
        s->resize(513, 100);
        s->setFixedReference(true);
        s->setCenterMode(true);
        // 512 px over 100 kHz: a tone 10 kHz above the centre sits at px
        // 307; tuned to it, it must be drawn at the centre (256).
        QVector<float> v(512, -145.0f);
        v[307] = -40.0f;
        s->setSamples(v);
        s->setTuningOffset(10000.0f);
        s->grabFramebuffer();
        const int c = int(std::max_element(s->averagedTrace().begin(), s->averagedTrace().end())
                          - s->averagedTrace().begin());
        QVERIFY2(std::abs(c - 256) <= 1, qPrintable(QString::number(c)));
        // An offset beyond the span blanks the row.
        s->setTuningOffset(150000.0f);
        s->grabFramebuffer();
        QCOMPARE(*std::max_element(s->averagedTrace().begin(), s->averagedTrace().end()), -145.0f);
    }

    void waterfallScrollsOneLinePerRepaint()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true); // colours: (dB + 100 + 25) * 2.55
        const int h = s->spectrumHeight();
        const float levels[] = {-60.0f, -90.0f, -40.0f, -75.0f};
        QImage img;
        for (float db : levels) {
            s->setSamples(flat(512, db));
            img = s->grabFramebuffer();
        }
        // Newest line on top, each older one a line further down.
        for (int age = 0; age < 4; ++age) {
            const float db = levels[3 - age];
            const float v = qBound(0.0f, (db + 100.0f + 25.0f) * 255.0f / 100.0f, 255.0f);
            const QRgb want = 0xFF000000u | ZColorMap::getColorJet256(v, 0, 255);
            QCOMPARE(img.pixel(200, h + age) & 0xFFFFFFu, want & 0xFFFFFFu);
            QCOMPARE(s->waterfallImage().pixel(200, age), want);
        }
        // Below the fourth line the waterfall is still the start colour.
        QCOMPARE(s->waterfallImage().pixel(200, 4) & 0xFFFFFFu,
                 ZColorMap::getColorJet256(0, 0, 255));
        QCOMPARE(s->repaintCount(), quint64(4));
    }

    void peakHeldThenDecays()
    {
        // The step itself.
        int counter = 0;
        float peak = ZScopeGL::peakHoldType2(-50.0f, -145.0f, 0.01f, counter, 100);
        QCOMPARE(peak, -50.0f);
        QCOMPARE(counter, 100);
        for (int i = 0; i < 100; ++i)
            peak = ZScopeGL::peakHoldType2(-120.0f, peak, 0.01f, counter, 100);
        QCOMPARE(peak, -50.0f);
        peak = ZScopeGL::peakHoldType2(-120.0f, peak, 0.01f, counter, 100);
        QCOMPARE(peak, -50.5f);
        QCOMPARE(ZScopeGL::peakHoldType2(0.0f, 20.0f, 0.01f, counter, 100), 19.8f);

        // On screen: a tone that stops keeps its peak for 100 repaints.
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true);
        const int bin = 300;
        const int x = int((bin + 2) * 799.0 / 512.0);
        const QVector<float> on = tone(-130.0f, bin, 4, -50.0f);
        const QVector<float> off = flat(512, -130.0f);
        // Past the peak-hold start delay; the last frame is the highest, so
        // the hold time starts when the tone stops.
        for (int i = 0; i < 15; ++i) {
            s->setSamples(i < 14 ? tone(-130.0f, bin, 4, -52.0f) : on);
            s->grabFramebuffer();
        }
        QCOMPARE(s->peakTrace()[x], -50.0f);
        s->setSamples(off);
        QImage img;
        for (int i = 0; i < 100; ++i) {
            img = s->grabFramebuffer();
            QCOMPARE(s->peakTrace()[x], -50.0f);
        }
        // The held peak is drawn as a grey area up to the tone's level while
        // the live trace has fallen to the floor.
        const int yPeak = int(s->magToDispY(-50.0f));
        const QRgb held = img.pixel(x, yPeak + 3);
        QVERIFY2(qGray(held) > 60 && std::abs(qRed(held) - qBlue(held)) < 10,
                 qPrintable(QString::number(held, 16)));
        QVERIFY(isBlack(img.pixel(x, yPeak - 4)));
        float expect = -50.0f;
        for (int i = 0; i < 5; ++i) {
            s->grabFramebuffer();
            expect *= 1.01f;
            QVERIFY(qAbs(s->peakTrace()[x] - expect) < 1e-3f);
        }
        // Peak hold off clears the trace at once.
        s->setPeakHold(false);
        s->grabFramebuffer();
        QCOMPARE(s->peakTrace()[x], -145.0f);
    }

    void referenceFollowsARisingFloor()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        QCOMPARE(s->referenceLevel(), -80.0f);
        // A floor 30 dB below the reference: nothing for the first 50
        // frames, then 11 checks, then 20 % steps towards the floor.
        for (int i = 0; i < 60; ++i) {
            s->setSamples(flat(512, -110.0f));
            s->grabFramebuffer();
            QCOMPARE(s->referenceLevel(), -80.0f);
        }
        s->grabFramebuffer();
        QCOMPARE(s->referenceLevel(), -80.0f + (-110.0f + 80.0f) * 0.2f);
        for (int i = 0; i < 80; ++i)
            s->grabFramebuffer();
        QVERIFY(qAbs(s->referenceLevel() + 110.0f) < 0.01f);

        // The floor rises by 20 dB: the reference follows it up.
        for (int i = 0; i < 10; ++i) {
            s->setSamples(flat(512, -90.0f));
            s->grabFramebuffer();
            QVERIFY(qAbs(s->referenceLevel() + 110.0f) < 0.01f);
        }
        float last = s->referenceLevel();
        for (int i = 0; i < 60; ++i) {
            s->grabFramebuffer();
            QVERIFY(s->referenceLevel() >= last);
            last = s->referenceLevel();
        }
        QVERIFY(qAbs(s->referenceLevel() + 90.0f) < 0.01f);
        // On screen the floor now lies on the bottom line: nothing green
        // above the lowest rows of the spectrum area.
        const QImage img = s->grabFramebuffer();
        QVERIFY(qGreen(img.pixel(530, s->spectrumHeight() - 8)) < 100);

        // A small change (within 6 dB) does not move it; a fixed reference
        // suspends the adjustment.
        for (int i = 0; i < 40; ++i) {
            s->setSamples(flat(512, -86.0f));
            s->grabFramebuffer();
        }
        QVERIFY(qAbs(s->referenceLevel() + 90.0f) < 0.01f);
        s->setFixedReference(true);
        for (int i = 0; i < 80; ++i) {
            s->setSamples(flat(512, -70.0f));
            s->grabFramebuffer();
        }
        QVERIFY(qAbs(s->referenceLevel() + 90.0f) < 0.01f);
        QCOMPARE(s->displayReference(), -100.0f);
    }

    void statusTextAndFrequencyLabels()
    {
        QScopedPointer<ZScopeGL> s(makeScope());
        s->setFixedReference(true);
        s->setSamples(flat(512, -145.0f));
        const QRect corner(kW - 120, 2, 114, 22);
        QImage img = s->grabFramebuffer();
        QCOMPARE(countBright(img, corner), 0);
        s->setStatusText(QStringLiteral("PWR:5.0W\r\nALC:0  "));
        img = s->grabFramebuffer();
        QVERIFY(countBright(img, corner) > 20);
        s->showStatusText(false);
        img = s->grabFramebuffer();
        QCOMPARE(countBright(img, corner), 0);
        // Frequency grid: lines every 10 kHz at zoom 1 (about 80 px). With
        // zoom 2 the trace shows half the span, so the lines mark every
        // 5 kHz at the same places: a station 5 kHz up is on the first one.
        const int h = s->spectrumHeight();
        QVERIFY(qGray(img.pixel(399 + 80, 5)) > 80);
        QVERIFY(isBlack(img.pixel(399 + 40, 5)));
        s->setZoom(2.0f);
        img = s->grabFramebuffer();
        QVERIFY(isBlack(img.pixel(399 + 120, 5)));
        s->setTuningOffset(5000.0f);
        const int x5k = int(std::lround(s->tuningX()));
        s->setTuningOffset(0.0f);
        img = s->grabFramebuffer();
        QVERIFY2(std::abs(x5k - (399 + 80)) <= 1, qPrintable(QString::number(x5k)));
        QVERIFY(qGray(img.pixel(x5k, 5)) > 80 || qGray(img.pixel(x5k + 1, 5)) > 80);
        QVERIFY(h > 0);
    }
};

QTEST_MAIN(TestScope)
#include "test_scope.moc"
