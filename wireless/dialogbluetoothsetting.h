#ifndef DIALOGBLUETOOTHSETTING_H
#define DIALOGBLUETOOTHSETTING_H

#include "ui/zpanel.h"
#include "wireless/zbluetooth.h"

#include <QList>
#include <QString>

class QLabel;
class QListWidget;
class ZParamAdmin;

// The Bluetooth settings panel: the adapter's power (the "bten" item,
// which the main window hands on to the wireless daemon, and BlueZ's
// adapter itself) and the paired devices with their state. The knobs move
// the selection; F1 switches the power, F2 or Enter connects or
// disconnects the selected device, F5 closes the panel.
class DialogBluetoothSetting : public ZPanel
{
    Q_OBJECT

public:
    // bluetooth: the main window's manager (borrowed; null: the panel
    // makes its own).
    DialogBluetoothSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h,
                           ZBluetooth *bluetooth = nullptr);
    ~DialogBluetoothSetting() override;

    // What the operator sees, for the tests.
    QListWidget *deviceList() const { return m_list; }
    QList<ZBluetoothDevice> devices() const { return m_devices; }
    int selectedDevice() const;
    QString powerText() const;
    QString statusText() const;

public slots:
    void refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void functionKey(int i);
    void togglePower();
    void connectOrDisconnect();
    void setStatus(const QString &text, int kind); // 0 info, 1 success, 2 failure
    void updateButtons();

    ZBluetooth *m_bt = nullptr;
    bool m_ownBt = false;
    QWidget *m_body = nullptr;
    QLabel *m_power = nullptr;
    QLabel *m_adapter = nullptr;
    QListWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
    QList<ZBluetoothDevice> m_devices;
    QString m_signature;
    bool m_enterDown = false;
};

#endif
