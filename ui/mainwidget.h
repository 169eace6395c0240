#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include "ui/mfkgroup.h"
#include "ui/zsupply.h"
#include "wireless/zwirelessservices.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <cstdint>
#include <memory>

class CivDeviceAdmin;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class Ui_MainWidget;
class XYPlot;
class QJsonObject;
class ZAudio;
class ZBarMeter;
class ZBluetooth;
class ZDrawScope;
class ZParamAdmin;
class ZRadioDisplaySettings;
class ZRadioSetting;
class ZScopeGL;
class ZTwinFilterWidget;
class ZVFOFrequencyWidget;
struct zradio_t;

// The one top-level window (800 x 480, the whole touch screen): the
// operating screen. It owns the radio link (and through it the parameter
// store), the CI-V owner and the audio capture, and builds every widget of
// the screen. A 50 ms tick moves spectrum and meter reports onto the screen,
// redraws what changed in the store and ends by packing the store into the
// register block; front-panel keys, knobs and the hand microphone arrive as
// events posted by the input thread.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    // The display cache: what the screen last showed. "Unset" fields start
    // with values no item can have, so the first full tick redraws all.
    struct disp_item_t {
        static const int kUnset = -2147483647 - 1;
        int frontFreq = kUnset, frontMode = kUnset, frontAgc = kUnset, frontAtt = kUnset, frontPre = kUnset;
        int backFreq = kUnset, backMode = kUnset, backAgc = kUnset, backAtt = kUnset, backPre = kUnset;
        int vi = kUnset;
        int vm = kUnset;
        int channel = kUnset;
        int lock = kUnset;
        int ts = kUnset;
        int trx = kUnset;
        int sple = kUnset;
        int fftave = kUnset, fftref = kUnset, fftdec = kUnset, fftpke = kUnset;
        int affftave = kUnset, affftref = kUnset, wfref = kUnset;
        int bllevel = kUnset;
        int cwtone = kUnset;
        int atuSlot = kUnset;
        int atuTuning = 0;
        int rit = 2147483647, xit = 2147483647;
        uint8_t audioScope = 127;
        uint8_t dataFlag = 127;
        uint8_t centerMode = 127;
    };

    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // ---- What the screen is made of (for the owner, tests and tools) ----
    ZParamAdmin *paramAdmin() const { return m_store; }
    zradio_t *radio() const { return m_radio; }
    CivDeviceAdmin *civAdmin() const { return m_civAdmin; }
    ZScopeGL *scope() const { return m_scope; }
    ZVFOFrequencyWidget *mainVfo() const { return m_mainVfo; }
    ZVFOFrequencyWidget *subVfo() const { return m_subVfo; }
    QLabel *memoryLabel() const { return m_memoryLabel; }
    QLabel *infoLabel() const { return m_infoLabel; }
    ZBarMeter *sMeter() const { return m_sMeter; }
    ZBarMeter *swrMeter() const { return m_swrMeter; }
    ZTwinFilterWidget *filterView() const { return m_filterView; }
    ZDrawScope *audioScope() const { return m_audioScope; }
    XYPlot *xyPlot() const { return m_xyPlot; }
    QLineEdit *frequencyEntry() const { return m_freqEntry; }
    const disp_item_t &displayCache() const { return m_disp; }
    QTimer *updateTimer() const { return m_updateTimer; }
    QTimer *clockTimer() const { return m_rtcTimer; }
    // The panels the function keys opened, while they are open.
    QDialog *radioSettingPanel() const;
    QDialog *displaySettingsPanel() const;
    QDialog *channelEditorPanel() const { return m_chEditor; }
    QDialog *filterSettingsPanel() const { return m_filterPanel; }
    // NetworkManager's client and the Bluetooth manager (null until the
    // delayed start-up, or without BlueZ's bus) the WLAN and Bluetooth
    // panels borrow.
    NMClient *nmClient() const { return m_nmClient; }
    ZBluetooth *bluetooth() const { return m_bluetooth; }

    // ---- Function keys and knob groups ----
    void mfkGroupInit();
    QPushButton *getFunctionKey(int i) const;
    // Index 0..4 of the function key that has the window's focus, or -1.
    int mfkIndex() const;
    void redrawFunctionKeys(int group);
    void restoreFunctionKeys();
    void checkFunctionKeys(int group, int key);
    void showTagButton(QPushButton *button, bool on);
    int currentGroup() const { return m_group; }
    const QList<mfkgroup_t> &groups() const { return m_groups; }
    // The parameter item the multi-function knob steps while a function
    // key has the focus; both empty when there is none.
    QString knobTable() const { return m_knobTable; }
    QString knobKey() const { return m_knobKey; }
    // What the face of key i (0..4) shows: its label and its value line.
    QString functionKeyTag(int i) const { return i >= 0 && i < 5 ? m_faceTag[i] : QString(); }
    QString functionKeyValue(int i) const { return i >= 0 && i < 5 ? m_faceValue[i] : QString(); }

    // ---- Operating actions ----
    void switchVM();
    void saveVFO();
    void handleFunctionKey(int key);
    bool hasUpdateEvent(int code);
    void dispInfoLabel(const QString &text);
    void dispRitXitLabel(int trx, int rit, int xit);
    void showIconLock(int locked);
    void showIconSpeakPhone(int speaker);
    void showVfoMemoItems(disp_item_t &item);

    // ---- Panadapter, meters and filter view ----
    void spectrumInit();
    static void updateFftSearchEdge();
    // One spectrum frame of count magnitudes (tick step 3): resampled onto
    // the panadapter, the meters computed from the board's reports, the
    // status text, and the CI-V trace.
    void feedSpectrumFrame(const float *mag, int count);
    const QVector<float> &panadapterTrace() const { return m_trace; }
    const QVector<float> &civTrace() const { return m_civTrace; }
    // While the modem dialog is open: the panadapter at 35 % of its height
    // with the audio spectrum beside it; afterwards the usual layout.
    void enterModemLayout();
    void leaveModemLayout();

    // The antenna-tuner run in progress (tuning state 1), if any.
    bool atuTuning() const { return m_atuTimer != nullptr; }

    static QString tagEnableStyle();
    static QString tagDisableStyle();
    // Style of the battery glyph for a capacity in percent.
    static QString batteryStyle(int capacity);
    static QChar batteryGlyph(int capacity);
    static QString infoLabelStyle();

    // ---- Wireless daemon ----
    // One command object to the daemon's FIFO, without blocking; false when
    // no daemon reads it or not all of it was written.
    static bool sendWirelessCommand(const QJsonObject &command);
    // NetworkManager's "access-point-added" handler for a window.
    static void onAccessPointAdded(NMDeviceWifi *device, NMAccessPoint *ap, void *window);
    // The complete JSON-object lines the daemon's status descriptor holds
    // now; an unfinished line stays in buffer.
    static QList<QVariantMap> readAndParseJsonLines(int fd, QByteArray &buffer);

signals:
    void sig_updateFilter();
    void sig_postSwrValue(float swr);
    void scanFinished(QStringList ssids);

public slots:
    void slot_atuTune();
    void slot_civTrxStatus(int32_t flag);
    void slot_civSetAtu(int32_t flag);
    void slot_civSetTimeMinSec(int32_t min, int32_t sec);
    void slot_civSetDate(int32_t year, int32_t month, int32_t day);
    void slot_civSetUtcOffset(int32_t offset);
    void slot_rtcUpdate();
    void slot_delayInitProcess();
    void slot_timerUpdate();
    void slot_infoLabelHide();
    void slot_panelDestroy(QObject *obj);
    void slot_functionKeysRelease();
    void slot_functionKeysClick();
    void slot_chUpdateReceiver();
    void slot_updateFunctionButtons(int fbidx, QString tag, QString param);
    void slot_adminDirectCallKeys(QKeyEvent *event);
    void slot_audioFFTReady(float *mag, int32_t len);
    void slot_audioSamReady(float *ptr, int32_t len);
    void slot_autoCwSendUpdate(QString s);
    void slot_calibrationTrxReceiver(uint8_t trx);
    void slot_modemTrxReceiver(uint8_t trx);
    void slot_swrScanTrxReceiver(uint8_t trx);
    void slot_swrScanNextPoint();
    void slot_appFatalErrorReset(int32_t err);
    void slot_networkMonitor();
    void slot_apRssiChanged(int rssi, bool hasInternet = true);
    void slot_bluetoothMonitor();
    void onWirelessStatusPipeReady();
    void accessPointAdded(QString ssid, int rssi);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void customEvent(QEvent *event) override;

    // ---- Launching: one function per released key (group, page, key) ----
    // Group 0: radio settings (page 0 on F1, page 1 on F2), display
    // settings, system menu, memory-channel editor.
    void toggleRadioSetting(int page);
    void toggleDisplaySettings();
    void openSystemMenu();
    void openChannelEditor();
    // Group 1: modem, SWR scanner, voice call; group 3: message texts
    // (page 1) and voice messages (page 2); Ctrl+6: the filter panel.
    void openModemDialog();
    void openSwrScanner();
    void openVoiceCall();
    void editMessageText(int index);
    void recordVoiceMessage(int index);
    void openFilterSettings();

    // The dialogs these open, built by their own folders. Each factory
    // returns null (or false) until its dialog exists, and the key then
    // does nothing; the launch functions above do the toggling, placing,
    // running and closing around them. A factory wires the signals that
    // are particular to its dialog.
    //   Memory-channel editor: a non-modal panel over `area`.
    virtual QDialog *createChannelEditor(const QRect &area);
    //   Filter settings over `area`, run modally; connected to
    //   sig_updateFilter() and, through its sig_setFunctionButtons, to
    //   slot_updateFunctionButtons.
    virtual QDialog *createFilterSettings(const QRect &area);
    //   Full-screen text editor run modally on *text (cursor at the end);
    //   true when the operator accepted it, *text then holds the new text.
    virtual bool editText(const QString &title, QString *text);
    //   System settings menu over `area` (the whole screen), run modally;
    //   it labels its keys " ", " ", " ", " ", "EXIT" and exits on F5.
    virtual QDialog *createSystemMenu(const QRect &area);
    //   Modem dialog below the shrunk panadapter, run modally; its
    //   sig_setTrxStatus goes to slot_modemTrxReceiver, and it gets the
    //   audio spectrum (audioScope()).
    virtual QDialog *createModemDialog(const QRect &area);
    //   SWR scanner over the panadapter, run modally: sig_postSwrValue to
    //   its slot_commUpdateSWR, its sig_postTRX to slot_swrScanTrxReceiver,
    //   its sig_nextPoint to slot_swrScanNextPoint.
    virtual QDialog *createSwrScanner(const QRect &area);
    //   Voice call dialog, run modally: its sig_postTrx to
    //   slot_modemTrxReceiver.
    virtual QDialog *createVoiceCall(const QRect &area);
    //   Voice message recorder for fileName ("voice_msg01" ...), full
    //   screen, run modally while the recording source is on.
    virtual QDialog *createVoiceRecorder(const QRect &area, const QString &fileName);

    // Screen rectangles the panels are placed by: the panadapter's and the
    // window's, in the coordinates a top-level panel is placed in.
    QRect scopeRect() const;
    QRect windowRect() const;

private:
    using LaunchFn = void (MainWidget::*)(int index);
    struct launch_row_t {
        int group;
        int page; // -1: any page
        int key;  // -1: any key (the function gets the key index)
        LaunchFn fn;
    };
    static const launch_row_t kLaunchRows[];
    void launchRadioSetting(int key) { toggleRadioSetting(key == 1 ? 1 : 0); }
    void launchDisplaySettings(int) { toggleDisplaySettings(); }
    void launchSystemMenu(int) { openSystemMenu(); }
    void launchChannelEditor(int) { openChannelEditor(); }
    void launchModem(int) { openModemDialog(); }
    void launchSwrScanner(int) { openSwrScanner(); }
    void launchVoiceCall(int) { openVoiceCall(); }
    void launchMessageText(int key) { editMessageText(key); }
    void launchVoiceMessage(int key) { recordVoiceMessage(key); }
    void placePanel(QDialog *panel);
    void regainActivation();

    void buildScreen();
    void updateManufactureRecord();
    int functionKeyIndex(QObject *button) const;
    void directFrequencyEntry();
    void updateTagButtons();
    void updateVfoItems(bool trxChanged);
    void updateFilterAndScope(bool trxChanged);
    void updateVolumeReadout();
    void updateMfkReadout();
    void updateLevelsAndIcons(bool trxChanged);
    void frontFrequencyChanged();
    void applyAudioArea(bool on);
    void supplyCheck();
    void stepBacklight();
    void startAtuTune();
    void setMeterScale(bool transmitting);

    Ui_MainWidget *ui = nullptr;
    zradio_t *m_radio = nullptr;
    ZParamAdmin *m_store = nullptr;
    QTimer *m_updateTimer = nullptr;
    QTimer *m_rtcTimer = nullptr;
    QPointer<QTimer> m_delayTimer;
    QTimer *m_infoTimer = nullptr;
    QTimer *m_atuTimer = nullptr;
    int m_atuState = 0;
    ZAudio *m_audio = nullptr;
    CivDeviceAdmin *m_civAdmin = nullptr;

    ZScopeGL *m_scope = nullptr;
    QRect m_scopeRect;
    QRect m_audioScopeRect;
    QRect m_xyRect;
    ZDrawScope *m_audioScope = nullptr;
    XYPlot *m_xyPlot = nullptr;
    ZVFOFrequencyWidget *m_mainVfo = nullptr;
    ZVFOFrequencyWidget *m_subVfo = nullptr;
    QLabel *m_memoryLabel = nullptr;
    QLabel *m_infoLabel = nullptr;
    ZBarMeter *m_sMeter = nullptr;
    ZBarMeter *m_swrMeter = nullptr;
    ZTwinFilterWidget *m_filterView = nullptr;
    QLineEdit *m_freqEntry = nullptr;

    struct button_map_t {
        QString key;
        QPushButton *button;
        int last;
    };
    QList<button_map_t> m_tagButtons;
    QString m_tagEnable;
    QString m_tagDisable;

    bool m_firstTick = true;
    bool m_swrPostPending = false;
    bool m_chUpdated = false;
    QList<int> m_updateEvents;
    disp_item_t m_disp;
    int m_fftDec = 0;       // span exponent, 0..4
    int m_pushedFftDec = -1; // the exponent the radio link was last given
    int m_split = 0;

    // Meter smoothing.
    double m_alphaP = 0.6;
    double m_alphaS = 0.9;
    double m_power = 0.0;
    double m_swr = 0.0;
    float m_level = -145.0f;
    int m_shownAtuTuning = 0;
    QVector<float> m_trace;
    QVector<float> m_civTrace;
    QVector<float> m_audioBuf;

    // Filter follow-up cache.
    struct filter_cache_t {
        bool valid = false;
        float fp1Low = 0, fp1High = 0, fp2Low = 0, fp2High = 0, limLow = 0, limHigh = 0;
        int index = -1;
        QString name;
    } m_filterCache;
    bool m_scopeSettingsChanged = true;
    bool m_modeChanged = false;

    // Knob readouts.
    int m_volFunction = -1;
    int m_lastRxvol = -1, m_lastSqlthr = -1, m_lastRfg = -1;
    QString m_mfkShown;

    // Wireless: NetworkManager's client, the Bluetooth manager, the status
    // bar's WiFi indicator, the enables last sent to the daemon, and the
    // daemon's status stream (none is opened: -1).
    NMClient *m_nmClient = nullptr;
    ZBluetooth *m_bluetooth = nullptr;
    std::unique_ptr<zwireless::ZWifiIndicator> m_wifi;
    zwireless::ZWirelessEnables m_wirelessEnables;
    int m_wirelessStatusFd = -1;
    QByteArray m_wirelessStatusBuffer;

    // Supply and battery.
    zsupply_t m_supply;
    int m_backlightMax = 10;

    // Function keys and knob groups.
    QList<mfkgroup_t> m_groups;
    int m_group = 0;
    int m_prevGroup = 0;
    QString m_knobTable;
    QString m_knobKey;
    QString m_faceTag[5];
    QString m_faceValue[5];

    // Panels opened from the function keys.
    QPointer<ZRadioSetting> m_radioSetting;
    QPointer<ZRadioDisplaySettings> m_displaySettings;
    QPointer<QDialog> m_chEditor;
    QPointer<QDialog> m_filterPanel;
    bool m_modemLayout = false;
};

#endif
