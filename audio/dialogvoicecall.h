#ifndef DIALOGVOICECALL_H
#define DIALOGVOICECALL_H

#include "ui/zpanel.h"

#include <QAudio>
#include <QStringList>

#include <cstdint>

class QTimer;
class ZVoicePlayer;

// "VOICE CALL": transmits one of the five voice messages. Each function
// button shows "VOICE MSG n" over the message's length, or "NO DATA"
// (disabled) when there is no recording. A button keys the transmitter
// (sig_postTrx(1)) and plays its message into "mixplayback"; when the
// player has stopped, at the end or because the same button was pressed
// again, the transmitter is released (sig_postTrx(0)).
class DialogVoiceCall : public ZPanel
{
    Q_OBJECT

public:
    DialogVoiceCall(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogVoiceCall() override;

    // What exec() does before its modal loop: reads each message's length
    // into its button.
    void preparePanel();
    int exec() override;

    // Index (0..4) of the message being played, -1 before the first.
    int playingIndex() const { return m_playing; }
    QStringList files() const { return m_files; }
    // The two lines of button i: "VOICE MSG n" and "n s" or "NO DATA".
    QStringList buttonLines(int i) const;
    QAudio::State playerState() const;

signals:
    // 1: transmit on, 0: transmit off.
    void sig_postTrx(uint8_t trx);

public slots:
    void slot_pushButtonClicked(bool checked);
    void slot_playerStateChanged(QAudio::State state);
    void slot_timeOut();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void done(int result) override;

private:
    bool handleCallKey(QKeyEvent *event);

    QStringList m_files;
    QList<QStringList> m_lines;
    int m_playing = -1;
    ZVoicePlayer *m_player = nullptr;
    QTimer *m_timer = nullptr;
};

#endif
