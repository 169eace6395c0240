#ifndef DIALOGVOICEREC_H
#define DIALOGVOICEREC_H

#include "ui/zpanel.h"

#include <QAudio>
#include <QMediaRecorder>
#include <QString>

class QAudioBuffer;
class QAudioProbe;
class QAudioRecorder;
class QLabel;
class QProgressBar;
class QTimer;
class ZVoicePlayer;

// "VOICE RECORDER": records the microphone path ("alsa:mixcapture") into
// one voice-message file (16 kHz mono WAV, at most 90 s) and plays it back
// on "mixplayback". Function buttons: record, play, stop, (none), EXIT.
//
// The opener names the file (setFileName, "voice_msg01" .. "voice_msg05")
// before exec() and holds the radio's voice-recording source on while the
// panel is open, so the board routes the microphone to the sound card.
class DialogVoiceRec : public ZPanel
{
    Q_OBJECT

public:
    static constexpr int kMaxSeconds = 90;

    DialogVoiceRec(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogVoiceRec() override;

    // The message file in the voice folder ("untitled" until set).
    void setFileName(const QString &name);
    QString fileName() const { return m_fileName; }
    QString filePath() const;

    // What exec() shows before its modal loop: the status line "Idle".
    void preparePanel();
    int exec() override;

    // Starts (true, when idle) or stops (false) a recording.
    void setRecorder(bool on);
    // Plays the recorded file.
    void play();

    // What the operator sees.
    QString statusText() const;
    QString timeText() const;
    int progressValue() const;
    float level() const { return m_level; }
    int levelPermille() const;
    QString indicatorText() const;
    QMediaRecorder::State recorderState() const;
    QMediaRecorder::Status recorderStatus() const;
    QAudio::State playerState() const;

public slots:
    void slot_pushButtonClicked(bool checked);
    void slot_durationChanged(qint64 ms);
    void slot_statusChanged(QMediaRecorder::Status status);
    void slot_recorderStateChanged(QMediaRecorder::State state);
    void slot_recorderError(QMediaRecorder::Error error);
    void slot_audioBufferProbed(const QAudioBuffer &buffer);
    void slot_playerStateChanged(QAudio::State state);
    void slot_timeOut();

protected:
    void done(int result) override;

private:
    void setRecordPlayEnabled(bool on);
    void showIndicator(const QString &glyph, const QString &color);
    // Stops a recording and waits (bounded) until the file is complete.
    void finishRecording();

    QString m_fileName = QStringLiteral("untitled");
    QAudioRecorder *m_recorder = nullptr;
    QAudioProbe *m_probe = nullptr;
    ZVoicePlayer *m_player = nullptr;
    QTimer *m_timer = nullptr;
    bool m_locationSet = false;
    float m_level = 0.0f;

    QLabel *m_indicator = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_file = nullptr;
    QLabel *m_time = nullptr;
    QProgressBar *m_progress = nullptr;
    QProgressBar *m_meter = nullptr;
};

#endif
