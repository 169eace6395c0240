#ifndef DIALOGMODEM_H
#define DIALOGMODEM_H

#include "ui/zpanel.h"

#include <QColor>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>
#include <QVariant>

#include <cstdint>

class QTextEdit;
class QThread;
class QTimer;
class ZDrawScope;
class ZParamAdmin;
class ZRModem;

// The operating panel of the digital modes. It opens over the lower part of
// the operating screen and, while it is open, owns the modem host (receiver
// audio in, transmit audio out, one demodulator and modulator per mode and
// their two threads). Every 100 ms it keeps the host in step with the
// parameter store, moves decoded characters into its text display (only
// while the squelch is open), echoes the characters being sent, runs the
// send state machine and reports the transmit state to the main window,
// which keys the radio. CW text is keyed by a Morse sender on a thread of
// its own; the decoders hear silence meanwhile.
//
// Function page, first layer:  F1 layer | F2 MODE | F3 FC (TONE in CW) |
//                              F4 RATE (SPEED in CW) | F5 SHIFT (RTTY)
// Function page, second layer: F1 layer | F2 AFC | F3 SQL | F4 CLEAR | F5 EXIT
// Message page:                F1 … F5 send stored message 1 … 5
// Pressing an adjustable item's key selects it for the multi-function knob
// (F2 also steps it); the tuning dial and unused keys go on to the main
// window. The group keys (Ctrl+1 … Ctrl+5): 4 toggles the message page,
// 2 leaves it or closes the panel, 1, 3 and 5 close it and go on to the
// main window, which then shows that group.
class DialogModem : public ZPanel
{
    Q_OBJECT

public:
    enum SendState { SendIdle = 0, SendPosted = 1, SendWaiting = 2, SendTransmitting = 3 };
    enum Page { PageFunctions = 0, PageMessages = 1 };
    static const int kMessages = 5;

    DialogModem(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogModem() override;

    // Builds the panel and the modem host, then runs modally.
    int exec() override;
    // Closing lets the radio go back to receive at once.
    void done(int result) override;
    // What exec() does before its modal loop: buttons, text display, the
    // modem host with its threads, the status timer, the scope markers and
    // the first updateButtons(). Done once; exec() calls it.
    void start();

    // The audio spectrum of the main window, which shows the carrier (or
    // the mark and space tones); its markers are removed again on close.
    void setAudioScope(ZDrawScope *scope);

    // Sends text in the current mode; empty text and a CW text while the
    // Morse sender is busy are refused (false).
    bool postMessage(const QString &text);
    // Appends text to the display in the current colour: a line feed ends
    // the line, long lines are broken before they reach the display's edge.
    void putDispChar(const QString &s);
    // Applies the store's modem settings that changed since the last call
    // (each logged) and relabels the function buttons.
    void updateButtons();
    // Places the scope markers at the carrier, or at mark and space in RTTY.
    void updateMode();

    // ---- State, for the owner and the tests ----
    ZRModem *modem() const { return m_modem; }
    QTextEdit *display() const { return m_display; }
    QTimer *statusTimer() const { return m_statusTimer; }
    int sendState() const { return m_sendState; }
    int buttonPage() const { return m_page; }
    int layer() const { return m_layer; }
    // 1..4 on the current layer, 0 when none.
    int selectedItem() const { return m_selected; }
    bool morseBusy() const { return m_morseBusy; }
    QString message(int index) const;
    QString sendingMessage() const { return m_sending; }
    // The transmit state last reported through sig_setTrxStatus.
    uint8_t reportedTransmit() const { return m_lastTx; }
    // The store key the knob steps now; empty when none.
    QString selectedKey() const;
    // What function key i shows, as plain text ("MODE\nRTTY").
    QString buttonFace(int i) const;

    static QColor receiveColor() { return QColor(0, 230, 0); }
    static QColor transmitColor() { return QColor(255, 64, 64); }

signals:
    void sig_setTrxStatus(uint8_t trx);
    void sig_startMorseSend(QString text);
    void sig_stopMorseSend();

public slots:
    void slot_updateStatus();
    void slot_morseSendFinish();
    void slot_pushButtonClicked(bool checked);

protected:
    void cbF1();
    void cbF2();
    void cbF3();
    void cbF4();
    void cbF5();
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void customEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void slot_morseSentChar(char c);
    void releaseTransmit();
    void selectItem(int item);
    void setPage(int page);
    void toggleLayer();
    void sendStoredMessage(int index);
    void echoSent();
    void showReceived();
    void updateTitle();
    void setButtonLabel(int i, const QString &html);
    void applySettings();
    void relabel();
    int currentMode() const;
    uint32_t sentCounter() const;

    ZRModem *m_modem = nullptr;
    QTextEdit *m_display = nullptr;
    QTimer *m_statusTimer = nullptr;
    QPointer<ZDrawScope> m_scope;
    bool m_started = false;
    bool m_closed = false; // closed: nothing more is reported

    // Display: the current line (for wrapping) and the text colour.
    QString m_line;
    QTextCharFormat m_format;
    bool m_printed = false; // text since the last line end

    // The store's values as last applied, to see what changed.
    struct applied_t {
        QVariant mdmmode, modemafc, modemsql, pskrate, rttyrate, rttyshift, modemfc, cwtone;
    } m_cache;
    float m_rttyRate = -1.0f;
    float m_rttyShift = -1.0f;
    float m_pskRate = -1.0f;
    bool m_fcApplied = false;
    bool m_fcIsTone = false; // the applied carrier is the CW pitch
    float m_fcValue = 0.0f;
    QString m_buttonHtml[5];
    QString m_title;
    float m_marker1 = -1.0f, m_marker2 = -1.0f;

    QString m_messages[kMessages];
    int m_page = PageFunctions;
    int m_layer = 0;
    int m_selected = 0;

    // Sending.
    QString m_sending;
    int m_echoCount = 0;
    int m_sendState = SendIdle;
    int m_sendMode = -1;  // mode the message was posted in
    uint8_t m_lastTx = 0;
    bool m_morseBusy = false;
    QPointer<QThread> m_morseThread;
    uint32_t m_morseUnit = 0;
};

#endif
