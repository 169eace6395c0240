#ifndef DIALOGWLANSETTING_H
#define DIALOGWLANSETTING_H

#include "ui/zpanel.h"
#include "wireless/wifimanager.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QStackedWidget;
class QTimer;
class ZParamAdmin;

// The WLAN settings panel. Its main page lists the networks NetworkManager
// sees (name, strength, secured; the connected one ticked, saved ones
// marked) beside the active connection's details (address, netmask,
// gateway, DNS, DHCP or static, autoconnect); its second page is the IPv4
// form (DHCP or static address, prefix, gateway, two DNS servers) of the
// selected network's saved connection. Every change goes through
// WiFiManager; its outcome shows in the status line.
//
// Main page: the knobs move the selection; F1 or Enter connects the
// selected saved network or disconnects the connected one, F2 changes its
// password (on-screen keyboard), F3 opens its IPv4 form, F4 switches its
// autoconnect, F5 closes the panel.
// IPv4 form: the multi-function knob moves between the fields, the tuning
// dial changes the mode or the prefix; F1 or Enter edits the field
// (on-screen keyboard) or switches the mode, F2 switches between DHCP and static, F4
// applies (and reconnects an active connection so the change takes
// effect), F5 goes back without changes.
class DialogWlanSetting : public ZPanel
{
    Q_OBJECT

public:
    // client: NetworkManager's client of the main window (borrowed; null:
    // the panel makes its own).
    DialogWlanSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h, NMClient *client = nullptr);
    ~DialogWlanSetting() override;

    // How the panel has text typed (ZKeyboard::edit by default): returns
    // QDialog::Accepted when the target's new text is to be used.
    using TextEditor = std::function<int(QWidget *parent, QLineEdit *target, int type)>;
    static void setTextEditor(TextEditor editor);

    // What the operator sees, for the tests.
    enum Page { Networks = 0, Ipv4Form = 1 };
    int page() const;
    QListWidget *networkList() const { return m_list; }
    QList<WifiAccessPoint> networks() const { return m_aps; }
    int selectedNetwork() const;
    QString detailText() const;      // the details column, one "KEY value" per line
    QString statusText() const;
    int selectedField() const { return m_field; }
    QLineEdit *field(int i) const;   // 0 address, 1 gateway, 2 DNS 1, 3 DNS 2
    bool formDhcp() const { return m_formDhcp; }
    int formPrefix() const { return m_formPrefix; }
    int pendingOperations() const { return m_pending; }

public slots:
    void accessPointAdded(QString ssid, int rssi);
    // Reads NetworkManager again (also every second by itself).
    void refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum FormRow { RowMode, RowAddress, RowPrefix, RowGateway, RowDns1, RowDns2, RowCount };

    void buildNetworksPage();
    void buildFormPage();
    void showPage(int page);
    void updateButtons();
    void functionKey(int i);
    void enterKey();
    void moveSelection(int d);
    void changeValue(int d);
    void refreshList();
    void refreshDetails(bool force);
    void setStatus(const QString &text, int kind); // 0 info, 1 success, 2 failure
    WifiOperationContext context(const QString &what, std::function<void()> next = {});
    const WifiAccessPoint *selected() const;

    void connectOrDisconnect();
    void changePassword();
    void openForm();
    void toggleAutoconnect();
    void editField(int row);
    void applyForm();
    void selectField(int row);
    void showForm();

    NMClient *m_client = nullptr;
    unsigned long m_apWatch = 0;
    QWidget *m_body = nullptr;
    QStackedWidget *m_pages = nullptr;
    QListWidget *m_list = nullptr;
    QLabel *m_details = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_timer = nullptr;
    QList<WifiAccessPoint> m_aps;
    QString m_listSignature;
    QString m_detailSignature;
    int m_pending = 0;
    bool m_enterDown = false;

    // The form and the connection it edits.
    QString m_formUuid;
    QString m_formSsid;
    bool m_formDhcp = true;
    int m_formPrefix = 24;
    int m_field = 0;
    QList<QWidget *> m_formRows;
    QLabel *m_modeValue = nullptr;
    QLabel *m_prefixValue = nullptr;
    QLineEdit *m_fields[4] = {};
    QLabel *m_formTitle = nullptr;
};

#endif
