// Audio: the ALSA stream wrapper, the sound card stand-in (plugin and peer)
// and the receive-audio capture with its spectrum, scope and dead-device
// report. Runs against the project's ALSA configuration (ALSA_CONFIG_PATH,
// set by CTest) under a temporary system root, with zr_simaudio as the peer.
#include "ui/mainwidget.h"
#include "tests/test_support.h"
#include "audio/zaudio.h"
#include "audio/zaudiopcm.h"
#include "sim/alsa/zsimaudio.h"
#include "sim/alsa/zsimaudio_proto.h"
#include "app/zsystem.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using ztest::clearLog;

bool logged(const QString &needle)
{
    return ztest::logContains(needle);
}

std::vector<int16_t> tone(double hz, double amplitude, size_t frames)
{
    std::vector<int16_t> v(2 * frames);
    for (size_t i = 0; i < frames; i++)
        v[2 * i] = v[2 * i + 1] = int16_t(std::lrint(amplitude * std::cos(2 * M_PI * hz * double(i) / 16000.0)));
    return v;
}

// Frames carrying a running count 1, 2, 3 ... on the left channel and its
// negation on the right, so order, gaps and channel swaps all show.
std::vector<int16_t> counting(size_t frames)
{
    std::vector<int16_t> v(2 * frames);
    for (size_t i = 0; i < frames; i++) {
        v[2 * i] = int16_t(i % 30000 + 1);
        v[2 * i + 1] = int16_t(-v[2 * i]);
    }
    return v;
}

// Checks that the non-silent frames of a capture are the counting sequence,
// in order and without a frame lost in between; returns how many came.
int countingRun(const std::vector<int16_t> &got, QString *why)
{
    int expect = 0, n = 0;
    for (size_t i = 0; i + 1 < got.size(); i += 2) {
        if (got[i] == 0 && got[i + 1] == 0)
            continue;
        if (got[i + 1] != -got[i]) {
            *why = QStringLiteral("channels differ at frame %1").arg(i / 2);
            return -1;
        }
        if (expect && got[i] != expect) {
            *why = QStringLiteral("sequence jumps from %1 to %2").arg(expect - 1).arg(got[i]);
            return -1;
        }
        expect = got[i] + 1;
        n++;
    }
    return n;
}

} // namespace

class TestAudio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pcmWrapperConfiguresFromGrant();
    void pcmWrapperMissingDevice();
    void devicesRunInRealTimeWithoutPeer();
    void captureCarriesPeerAudioInOrder();
    void playbackReachesPeer();
    void exchangeSurvivesGarbage();
    void blocksSpectrumAndScope();
    void toneShowsInSpectrum();
    void failingDeviceReportsOnce();
    void mainWindowOwnsAudio();

private:
    QTemporaryDir m_root;
    zsimaudio_t *m_peer = nullptr;
};

void TestAudio::initTestCase()
{
    QVERIFY2(qEnvironmentVariable("ALSA_CONFIG_PATH").contains(QLatin1String("zr450-alsa.conf")),
             "ALSA_CONFIG_PATH must name the generated zr450-alsa.conf (set by CTest)");
    QVERIFY(m_root.isValid());
    qRegisterMetaType<int32_t>("int32_t");
    ztest::setSysroot(m_root.path());
    ztest::installLogCapture();
}

void TestAudio::init()
{
    clearLog();
}

void TestAudio::cleanup()
{
    zsimaudio_destroy(m_peer);
    m_peer = nullptr;
}

void TestAudio::pcmWrapperConfiguresFromGrant()
{
    // The stand-in offers one period size (1024 frames), so the wrapper's
    // request of 4096 is rounded and the buffer sized from the grant.
    zaudio_pcm_t cap("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(cap.handle);
    QCOMPARE(cap.rate, 16000u);
    QCOMPARE(cap.period_frames, snd_pcm_uframes_t(1024));
    QCOMPARE(cap.period_reported, snd_pcm_uframes_t(1024));
    QCOMPARE(cap.buffer_bytes, size_t(4096));
    QVERIFY(cap.buffer);
    QVERIFY(logged(QStringLiteral("Warning,desired period_size=4096,actual period_size=1024,dir=0")));
    QVERIFY(logged(QStringLiteral("created")));

    // A rate the device does not offer: warned about, the granted one kept.
    zaudio_pcm_t play("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, 48000, 2, 256, 0);
    QVERIFY(play.handle);
    QCOMPARE(play.rate, 16000u);
    QVERIFY(logged(QStringLiteral("Warning!Rate doesn't match (requested 48000Hz, get 16000Hz)")));
    QCOMPARE(play.buffer_bytes, size_t(2 * play.period_reported * 2));

    // A format it does not offer leaves the stream unconfigured.
    clearLog();
    zaudio_pcm_t bad("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_FLOAT_LE, 16000, 2, 1024, 0);
    QVERIFY(bad.handle);
    QVERIFY(!bad.buffer);
    QCOMPARE(bad.buffer_bytes, size_t(0));
    QVERIFY(logged(QStringLiteral("cannot set format for device (mixplayback)")));
    QVERIFY(logged(QStringLiteral("cannot create")));
}

void TestAudio::pcmWrapperMissingDevice()
{
    {
        zaudio_pcm_t pcm("zr450_no_such_device", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
        QVERIFY(!pcm.handle);
        QVERIFY(!pcm.buffer);
        QCOMPARE(QString::fromLatin1(pcm.name), QStringLiteral("zr450_no_such_device"));
        QVERIFY(logged(QStringLiteral("cannot open device (zr450_no_such_device), ")));
        QCOMPARE(zaudio_pcm_t::xrun_recover(pcm.handle, -EPIPE), 0);
    }
    QVERIFY(logged(QStringLiteral("destroyed")));
}

void TestAudio::devicesRunInRealTimeWithoutPeer()
{
    zaudio_pcm_t cap("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(cap.handle && cap.buffer);
    QElapsedTimer t;
    t.start();
    snd_pcm_sframes_t total = 0;
    bool silent = true;
    while (total < 16000) {
        const snd_pcm_sframes_t n = snd_pcm_readi(cap.handle, cap.buffer, cap.period_reported);
        QVERIFY2(n > 0, snd_strerror(int(n)));
        for (snd_pcm_sframes_t i = 0; i < 2 * n; i++)
            silent = silent && cap.buffer[i] == 0;
        total += n;
    }
    const qint64 captureMs = t.elapsed();
    QVERIFY2(captureMs > 500 && captureMs < 5000, qPrintable(QString::number(captureMs)));
    QVERIFY(silent);

    // One second of playback with nobody listening still takes its time
    // (less the buffer the first writes fill at once).
    zaudio_pcm_t play("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(play.handle && play.buffer);
    t.restart();
    total = 0;
    while (total < 16000) {
        const snd_pcm_sframes_t n = snd_pcm_writei(play.handle, play.buffer, play.period_reported);
        QVERIFY2(n > 0, snd_strerror(int(n)));
        total += n;
    }
    snd_pcm_drain(play.handle);
    const qint64 playMs = t.elapsed();
    QVERIFY2(playMs > 500 && playMs < 5000, qPrintable(QString::number(playMs)));
}

void TestAudio::captureCarriesPeerAudioInOrder()
{
    m_peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(m_peer);
    zaudio_pcm_t cap("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(cap.handle && cap.buffer);
    QVERIFY(zsimaudio_wait_clients(m_peer, ZSIMAUDIO_CAPTURE, 1, 2000));
    QCOMPARE(snd_pcm_start(cap.handle), 0);

    // A burst of half a second is handed out in real time, all of it, in order.
    const std::vector<int16_t> seq = counting(8000);
    QCOMPARE(zsimaudio_write_capture(m_peer, seq.data(), 8000), size_t(8000));
    std::vector<int16_t> got;
    QElapsedTimer t;
    t.start();
    while (got.size() < 2 * 16000) {
        const snd_pcm_sframes_t n = snd_pcm_readi(cap.handle, cap.buffer, cap.period_reported);
        QVERIFY2(n > 0, snd_strerror(int(n)));
        got.insert(got.end(), cap.buffer, cap.buffer + 2 * n);
    }
    QVERIFY(t.elapsed() > 500);
    QString why;
    const int n = countingRun(got, &why);
    QVERIFY2(n >= 0, qPrintable(why));
    QCOMPARE(n, 8000);
    QCOMPARE(zsimaudio_capture_queued(m_peer), size_t(0));

    // Writes beyond the peer's queue are refused, not buffered without end.
    std::vector<int16_t> big(2 * (ZSIMAUDIO_MAX_QUEUED + 100));
    QVERIFY(zsimaudio_write_capture(m_peer, big.data(), ZSIMAUDIO_MAX_QUEUED + 100) <= ZSIMAUDIO_MAX_QUEUED);
}

void TestAudio::playbackReachesPeer()
{
    m_peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(m_peer);
    zaudio_pcm_t play("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(play.handle);
    QVERIFY(zsimaudio_wait_clients(m_peer, ZSIMAUDIO_PLAYBACK, 1, 2000));

    const std::vector<int16_t> seq = counting(8000);
    QElapsedTimer t;
    t.start();
    snd_pcm_sframes_t done = 0;
    while (done < 8000) {
        const snd_pcm_sframes_t n = snd_pcm_writei(play.handle, seq.data() + 2 * done, 8000 - done);
        QVERIFY2(n > 0, snd_strerror(int(n)));
        done += n;
    }
    QCOMPARE(snd_pcm_drain(play.handle), 0);
    QVERIFY(t.elapsed() > 250);

    std::vector<int16_t> got, buf(2 * 4096);
    for (int i = 0; i < 50 && got.size() < 2 * 8000; i++) {
        const size_t n = zsimaudio_read_playback(m_peer, buf.data(), 4096, 100);
        got.insert(got.end(), buf.begin(), buf.begin() + std::ptrdiff_t(2 * n));
    }
    QString why;
    const int n = countingRun(got, &why);
    QVERIFY2(n >= 0, qPrintable(why));
    QCOMPARE(n, 8000);
}

namespace {

// Random packets, about half of them with a plausible header.
QByteArray garbage(std::mt19937 &rng)
{
    QByteArray b(int(rng() % (ZSA_MAX_MSG_BYTES + 300)), Qt::Uninitialized);
    for (char &c : b)
        c = char(rng());
    if (b.size() >= int(ZSA_HEADER_BYTES) && rng() % 2) {
        const uint32_t kinds[] = {ZSA_MSG_AUDIO, ZSA_MSG_AUDIO, ZSA_MSG_FAULT, 0, 77};
        const zsa_header_t h = {kinds[rng() % 5], uint32_t(rng() % 3 ? rng() % 2048 : rng())};
        memcpy(b.data(), &h, sizeof h);
    }
    return b;
}

} // namespace

void TestAudio::exchangeSurvivesGarbage()
{
    std::mt19937 rng(20240611);

    // A peer that sends nonsense to a running capture stream: the stream
    // copes (fails at worst, as with a fault), and heals when told to.
    QVERIFY(QDir().mkpath(m_root.path() + QStringLiteral("/run")));
    const QString capPath = m_root.path() + QStringLiteral(ZSA_CAPTURE_SOCKET);
    QFile::remove(capPath);
    const int srv = ztest::unixSocket(capPath, SOCK_SEQPACKET, true);
    QVERIFY(srv >= 0);
    {
        zaudio_pcm_t cap("mixcapture", SND_PCM_STREAM_CAPTURE, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
        QVERIFY(cap.handle && cap.buffer);
        pollfd pfd{srv, POLLIN, 0};
        QVERIFY(poll(&pfd, 1, 2000) == 1);
        const int conn = accept(srv, nullptr, nullptr);
        QVERIFY(conn >= 0);
        snd_pcm_nonblock(cap.handle, 1);
        snd_pcm_start(cap.handle);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 600 && t.elapsed() < 4000; i++) {
            const QByteArray b = garbage(rng);
            (void)!send(conn, b.constData(), size_t(b.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (i % 10 == 0) {
                const snd_pcm_sframes_t n = snd_pcm_readi(cap.handle, cap.buffer, 256);
                if (n < 0 && n != -EAGAIN) {
                    snd_pcm_prepare(cap.handle);
                    snd_pcm_start(cap.handle);
                }
                QTest::qWait(1);
            }
        }
        const zsa_header_t heal = {ZSA_MSG_FAULT, 0};
        QVERIFY(send(conn, &heal, sizeof heal, MSG_NOSIGNAL) == sizeof heal);
        QTest::qWait(20);
        snd_pcm_drop(cap.handle);
        QCOMPARE(snd_pcm_prepare(cap.handle), 0);
        snd_pcm_nonblock(cap.handle, 0);
        QCOMPARE(snd_pcm_readi(cap.handle, cap.buffer, 1024), snd_pcm_sframes_t(1024));
        close(conn);
    }
    close(srv);
    QFile::remove(capPath);

    // A playback stream that sends nonsense to the peer: what reaches the
    // reader stays bounded and the peer keeps serving.
    m_peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(m_peer);
    const int cli = ztest::unixSocket(m_root.path() + QStringLiteral(ZSA_PLAYBACK_SOCKET), SOCK_SEQPACKET, false);
    QVERIFY(cli >= 0);
    for (int i = 0; i < 600; i++) {
        const QByteArray b = garbage(rng);
        (void)!send(cli, b.constData(), size_t(b.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    std::vector<int16_t> buf(2 * 4096);
    size_t total = 0, n;
    while ((n = zsimaudio_read_playback(m_peer, buf.data(), 4096, 200)) > 0)
        total += n;
    QVERIFY(total <= ZSIMAUDIO_MAX_QUEUED);
    close(cli);
    QTRY_COMPARE(zsimaudio_clients(m_peer, ZSIMAUDIO_PLAYBACK), 0);

    zaudio_pcm_t play("mixplayback", SND_PCM_STREAM_PLAYBACK, SND_PCM_FORMAT_S16_LE, 16000, 2, 1024, 0);
    QVERIFY(zsimaudio_wait_clients(m_peer, ZSIMAUDIO_PLAYBACK, 1, 2000));
    const std::vector<int16_t> seq = counting(2048);
    QCOMPARE(snd_pcm_writei(play.handle, seq.data(), 2048), snd_pcm_sframes_t(2048));
    QCOMPARE(snd_pcm_drain(play.handle), 0);
    std::vector<int16_t> got;
    while ((n = zsimaudio_read_playback(m_peer, buf.data(), 4096, 200)) > 0)
        got.insert(got.end(), buf.begin(), buf.begin() + std::ptrdiff_t(2 * n));
    QString why;
    QCOMPARE(countingRun(got, &why), 2048);
}

void TestAudio::blocksSpectrumAndScope()
{
    // The worker alone, fed by hand (no capture thread).
    zaudio_t a(1024, 1024);

    // Less than a block: nothing yet. The rest completes it; a read of more
    // than a block yields one block, the surplus is dropped.
    const std::vector<int16_t> t1 = tone(1000.0, 16384.0, 1500);
    a.push_frames(t1.data(), 500);
    QVERIFY(!a.fft_ready.load());
    QCOMPARE(a.acc.size(), size_t(500 * 4));
    a.push_frames(t1.data() + 2 * 500, 1000);
    QVERIFY(a.fft_ready.load());
    QVERIFY(a.acc.empty());
    QCOMPARE(a.left[0], float(t1[0]) / 65536.0f);
    QCOMPARE(a.right[1023], float(t1[2 * 1023 + 1]) / 65536.0f);

    // The scope ring took the first 800 left samples and then stopped.
    QVERIFY(a.scope_ready.load());
    QCOMPARE(a.scope[0], a.left[0]);
    QCOMPARE(a.scope[799], a.left[799]);

    const int peak = int(std::max_element(a.published.begin(), a.published.begin() + 512) - a.published.begin());
    QCOMPARE(peak, 64); // 1000 Hz / 15.625 Hz per bin
    const float first = a.published[64];

    // A second spectrum before the publisher took the first is dropped.
    const std::vector<int16_t> silence(2 * 1024, 0);
    a.push_frames(silence.data(), 1024);
    QCOMPARE(a.published[64], first);
    QCOMPARE(a.mag[64], -100.0f); // and zero magnitude shows as -100 dB

    a.fft_ready.store(false);
    a.push_frames(silence.data(), 1024);
    QVERIFY(a.fft_ready.load());
    for (int k = 0; k < 512; k++)
        QCOMPARE(a.published[k], -100.0f);
}

void TestAudio::toneShowsInSpectrum()
{
    m_peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(m_peer);
    ZAudio audio;
    QVERIFY(zsimaudio_wait_clients(m_peer, ZSIMAUDIO_CAPTURE, 1, 2000));

    QVector<QVector<float>> spectra;
    QVector<float> scope;
    connect(&audio, &ZAudio::sig_fftReady, this, [&](float *mag, int32_t len) {
        spectra << QVector<float>(mag, mag + len);
    });
    connect(&audio, &ZAudio::sig_samReady, this, [&](float *p, int32_t len) { scope = QVector<float>(p, p + len); });

    // 1000 Hz at a quarter of full scale (the capture scales by 2^-16, so
    // 0.25 before the window): bin 64, at 20 log10(0.25 / 2 * sum(window)).
    const double amplitude = 16384.0;
    const std::vector<int16_t> t = tone(1000.0, amplitude, 2 * 16000);
    QCOMPARE(zsimaudio_write_capture(m_peer, t.data(), 2 * 16000), size_t(2 * 16000));
    QTest::qWait(1500);
    QVERIFY2(spectra.size() >= 8, qPrintable(QString::number(spectra.size())));

    double wsum = 0;
    for (unsigned i = 0; i < 1024; i++)
        wsum += hamming(i, 1024);
    const double expected = 20.0 * std::log10(amplitude / 65536.0 / 2.0 * wsum);

    const QVector<float> &last = spectra.last();
    QCOMPARE(last.size(), 512);
    const int peak = int(std::max_element(last.begin(), last.end()) - last.begin());
    QCOMPARE(peak, 64);
    float best = -1000;
    for (int i = spectra.size() - 6; i < spectra.size(); i++)
        best = std::max(best, spectra[i][64]);
    QVERIFY2(std::fabs(best - expected) < 1.0, qPrintable(QStringLiteral("%1 dB, expected %2").arg(best).arg(expected)));
    QVERIFY(last[64] - last[200] > 40.0f);

    QCOMPARE(scope.size(), 800);
    const float top = *std::max_element(scope.begin(), scope.end());
    QVERIFY2(std::fabs(top - 0.25f) < 0.01f, qPrintable(QString::number(top)));
}

void TestAudio::failingDeviceReportsOnce()
{
    m_peer = zsimaudio_create(m_root.path().toLocal8Bit().constData());
    QVERIFY(m_peer);
    auto *audio = new ZAudio;
    QCOMPARE(ZAudio::instances(), 1);
    QSignalSpy fatal(audio, &ZAudio::sig_pcmFatalError);
    QVERIFY(zsimaudio_wait_clients(m_peer, ZSIMAUDIO_CAPTURE, 1, 2000));
    QTest::qWait(200);
    QCOMPARE(fatal.count(), 0);

    zsimaudio_set_fault(m_peer, ZSIMAUDIO_CAPTURE, EIO);
    QVERIFY(fatal.wait(5000));
    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.at(0).at(0).toInt(), 0);
    QVERIFY(logged(QStringLiteral("Warning: PCM capture is dead, app is going to reset...")));
    QVERIFY(logged(QStringLiteral("pcm capture error")));

    // The loop keeps trying; the report is not repeated.
    QTest::qWait(1200);
    QCOMPARE(fatal.count(), 1);

    QElapsedTimer t;
    t.start();
    delete audio;
    QVERIFY2(t.elapsed() < 1010 + 200, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(ZAudio::instances(), 0);
    QVERIFY(logged(QStringLiteral("capture thread joined.")));
}

void TestAudio::mainWindowOwnsAudio()
{
    // A window closed before its delayed stage creates no audio.
    {
        MainWidget w;
    }
    QCoreApplication::processEvents();
    QVERIFY(!logged(QStringLiteral("Create audio instance")));
    QCOMPARE(ZAudio::instances(), 0);

    {
        MainWidget w;
        w.slot_delayInitProcess();
        QVERIFY(logged(QStringLiteral("Create audio instance")));
        QVERIFY(logged(QStringLiteral("init ok.")));
        QCOMPARE(ZAudio::instances(), 1);
        QTest::qWait(200);
    }
    // Outside an event loop the window deletes the capture at once (a
    // deferred delete would never run after the loop has ended).
    QCOMPARE(ZAudio::instances(), 0);
    QVERIFY(logged(QStringLiteral("capture thread exited.")));
}

QTEST_MAIN(TestAudio)
#include "test_audio.moc"
