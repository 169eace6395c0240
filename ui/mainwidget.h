#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include <QWidget>

class QTimer;
class ZParamAdmin;

// The one top-level window (800 × 480, the whole touch screen). It owns the
// radio link and every subsystem that runs for the life of the process.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

    // The parameter store (owned here until the radio link owns it).
    ZParamAdmin *paramAdmin() const { return m_paramAdmin; }

public slots:
    void slot_timerUpdate();
    void slot_delayInitProcess();

private:
    QTimer *m_updateTimer = nullptr;
    ZParamAdmin *m_paramAdmin = nullptr;
    bool m_firstTick = true;
};

#endif
