#ifndef ZAUDIO_H
#define ZAUDIO_H

#include <complex>
#include <liquid/liquid.h>

#include <QObject>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <pthread.h>
#include <vector>

class QTimer;
struct zaudio_pcm_t;

// Continuous capture of the receiver audio ("mixcapture") on a thread of its
// own, turned into an audio spectrum and scope snapshots for the GUI.
//
// Hand-over: the capture thread writes the published spectrum (and the scope
// ring) only while its ready flag is clear and then sets it (release); the
// GUI thread reads only while the flag is set (acquire) and clears it
// (release) when done. Each buffer thus has one owner at a time; no lock.
struct zaudio_t {
    static constexpr uint32_t kScopeSize = 800;
    static constexpr size_t kAccLimit = 10240;

    // block: frames per block; fft_size: FFT points. Opens "mixplayback" and
    // "mixcapture"; the capture thread is started by the owner.
    zaudio_t(uint32_t block, uint32_t fft_size);
    ~zaudio_t();
    zaudio_t(const zaudio_t &) = delete;
    zaudio_t &operator=(const zaudio_t &) = delete;

    static void *thread_capture(void *arg);

    // Takes frames read from the device (interleaved stereo int16): a full
    // block feeds the scope ring and the spectrum, surplus is dropped.
    void push_frames(const void *data, size_t frames);
    void do_fft();

    std::atomic<bool> stop{false};
    pthread_t capture_thread{};
    bool capture_started = false;
    pthread_t play_thread{};
    bool play_started = false;

    zaudio_pcm_t *playback = nullptr;
    zaudio_pcm_t *capture = nullptr;
    std::vector<uint8_t> acc;

    uint32_t block;
    std::vector<float> left;
    std::vector<float> right;

    std::vector<float> scope;
    uint32_t scope_idx = 0;
    std::atomic<bool> scope_ready{false};

    uint32_t fft_size;
    std::vector<std::complex<float>> fft_ring;
    uint32_t fft_idx = 0;
    std::vector<std::complex<float>> window;
    std::vector<std::complex<float>> fft_in;
    std::vector<std::complex<float>> fft_out;
    std::vector<float> mag;
    std::vector<float> published;
    std::atomic<bool> fft_ready{false};
    bool log_scale = true;
    float floor_db = -100.0f;
    fftplan plan = nullptr;

    uint32_t err_count = 0;
    std::atomic<bool> capture_dead{false};
};

class ZAudio : public QObject
{
    Q_OBJECT

public:
    explicit ZAudio(QObject *parent = nullptr);
    ~ZAudio() override;

    static int instances();
    zaudio_t *worker() const { return m_audio; }

signals:
    void sig_fftReady(float *mag, int32_t len);
    void sig_samReady(float *ptr, int32_t len);
    void sig_pcmInputReady(QVector<short> pcm);
    void sig_pcmFatalError(int32_t err);

public slots:
    void slot_timeOut();

private:
    QTimer *m_timer = nullptr;
    bool m_fatalReported = false;
    zaudio_t *m_audio = nullptr;
};

#endif
