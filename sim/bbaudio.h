#ifndef BBAUDIO_H
#define BBAUDIO_H

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BbBoard;
class BbStations;
struct zsimaudio_t;

// The radio's sound card and CW key line as the simulator plays them:
//
// - Receiver audio: the peer of the sound-card stand-in (zr_simaudio) on
//   $SYSROOT/run/mixcapture.sock is kept about 200 ms ahead with the audio
//   of the stations (bbstations.h) that the front VFO's pass band covers,
//   over a little noise; silence while the board transmits or the key is down.
//   While the register block asks for the voice-recording source, the
//   microphone's known signal instead (bbmic.h).
// - Transmit audio: what the application plays on "mixplayback" is read and
//   measured.
// - Key line: $SYSROOT/dev/gpiochip0 is a FIFO that the Morse sender's
//   stand-in writes ("<t_ns> <offset> <level>" lines, see morsesender.h);
//   its key-down and key-up times are measured.
//
// Control commands (answered through the simulator's control socket):
//
//   txaudio [reset]
//       ok frames=F active_ms=A tx_ms=T bursts=B last_ms=L peak=P rms=R hz=H on=0|1
//       F: frames received from the playback since the last reset (silence
//       included); A: time with audio above 1 % of full scale, in 10 ms
//       steps; T: the part of A while the board was transmitting; B: bursts of audio (a burst ends after 200 ms of silence);
//       L: length of the last (or current) burst in ms; P: peak sample;
//       R: RMS of the active audio; H: its frequency from zero crossings;
//       on: a burst is in progress. "reset" zeroes them and answers "ok".
//   txaudio save
//       ok file=tmp/txaudio.wav frames=F
//       writes the left channel of the transmit audio received since the
//       last reset (at most the first 120 s of it, silence included) as a
//       16 kHz mono WAV file under the system root, so a test can decode
//       what the radio sent.
//   cwkey [reset]
//       ok level=0|1 downs=N down_ms=D last_down_ms=X last_up_ms=Y dot_ms=S
//       level: the line now (0 key down); N: key-downs; D: total key-down
//       time; X: the last completed key-down; Y: the last completed key-up
//       between two key-downs; S: the shortest key-down (0 before any).
//   stations
//       ok NAME=RF_HZ:AUDIO ... for the three stations, AUDIO being the audio
//       frequency they are heard at in Hz, "-" when outside the pass band.
class BbAudio
{
public:
    explicit BbAudio(BbBoard *board);
    ~BbAudio();

    // Creates the key-line FIFO and the sound-card sockets under root and
    // starts the audio and key-line threads.
    bool start(const QString &root);
    void stop();

    // Answers a control command it knows (true), leaving others alone.
    bool command(const QString &name, const QStringList &args, QString *reply);

private:
    struct TxStats {
        uint64_t frames = 0;
        uint64_t activeBlocks = 0;
        uint64_t txBlocks = 0;    // active while the board transmitted
        uint64_t bursts = 0;
        uint64_t burstBlocks = 0; // blocks from the first active one of the last burst
        uint64_t quietBlocks = 0; // inactive blocks since the last active one
        bool inBurst = false;
        int peak = 0;
        double sumSquares = 0;
        uint64_t crossings = 0;
        int lastSign = 0;
    };
    struct KeyStats {
        int level = 1;
        uint64_t downs = 0;
        uint64_t downNs = 0;
        uint64_t lastDownNs = 0;
        uint64_t lastUpNs = 0;
        uint64_t dotNs = 0;
        uint64_t changedAt = 0;
        bool seen = false;
    };

    void rxLoop();
    void txLoop();
    void keyLoop();
    void txBlock(const int16_t *frames, size_t n);
    void keyLine(const char *line);
    QString saveTxAudio();

    BbBoard *m_board;
    QString m_root;
    std::unique_ptr<BbStations> m_stations;
    zsimaudio_t *m_peer = nullptr;
    std::string m_fifo;
    int m_keyFd = -1;
    int m_keyHold = -1; // our own writer: the FIFO never reads as closed
    std::atomic<bool> m_stop{false};
    std::thread m_rx, m_tx, m_key;

    std::mutex m_mutex; // guards the statistics below
    TxStats m_txs;
    std::vector<int16_t> m_txRecord; // left channel since the last reset, bounded
    KeyStats m_keys;
    std::atomic<int> m_keyLevel{1};
};

#endif
