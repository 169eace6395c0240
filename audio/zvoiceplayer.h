#ifndef ZVOICEPLAYER_H
#define ZVOICEPLAYER_H

#include <QAudio>
#include <QAudioFormat>
#include <QFile>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <cstdint>

class QAudioOutput;

// Voice messages: WAV files in the application directory's "voice" folder,
// recorded by the recorder panel and transmitted by the call panel.

#define ZVOICE_HEADER_BYTES 44
#define ZVOICE_MESSAGES 5
#define ZVOICE_PLAYBACK_DEVICE "mixplayback"

// The canonical 44-byte RIFF/WAVE header, every field little-endian.
struct zvoice_wav_header_t {
    char chunkId[4];      // "RIFF"
    uint32_t chunkSize;
    char waveId[4];       // "WAVE"
    char fmtId[4];        // "fmt "
    uint32_t fmtSize;
    uint16_t audioFormat;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataId[4];       // "data"
    uint32_t dataSize;
};

// Parses the first 44 bytes of a file. 0, or -22 when there are fewer than
// 44 bytes or the RIFF and WAVE marks are missing (not a recording).
int zvoice_parse_header(const QByteArray &bytes, zvoice_wav_header_t *header);
// Reads and parses the header at the start of a file. 0, -2 when the file
// cannot be opened, -22 as above.
int zvoice_read_header(const QString &path, zvoice_wav_header_t *header);
// Length in whole seconds: data size / byte rate; 0 when the byte rate is 0.
int zvoice_duration(const zvoice_wav_header_t &header);
// One line for the log.
QString zvoice_header_text(const zvoice_wav_header_t &header);

// The "voice" folder of the application directory, and the file of message
// n (1..5): "voice_msg01" .. "voice_msg05".
QString zvoice_dir();
QString zvoice_message_name(int n);
QString zvoice_path(const QString &name);

// The audio of a message file as the player reads it: the data after the
// header (up to the data size the header gives, to the end of the file when
// that is 0 or beyond it), as 16-bit samples on one channel, or copied onto
// both channels of a stereo stream for a device that takes no mono.
// Seekable, because the audio output puts back what the device refused.
class ZVoiceSource : public QIODevice
{
    Q_OBJECT

public:
    ZVoiceSource(QFile *file, qint64 start, qint64 length, int channels, QObject *parent = nullptr);

    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile *m_file;
    qint64 m_start;
    qint64 m_length;
    int m_channels;
};

// Plays message files into the playback device "mixplayback" at 16 kHz,
// 16-bit signed little-endian mono (stereo when the device takes no mono).
// Without that device the player is not valid ("can't found playback
// device" is logged) and plays nothing.
class ZVoicePlayer : public QObject
{
    Q_OBJECT

public:
    explicit ZVoicePlayer(QObject *parent = nullptr);
    ~ZVoicePlayer() override;

    bool isValid() const { return m_output != nullptr; }
    QAudioFormat format() const { return m_format; }

    // Opens the file, reads and logs its header and plays it from byte 44;
    // a player already running is stopped first. false (logged "can't
    // open" with the path) when the file cannot be played.
    bool play(const QString &path);
    void stop();

    // StoppedState without a device.
    QAudio::State state() const;
    QAudio::Error error() const;
    // Whole seconds played since the last start.
    int playedSeconds() const;

signals:
    // The output's state changes; the file is closed before StoppedState
    // is passed on.
    void sig_stateChanged(QAudio::State state);

private slots:
    void slot_outputStateChanged(QAudio::State state);

private:
    QAudioOutput *m_output = nullptr;
    QAudioFormat m_format;
    QFile m_file;
    ZVoiceSource *m_source = nullptr;
};

#endif
