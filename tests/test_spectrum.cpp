// Spectrum analysis: bin order and levels of known tones, averaging and peak
// smoothing, the DC blocker, the peak search band and decimation, the
// ready hand-over between threads, and bad samples.
#include "spectrum/sacalc.h"
#include "tests/test_support.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

typedef std::complex<float> cf;

static const uint32_t N = 512;
static const float FS = 100000.0f;

// A block of a complex tone at bin k (negative k turns clockwise), amplitude a.
static std::vector<cf> tone(double k, float a, uint32_t n = N, uint32_t start = 0)
{
    std::vector<cf> x(n);
    for (uint32_t i = 0; i < n; ++i)
        x[i] = std::polar(a, float(2.0 * M_PI * k * (start + i) / N));
    return x;
}

// Feeds one block and collects the spectrum it makes.
static std::vector<float> spectrumOf(sacalc_t *q, const std::vector<cf> &x, float *peak = nullptr)
{
    std::vector<float> s(N);
    uint32_t count = 0;
    sacalc_run(q, x.data(), uint32_t(x.size()));
    float p = 0;
    if (!sacalc_get_spectrum(q, s.data(), &count, &p))
        return {};
    if (peak)
        *peak = p;
    return s;
}

static int argmax(const std::vector<float> &s)
{
    return int(std::max_element(s.begin(), s.end()) - s.begin());
}

// Level of a bin-centred tone of amplitude a with magnitude average avg:
// |X| = a * sum(hann) = a * (N - 1) / 2, shown as 20 log10(|X| / 2N).
static float toneLevel(float a, float avgFraction = 1.0f)
{
    return 20.0f * std::log10(avgFraction * a * (N - 1) / 2.0f / (2.0f * N));
}

class TestSpectrum : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }

    void createRejectsBadArguments()
    {
        QVERIFY(!sacalc_create(0, FS));
        QVERIFY(!sacalc_create(511, FS));
        QVERIFY(!sacalc_create(N, 0.0f));
        QVERIFY(!sacalc_create(N, NAN));
        sacalc_t *q = sacalc_create(N, FS);
        QVERIFY(q);
        QCOMPARE(sacalc_get_length(q), N);
        QCOMPARE(sacalc_is_ready(q), 0);
        QCOMPARE(sacalc_get_smoothed_peak(q), SACALC_FLOOR_DB);
        // Nothing to collect yet: the output stays untouched.
        float out = 1.0f, peak = 2.0f;
        uint32_t count = 3;
        QCOMPARE(sacalc_get_spectrum(q, &out, &count, &peak), 0);
        QCOMPARE(out, 1.0f);
        QCOMPARE(count, 3u);
        sacalc_destroy(q);
        sacalc_destroy(nullptr);
    }

    // Display order: bin N/2 down to 1, then N-1 down to N/2+1; the last
    // entry is the floor. A clockwise tone (above the carrier for this
    // board) lands right of the centre.
    void binOrderAndToneLevel_data()
    {
        QTest::addColumn<double>("bin");
        QTest::addColumn<int>("index");
        QTest::newRow("+20") << 20.0 << 236;
        QTest::newRow("-20") << -20.0 << 275;
        QTest::newRow("+1") << 1.0 << 255;
        QTest::newRow("-1") << -1.0 << 256;
        QTest::newRow("+255") << 255.0 << 1;
        QTest::newRow("-255") << -255.0 << 510;
        QTest::newRow("nyquist") << 256.0 << 0;
    }
    void binOrderAndToneLevel()
    {
        QFETCH(double, bin);
        QFETCH(int, index);
        sacalc_t *q = sacalc_create(N, FS);
        const float a = 0.01f;
        // Averaging 0.5 from 0: the first spectrum shows half the magnitude,
        // then the average closes in on the full level.
        // Next to DC the blocker takes its share; the levels are checked
        // where it passes the tone whole.
        const bool nearDc = std::fabs(bin) < 5.0;
        std::vector<float> s = spectrumOf(q, tone(bin, a));
        QCOMPARE(argmax(s), index);
        if (!nearDc)
            QVERIFY2(std::fabs(s[index] - toneLevel(a, 0.5f)) < 0.2f, qPrintable(QString::number(s[index])));
        for (int i = 1; i < 30; ++i)
            s = spectrumOf(q, tone(bin, a, N, i * N));
        QCOMPARE(argmax(s), index);
        if (!nearDc)
            QVERIFY2(std::fabs(s[index] - toneLevel(a)) < 0.2f, qPrintable(QString::number(s[index])));
        QCOMPARE(s[N - 1], SACALC_FLOOR_DB);
        sacalc_destroy(q);
    }

    void dcIsRemoved()
    {
        sacalc_t *q = sacalc_create(N, FS);
        std::vector<cf> dc(N, cf(1.0f, -0.5f));
        std::vector<float> s;
        for (int i = 0; i < 30; ++i)
            s = spectrumOf(q, dc);
        for (uint32_t j = 0; j < N; ++j)
            QVERIFY2(s[j] < -100.0f, qPrintable(QString("bin %1: %2").arg(j).arg(s[j])));
        // A tone next to DC passes.
        for (int i = 0; i < 10; ++i)
            s = spectrumOf(q, tone(-3.0, 0.01f, N, i * N));
        QCOMPARE(argmax(s), 258);
        QVERIFY(s[258] > toneLevel(0.01f) - 1.0f);
        sacalc_destroy(q);
    }

    // avg = a|X| + (1 - a) avg: a larger coefficient follows faster.
    void averagingCoefficient()
    {
        sacalc_t *fast = sacalc_create(N, FS);
        sacalc_t *slow = sacalc_create(N, FS);
        sacalc_set_average(fast, 0.8f - 0.05f * 0);
        sacalc_set_average(slow, 0.8f - 0.05f * 10);
        const std::vector<cf> x = tone(-10.0, 0.01f);
        const std::vector<float> f = spectrumOf(fast, x);
        const std::vector<float> s = spectrumOf(slow, x);
        QVERIFY(std::fabs(f[265] - toneLevel(0.01f, 0.8f)) < 0.2f);
        QVERIFY(std::fabs(s[265] - toneLevel(0.01f, 0.3f)) < 0.2f);
        sacalc_destroy(fast);
        sacalc_destroy(slow);
    }

    // The smoothed peak moves 35 % of the way to each new peak.
    void peakSmoothing()
    {
        sacalc_t *q = sacalc_create(N, FS);
        sacalc_set_average(q, 1.0f); // every spectrum shows the tone fully
        float smoothed = SACALC_FLOOR_DB;
        const float target = toneLevel(0.05f);
        for (int i = 0; i < 12; ++i) {
            float collected = 0;
            spectrumOf(q, tone(-10.0, 0.05f, N, i * N), &collected);
            const float peak = sacalc_get_peak(q);
            QVERIFY(std::fabs(peak - target) < 0.2f);
            smoothed = 0.35f * peak + 0.65f * smoothed;
            QVERIFY(std::fabs(collected - smoothed) < 1e-3f);
        }
        // First step: -145 + 0.35 * (level + 145).
        sacalc_t *r = sacalc_create(N, FS);
        sacalc_set_average(r, 1.0f);
        float first = 0;
        spectrumOf(r, tone(-10.0, 0.05f), &first);
        QVERIFY(std::fabs(first - (-145.0f + 0.35f * (target + 145.0f))) < 0.1f);
        sacalc_destroy(r);
        sacalc_destroy(q);
    }

    // The search band (Hz from the carrier) maps to spectrum indices
    // N/2 + N*f/(fs/factor); the peak only looks there.
    void peakSearchFollowsBorderAndDecimation()
    {
        sacalc_t *q = sacalc_create(N, FS);
        sacalc_set_average(q, 1.0f);
        int32_t first = 0, last = 0;
        ztest::clearLog();
        // Default band 300..3000 Hz: a tone 1000 Hz above the carrier
        // (index 261) is found, one below it (index 251) is not.
        spectrumOf(q, tone(-1000.0 * N / FS, 0.05f));
        sacalc_get_search_bins(q, &first, &last);
        QCOMPARE(first, 257);
        QCOMPARE(last, 271);
        QVERIFY(sacalc_get_peak(q) > toneLevel(0.05f) - 2.0f);
        QVERIFY(ztest::logContains("[DBG] S-Meter search border [257, 271], bw [ 300, 3000], fs: 100000, fft_len: 512"));
        for (int i = 0; i < 3; ++i)
            spectrumOf(q, tone(1000.0 * N / FS, 0.05f, N, i * N));
        QVERIFY(sacalc_get_peak(q) < toneLevel(0.05f) - 40.0f);

        // Lower side band: the border mirrors and the tone below is found.
        sacalc_set_peaksrch_border(q, -3000.0f, -300.0f, FS);
        spectrumOf(q, tone(1000.0 * N / FS, 0.05f));
        sacalc_get_search_bins(q, &first, &last);
        QCOMPARE(first, 240);
        QCOMPARE(last, 254);
        QVERIFY(sacalc_get_peak(q) > toneLevel(0.05f) - 2.0f);

        // Decimation by 4: 25 kHz across the spectrum, bins four times as
        // narrow. A tone 1000 Hz up now sits 20.5 bins from the centre.
        sacalc_set_peaksrch_border(q, 300.0f, 3000.0f, FS);
        sacalc_set_dec_factor(q, 4);
        spectrumOf(q, tone(-1000.0 * N / 25000.0, 0.05f));
        sacalc_get_search_bins(q, &first, &last);
        QCOMPARE(first, 262);
        QCOMPARE(last, 317);
        const std::vector<float> s = spectrumOf(q, tone(-1000.0 * N / 25000.0, 0.05f, N, N));
        QCOMPARE(argmax(s), 275);
        QVERIFY(sacalc_get_peak(q) > toneLevel(0.05f) - 2.0f);
        sacalc_set_dec_factor(q, 0); // ignored
        spectrumOf(q, tone(0.0, 0.0f));
        sacalc_get_search_bins(q, &first, &last);
        QCOMPARE(first, 262);
        sacalc_destroy(q);
    }

    // A band reaching outside the spectrum leaves both peaks as they were.
    void borderOutsideSpectrum_data()
    {
        QTest::addColumn<float>("low");
        QTest::addColumn<float>("high");
        QTest::newRow("above") << 300.0f << 60000.0f;
        QTest::newRow("below") << -60000.0f << -300.0f;
        QTest::newRow("reversed") << 3000.0f << 300.0f;
        QTest::newRow("far off") << -1e30f << 1e30f;
    }
    void borderOutsideSpectrum()
    {
        QFETCH(float, low);
        QFETCH(float, high);
        sacalc_t *q = sacalc_create(N, FS);
        sacalc_set_average(q, 1.0f);
        float smoothed = 0;
        spectrumOf(q, tone(-10.0, 0.05f), &smoothed);
        const float peak = sacalc_get_peak(q);
        sacalc_set_peaksrch_border(q, low, high, FS);
        float after = 0;
        spectrumOf(q, tone(-100.0, 0.5f, N, N), &after);
        QCOMPARE(sacalc_get_peak(q), peak);
        QCOMPARE(after, smoothed);
        sacalc_destroy(q);
    }

    // Only the first N samples of a call count; input is dropped while a
    // spectrum waits.
    void inputHandling()
    {
        sacalc_t *q = sacalc_create(N, FS);
        sacalc_set_average(q, 1.0f);
        std::vector<cf> x = tone(-10.0, 0.05f);
        const std::vector<cf> y = tone(-40.0, 0.05f);
        x.insert(x.end(), y.begin(), y.end());
        std::vector<float> s = spectrumOf(q, x);
        QCOMPARE(argmax(s), 265);
        QVERIFY(s[295] < s[265] - 40.0f);

        // Not collected: the next block is dropped.
        sacalc_run(q, tone(-10.0, 0.05f).data(), N);
        QVERIFY(sacalc_is_ready(q));
        sacalc_run(q, y.data(), N);
        s.assign(N, 0.0f);
        uint32_t count = 0;
        QCOMPARE(sacalc_get_spectrum(q, s.data(), &count, nullptr), 1);
        QCOMPARE(count, N);
        QCOMPARE(argmax(s), 265);
        QCOMPARE(sacalc_get_spectrum(q, s.data(), &count, nullptr), 0);

        // Short calls fill one block between them.
        const std::vector<cf> t = tone(-40.0, 0.05f);
        sacalc_run(q, t.data(), 200);
        QVERIFY(!sacalc_is_ready(q));
        sacalc_run(q, t.data() + 200, N - 200);
        QVERIFY(sacalc_is_ready(q));
        QCOMPARE(sacalc_get_spectrum(q, s.data(), &count, nullptr), 1);
        QCOMPARE(argmax(s), 295);

        sacalc_run(q, nullptr, N);
        sacalc_run(nullptr, t.data(), N);
        sacalc_destroy(q);
    }

    // Not-a-number, infinite and huge samples must not poison the DC
    // blocker or the averages.
    void badSamples()
    {
        sacalc_t *q = sacalc_create(N, FS);
        std::vector<cf> bad(N);
        for (uint32_t i = 0; i < N; ++i)
            bad[i] = (i % 3 == 0) ? cf(NAN, 1.0f) : (i % 3 == 1) ? cf(INFINITY, -INFINITY) : cf(3e38f, -3e38f);
        std::vector<float> s = spectrumOf(q, bad);
        for (float v : s)
            QVERIFY(std::isfinite(v));
        for (int i = 0; i < 40; ++i)
            s = spectrumOf(q, tone(-10.0, 0.05f, N, i * N));
        for (float v : s)
            QVERIFY(std::isfinite(v));
        QCOMPARE(argmax(s), 265);
        QVERIFY(std::fabs(s[265] - toneLevel(0.05f)) < 0.5f);
        QVERIFY(std::isfinite(sacalc_get_smoothed_peak(q)));
        sacalc_destroy(q);
    }

    // One thread produces, another collects: every collected spectrum is
    // one whole block (with averaging off, one of the two tones, never a mix).
    void handOverBetweenThreads()
    {
        sacalc_t *q = sacalc_create(N, FS);
        sacalc_set_average(q, 1.0f);
        const std::vector<cf> a = tone(-10.0, 0.05f);
        const std::vector<cf> b = tone(-60.0, 0.05f);
        std::atomic<bool> done{false};
        std::thread producer([&]() {
            for (int i = 0; i < 4000; ++i) {
                sacalc_run(q, (i & 1 ? b : a).data(), N);
                // Changing settings from the consumer side must be safe too.
                if (i % 500 == 0)
                    sacalc_set_dec_factor(q, 1);
            }
            done = true;
        });
        // A failed check returns early: the producer is still joined.
        ztest::Joiner joiner(producer);
        std::vector<float> s(N);
        uint32_t count = 0;
        int collected = 0;
        while (!done || sacalc_is_ready(q)) {
            if (sacalc_get_spectrum(q, s.data(), &count, nullptr)) {
                ++collected;
                const bool isA = s[265] > -40.0f && s[315] < -60.0f;
                const bool isB = s[315] > -40.0f && s[265] < -60.0f;
                QVERIFY(isA || isB);
            }
            sacalc_set_peaksrch_border(q, 300.0f, 3000.0f, FS);
        }
        producer.join();
        QVERIFY(collected > 0);
        sacalc_destroy(q);
    }
};

QTEST_GUILESS_MAIN(TestSpectrum)
#include "test_spectrum.moc"
