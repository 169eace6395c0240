#ifndef MAINWIDGET_H
#define MAINWIDGET_H

#include <QWidget>

class QTimer;
struct zradio_t;

// The one top-level window (800 × 480, the whole touch screen). It owns the
// radio link and every subsystem that runs for the life of the process.
class MainWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MainWidget(QWidget *parent = nullptr);
    ~MainWidget() override;

public slots:
    void slot_timerUpdate();
    void slot_delayInitProcess();

private:
    zradio_t *m_radio = nullptr;
    QTimer *m_updateTimer = nullptr;
    bool m_firstTick = true;
};

#endif
