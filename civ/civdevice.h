#ifndef CIVDEVICE_H
#define CIVDEVICE_H

// CI-V CAT control: the radio answers as a CI-V transceiver at address A4h.
//
// CivDevice parses CI-V frames from the serial transports, reads and changes
// the settings through the parameter store, answers every request on all
// open ports and hands the requests the store cannot carry (transmit, tuner,
// clock) to the main window as queued signals. It also streams the
// panadapter trace as CI-V scope frames to the Bluetooth port.
//
// Threads: start() runs the transport loop on the CI-V worker thread (see
// CivDeviceAdmin); the loop calls slot_rxPhase() every 50 ms. The store is
// serialised internally, the live radio status in it is atomic, and the
// scope trace is handed over from the GUI thread under m_scopeMutex.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class ZParamAdmin;
struct uart_t;

#define CIV_ADDRESS 0xA4
#define CIV_PREAMBLE 0xFE
#define CIV_EOM 0xFD
#define CIV_OK 0xFB
#define CIV_NG 0xFA
#define CIV_SCOPE_POINTS 475
// A frame (the bytes between the preamble and FDh) longer than this is
// noise: the longest request is 10 bytes, a scope frame heard back ~500.
#define CIV_FRAME_MAX 1024
// Pending input beyond this is discarded before parsing.
#define CIV_RX_LIMIT 10240
#define CIV_BT_BUFFER 256
// Unsupported frames logged before the line has been quiet for 10 s.
#define CIV_UNSUPPORTED_LOG_MAX 50

class CivDevice : public QObject
{
    Q_OBJECT

public:
    explicit CivDevice(QObject *parent = nullptr);
    ~CivDevice() override;

    // Remembers the store and the serial device (a system path such as
    // "/dev/ttyS2") and sets the port up with the termios speed code
    // (B19200 = 14). Before start().
    void setParams(ZParamAdmin *admin, const QString &device, int32_t speed);

    // Appends received bytes to the receive buffer, discarding everything
    // when more than CIV_RX_LIMIT bytes are pending. Worker thread only
    // (the transport loop, or a test that drives the interpreter itself).
    void receive(const uint8_t *data, int len);
    void receive(const QByteArray &bytes) { receive(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size()); }

    // Ports as descriptors owned by the caller, for tests and tools that run
    // the interpreter without start(): replies go to every one >= 0, the
    // scope stream to the Bluetooth one.
    void attachPorts(int serialFd, int bluetoothFd, int virtualFd = -1);

    // Appends the body of a streamed scope frame: 27 00 00 01 01 00, the
    // front frequency, 00 00 50 02 00 00 and the 475 trace bytes.
    void loadScopeData(QByteArray &out);
    // The bytes as text, each as " %02X".
    static QString packetDump(const QByteArray &bytes);

    // ---- Number and mode conversions ----
    static QByteArray freq2bcd(int freq);
    static int bcd2freq(const QByteArray &bcd);
    static QByteArray int2bcd_2bytes(int value);
    static int bcd2int_2bytes(const QByteArray &bcd);
    static int bcd2int(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
    static uint8_t zrmode2civmode(int mode, uint8_t *data);
    static int civmode2zrmode(uint8_t civ, uint8_t data);
    static int civbs2zrbs(int code);
    static int zrbs2civbs(int index);
    // CI-V filter-width index 0..49 of a pass band of w Hz (Icom's table:
    // 50 Hz steps up to 500 Hz, then 100 Hz steps; AM and FM in 200 Hz
    // steps). Sent as two BCD digits.
    static uint8_t filterWidthIndex(float w, bool amOrFm);
    // Meter encodings of the live readings.
    static int sMeterValue(float dbm);
    static int swrMeterValue(float swr);
    static int alcMeterValue(float alc);
    static int vdMeterValue(float volts);
    static int scopeByte(float dbm);

    // Level scaling of a "wparam" item onto 0..255 and back.
    int wparamToByte(const QString &key);
    void byteToWParam(const QString &key, int byte);

    // Read access for tests and the window.
    const QByteArray &lastReply() const { return m_reply; }
    int parserState() const { return m_state; }
    int frameLength() const { return m_frame.size(); }
    int pendingBytes() const { return m_rx.size(); }
    uint8_t controllerAddress() const { return m_ctrlAddr; }
    bool scopeStreaming() const { return m_scopeStream; }
    int idleCount() const { return m_idle; }
    int serialFd() const { return m_fd; }
    int bluetoothFd() const { return m_btFd; }
    int virtualFd() const { return m_vFd; }
    QString virtualPortLink() const { return m_vLink; }

signals:
    void sig_setTrxStatus(int32_t flag);
    void sig_setAtuStatus(int32_t flag);
    void sig_setTimeMinSec(int32_t min, int32_t sec);
    void sig_setUtcOffset(int32_t offset);
    void sig_setDate(int32_t year, int32_t month, int32_t day);

public slots:
    // The transport loop; returns after stop().
    void start();
    // Thread-safe: the loop ends within one pass (10 ms).
    void stop();
    // One panadapter trace in dBm per point (GUI thread, called directly).
    void slot_scopeDataReceiver(const QVector<float> &scopeData);
    // Consumes the receive buffer, answers every complete frame, then runs
    // the idle duties. Worker thread only.
    void slot_rxPhase();

public:
    Q_INVOKABLE int zrm2civm_ex(int workMode);
    Q_INVOKABLE int civm2zrm_ex(int civMode);

private:
    void processFrame(const QByteArray &f);
    bool dispatch(const QByteArray &f, QByteArray &body);
    void sendReply(uint8_t to, const QByteArray &body);
    void writePorts(const QByteArray &bytes, bool bluetoothOnly);
    void idleDuties();

    // Commands, each building the reply body; false when unsupported.
    bool cmdSplit(const QByteArray &f, QByteArray &body);
    bool cmdLevel(const QByteArray &f, QByteArray &body);
    bool cmdMeter(const QByteArray &f, QByteArray &body);
    bool cmdSwitch(const QByteArray &f, QByteArray &body);
    bool cmd1A(const QByteArray &f, QByteArray &body);
    bool cmdTone(const QByteArray &f, QByteArray &body);
    bool cmdTx(const QByteArray &f, QByteArray &body);
    bool cmdRit(const QByteArray &f, QByteArray &body);
    bool cmdVfoFreq(const QByteArray &f, QByteArray &body);
    bool cmdVfoMode(const QByteArray &f, QByteArray &body);
    bool cmdScope(const QByteArray &f, QByteArray &body);
    void bandStackRecord(const QByteArray &f, QByteArray &body);

    // Store access.
    int wparamInt(const QString &key);
    int frontInt(const QString &key);
    int groupNumber();
    void setGroupFromWire(int f);
    // Stores a value the controller sent when it lies in the item's range;
    // false (nothing stored) otherwise.
    bool setChecked(const QString &group, const QString &key, qint64 value);
    // Stores a "wparam" value clamped to the item's range.
    void setClamped(const QString &key, int value);
    bool setFrontFreq(qint64 freq);
    bool setVfoFreq(bool selected, qint64 freq);
    bool setVfoMode(bool selected, int mode);
    QString selectedVfo(bool selected);

    // Transport (civtransport.cpp).
    void openBluetooth();
    void closeBluetooth();
    void openVirtualPort();
    void closeVirtualPort();
    int readPort(int fd, uint8_t *buf, int size);

    ZParamAdmin *m_admin = nullptr;
    QString m_device;
    uart_t *m_uart = nullptr;

    QByteArray m_rx;   // receive buffer
    QByteArray m_frame;
    QByteArray m_reply;
    int m_state = 0;   // 0 hunt first FEh, 1 hunt second FEh, 2 collect
    uint8_t m_ctrlAddr = 0xE1;
    int m_idle = 0;
    int m_unsupportedLogged = 0;
    bool m_toggle = false;

    std::mutex m_scopeMutex;
    uint8_t m_scope[CIV_SCOPE_POINTS] = {};
    std::atomic<bool> m_traceReady{ false };
    bool m_scopeStream = false;

    int m_fd = -1;     // wired port
    int m_btFd = -1;   // Bluetooth port
    int m_vFd = -1;    // our end of the network server's port
    bool m_vPeer = false; // the server has its end open
    QString m_vLink;
    bool m_ownPorts = false; // the loop opened the descriptors (and closes them)
    std::vector<uint8_t> m_wiredBuf;
    uint8_t m_btBuf[CIV_BT_BUFFER] = {};
    int m_btEmpty = 0;
    int m_btRetry = 0;
    int m_pollDivider = 0;
    std::atomic<bool> m_stop{ false };
};

#endif
