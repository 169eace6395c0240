#ifndef DIALOGFACTORYRESET_H
#define DIALOGFACTORYRESET_H

#include "ui/zpanel.h"

#include <QStringList>

class QLabel;

// "FACTORY RESET": erases everything the operator has stored (the
// parameter database, voice recordings, saved WiFi settings and the network
// manager's connections) and restarts the radio. OK arms it, a second OK
// within the same opening resets; CANCEL closes it and forgets the arming.
class DialogFactoryReset : public ZPanel
{
    Q_OBJECT

public:
    DialogFactoryReset(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogFactoryReset() override;

    int exec() override;

    bool isArmed() const { return m_armed; }
    QLabel *messageLabel() const { return m_message; }
    // The removals and "sync", in order, as they are run.
    static QStringList resetCommands();

private slots:
    void slot_buttonClicked(bool checked);

private:
    // Removes the stored state, powers the board off and reboots; does not
    // return in normal operation.
    void reset();

    bool m_armed = false;
    QLabel *m_message = nullptr;
};

#endif
