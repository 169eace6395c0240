#ifndef ZWIRELESSSERVICES_H
#define ZWIRELESSSERVICES_H

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <cstdint>

class QAbstractButton;
class QFont;
class QObject;
class QWidget;
class ZBluetooth;

typedef struct _NMClient NMClient;
typedef struct _NMDeviceWifi NMDeviceWifi;
typedef struct _NMAccessPoint NMAccessPoint;

// The main window's wireless services: the wireless-manager daemon's
// commands and status stream, and the WiFi and Bluetooth indicators of the
// status bar.
namespace zwireless {

// ---------------------------------------------------------------- daemon

// {"action":"set_wifi","enabled":on} and {"action":"set_bt","enabled":on}.
QJsonObject wifiEnableCommand(bool on);
QJsonObject btEnableCommand(bool on);

// The daemon's command line for one object: echo '<compact JSON>' | socat -
// UNIX-CONNECT:/tmp/wlmng.sock. The JSON is quoted for the shell as one
// word, so nothing in it can reach the shell as a command.
QString daemonCommandLine(const QJsonObject &command);
// Runs it through the command runner (blocking; exit status as returned).
int runDaemonCommand(const QJsonObject &command);

// The cached "wifien" and "bten" bytes of the update tick. Each starts at
// 127, so the first update sends both commands; after that a command goes
// out only when its item changed.
class ZWirelessEnables
{
public:
    void update(int wifien, int bten);

private:
    uint8_t m_wifien = 127;
    uint8_t m_bten = 127;
};

// Reads everything the daemon's status descriptor has now (never blocks,
// also on a blocking descriptor) and returns the complete lines that are
// JSON objects, in order. Blank lines are skipped, malformed ones logged
// and skipped; an unterminated last line stays in buffer for the next call.
// A line longer than maxLineBytes is dropped (logged) so that a stream
// without newlines cannot grow the buffer without bound. *closed, when
// given, tells whether the writer has closed its end.
QList<QVariantMap> readAndParseJsonLines(int fd, QByteArray &buffer, bool *closed = nullptr);
constexpr int maxLineBytes = 65536;

// Writes one command object to the daemon's FIFO "/tmp/wireless_cmd_pipe"
// without blocking; false when no daemon reads it or not all was written.
bool sendWirelessCommand(const QJsonObject &command);

// --------------------------------------------------------- WiFi indicator

// Signal strength in percent of a level in dBm: clamp((dBm + 100) * 2, 0, 100).
int rssiToPercent(double dbm);
// The WiFi button's glyph for a strength in percent: U+F2E5 (0..24),
// U+F2E6 (25..49), U+F2E7 (50..74), U+F2E8 (75..100).
QString signalGlyph(int percent);
// The glyph the button shows in its font: the strength glyph where the font
// has it, else U+F1EB (FontAwesome's WiFi glyph).
QString shownSignalGlyph(const QFont &font, int percent);

// The status bar's WiFi button and its "!" mark (no internet).
class ZWifiIndicator
{
public:
    ZWifiIndicator(QAbstractButton *wifiButton, QWidget *noInternetMark);

    // A connection of the strength (percent): the button shows the glyph,
    // the mark shows when there is no internet.
    void apRssiChanged(int percent, bool hasInternet = true);
    // No WiFi: button and mark hidden.
    void hide();
    // Called every second: on the first call and every tenth after, reads
    // NetworkManager's active WiFi connection and its connectivity. Returns
    // whether it looked.
    bool networkMonitor(NMClient *client);
    // The daemon's status objects: "wifi" ones set the indicator, others
    // are ignored.
    void applyStatus(const QVariantMap &status);

private:
    QPointer<QAbstractButton> m_button;
    QPointer<QWidget> m_mark;
    int m_counter = 0;
};

// The Bluetooth button is visible exactly while a device is connected.
void updateBluetoothIndicator(QWidget *bluetoothButton, const ZBluetooth *bluetooth);

// ---------------------------------------------------------- access points

// NetworkManager's "access-point-added" handler: a named access point is
// passed to the window's accessPointAdded(QString ssid, int strength) slot
// (or invokable) with a queued call. window is a QObject.
void onAccessPointAdded(NMDeviceWifi *device, NMAccessPoint *ap, void *window);
// Connects onAccessPointAdded to the first WiFi device of the client for
// window, which may be deleted before the device; 0 when there is no WiFi
// device. Undo with unwatchAccessPoints.
unsigned long watchAccessPoints(NMClient *client, QObject *window);
void unwatchAccessPoints(NMClient *client, unsigned long handler);

} // namespace zwireless

#endif
