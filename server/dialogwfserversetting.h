#ifndef DIALOGWFSERVERSETTING_H
#define DIALOGWFSERVERSETTING_H

#include "ui/zpanel.h"

#include <QList>
#include <QString>

class QLabel;
class QLineEdit;
class QSettings;
class QTimer;

// Settings of the external network server (wfview's wfserver), which
// serves the radio to remote clients over the network: its settings file
// "/etc/zrradio/wfserver.ini", START/STOP through its service script, and
// whether it runs after power-up ("wfserver_enable").
//
// Keys: F1..F5 press START/STOP, DEFAULT, CLEAR, SAVE, EXIT; the
// multi-function knob moves between the six edits; releasing Enter opens
// the on-screen keyboard on the current one.
class DialogWfserverSetting : public ZPanel
{
    Q_OBJECT

public:
    // The edits, in navigation order.
    enum Field { RigName, UserName, Password, CtrlPort, CivPort, AudioPort, FieldCount };

    DialogWfserverSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int width, int height);
    ~DialogWfserverSetting() override;

    // Function buttons, one status refresh, the 1 s status timer, then the
    // modal loop.
    int exec() override;

    // The server runs exactly while its pid file exists.
    static bool isWfServerStart();
    // Starts or stops the server through the "Please Wait" dialog and
    // remembers the choice in "wfserver_enable".
    void setWfServer(bool on);
    // Writes every key of the settings file with its default; a new GUID
    // and the given password.
    static void setDefaultSettings(QSettings &settings, const QString &password);
    // Loads the six edited keys into the edits (save false), or writes the
    // non-empty edits into the file (save true). A missing file is first
    // created with every default.
    void parseSetting(bool save);

    // Power-up: when "wfserver_enable" is set, (re)issue the start command.
    // The main window's delayed start-up calls this; true when it did.
    static bool startAtPowerUp(ZParamAdmin *store);

    // The settings file under the system root, and the file created with
    // defaults when it is missing (true when it exists afterwards).
    static QString settingsFile();
    static bool ensureSettingsFile();
    // A password for a new settings file: kDefaultPasswordLength characters
    // from the system's secure random source, without look-alike
    // characters so it can be read off the screen.
    static QString randomPassword(int length = kDefaultPasswordLength);
    static const int kDefaultPasswordLength = 12;

    // The INI key of each edit ("Radios/1/RigName", ...).
    static QString fieldKey(int field);
    QLineEdit *edit(int field) const { return m_edits.value(field); }
    int currentField() const { return m_current; }
    bool lastRunning() const { return m_running; }
    QTimer *statusTimer() const { return m_statusTimer; }

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private slots:
    void slot_buttonClicked(bool checked);
    void slot_statusTimeout();

private:
    void refreshStatus();
    void selectField(int field);
    void fillDefaults(const QString &password);

    QList<QLabel *> m_labels;
    QList<QLineEdit *> m_edits;
    QLabel *m_credit = nullptr;
    int m_current = 0;
    bool m_running = false;
    QTimer *m_statusTimer = nullptr;
};

#endif
