#ifndef CIVDEVICE_H
#define CIVDEVICE_H

// CI-V CAT control: the radio answers as a CI-V transceiver at address A4h.
//
// The code is split by role:
//   civconvert.*   the encodings (BCD, modes, bands, meters, levels);
//   civcommands.*  the command table: what each request does and how it is
//                  answered;
//   civdevice.*    this object: the byte parser, the replies, the signals to
//                  the main window and the panadapter scope stream (to
//                  the Bluetooth port and the network server's);
//   civtransport.cpp  the loop on the CI-V worker thread that waits on the
//                  serial ports and runs the interpreter every 50 ms;
//   civmorse.*     the CW keyer behind the send-Morse request.
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
#include <memory>
#include <mutex>
#include <vector>

class CivCommands;
class ZParamAdmin;
struct uart_t;

#define CIV_ADDRESS 0xA4
#define CIV_PREAMBLE 0xFE
#define CIV_EOM 0xFD
#define CIV_OK 0xFB
#define CIV_NG 0xFA
#define CIV_SCOPE_POINTS 475
// A frame (the bytes between the preamble and FDh) longer than this is
// noise: the longest request is 33 bytes (30 characters of Morse), a scope
// frame heard back ~500.
#define CIV_FRAME_MAX 1024
// Pending input beyond this is discarded before parsing.
#define CIV_RX_LIMIT 10240
#define CIV_BT_BUFFER 256
// Unsupported frames logged before the line has been quiet for 10 s.
#define CIV_UNSUPPORTED_LOG_MAX 50
// The interpreter's period in the transport loop.
#define CIV_PERIOD_MS 50

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
    // scope stream to the Bluetooth and the network server's ones.
    void attachPorts(int serialFd, int bluetoothFd, int virtualFd = -1);

    // Appends the body of a streamed scope frame: 27 00 00 01 01 00, the
    // front frequency, 00 00 50 02 00 00 and the 475 trace bytes.
    void loadScopeData(QByteArray &out);
    // Appends the 475 trace bytes as they are now.
    void copyScopeTrace(QByteArray &out);
    void setScopeStreaming(bool on) { m_scopeStream = on; }

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
    // Times the Bluetooth port was closed for silence since start().
    int bluetoothSilentCloses() const { return m_btSilentCloses.load(); }
    int virtualFd() const { return m_vFd; }
    QString virtualPortLink() const { return m_vLink; }
    CivCommands &commands() { return *m_commands; }

signals:
    void sig_setTrxStatus(int32_t flag);
    void sig_setAtuStatus(int32_t flag);
    void sig_setTimeMinSec(int32_t min, int32_t sec);
    void sig_setUtcOffset(int32_t offset);
    void sig_setDate(int32_t year, int32_t month, int32_t day);

public slots:
    // The transport loop; returns after stop().
    void start();
    // Thread-safe: wakes the loop, which ends at once.
    void stop();
    // One panadapter trace in dBm per point (GUI thread, called directly).
    void slot_scopeDataReceiver(const QVector<float> &scopeData);
    // Consumes the receive buffer, answers every complete frame, then runs
    // the idle duties. Worker thread only.
    void slot_rxPhase();

public:
    // The mode tables of the 04 read and the 01/04/06 set, for the window's
    // dialogs.
    Q_INVOKABLE int zrm2civm_ex(int workMode);
    Q_INVOKABLE int civm2zrm_ex(int civMode);

private:
    void processFrame(const QByteArray &f);
    void sendReply(uint8_t to, const QByteArray &body);
    // streamOnly: the ports that carry the scope stream (Bluetooth and the
    // network server's), not the wired one.
    void writePorts(const QByteArray &bytes, bool streamOnly);
    void idleDuties();

    // Transport (civtransport.cpp).
    void openBluetooth();
    void closeBluetooth();
    void openVirtualPort();
    void closeVirtualPort();
    int readPort(int fd, uint8_t *buf, int size);
    // Reads what a port holds into the receive buffer; the read's result.
    int pullPort(int fd, uint8_t *buf, int size);

    ZParamAdmin *m_admin = nullptr;
    QString m_device;
    uart_t *m_uart = nullptr;
    std::unique_ptr<CivCommands> m_commands;

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
    // Closed for silence and not heard from since: while no client talks,
    // the port is opened and closed again every few seconds, and that
    // cycle is logged once, not every time.
    bool m_btQuiet = false;
    std::atomic<int> m_btSilentCloses{ 0 };
    int m_vFd = -1;    // our end of the network server's port
    bool m_vPeer = false; // the server has its end open
    QString m_vLink;
    bool m_ownPorts = false; // the loop opened the descriptors (and closes them)
    std::vector<uint8_t> m_wiredBuf;
    uint8_t m_btBuf[CIV_BT_BUFFER] = {};
    int m_wakeFd = -1; // eventfd: stop() wakes the loop's poll
    std::atomic<bool> m_stop{ false };
};

#endif
