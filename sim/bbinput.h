#ifndef BBINPUT_H
#define BBINPUT_H

#include <QHash>
#include <QObject>
#include <QString>

#include <cstdint>

class BbBoard;

// The radio's front-panel input devices as FIFOs dev/input/event0..event4,
// carrying events in the machine's native struct input_event layout, each
// followed by a synchronisation report as a kernel device sends it:
//
//   event0  front-panel keys (EV_KEY, every code but the power key)
//   event1  tuning dial (EV_REL code 0)
//   event2  small knob (EV_REL code 1)
//   event3  multi-function knob (EV_REL code 2)
//   event4  power key (EV_KEY code 116)
//
// Turning a knob by N steps sends N events of one count each; a positive N
// is clockwise, which raises the frequency, the small-knob item and the
// multi-function item. The encoders count the way the application expects
// of the radio's: the dial +1 per clockwise step, the small and the
// multi-function knob -1.
//
// The hand-microphone keys are not input devices: the board scans them and
// reports the key word in its frames.
class BbInput : public QObject
{
    Q_OBJECT

public:
    enum Device { Keys = 0, Dial = 1, Knob = 2, Mfk = 3, Power = 4, DeviceCount = 5 };

    BbInput(BbBoard *board, QObject *parent = nullptr);
    ~BbInput() override;

    // Creates the FIFOs under root (an existing FIFO is kept, so that an
    // application that has it open keeps reading it).
    bool start(const QString &root);

    // The control commands; each returns its reply line.
    QString key(int code, int ms);
    QString turn(Device device, int steps);
    QString mic(uint32_t code, int ms);

private:
    int writer(Device device);
    QString send(Device device, const void *data, size_t len);
    QString relPath(Device device) const;

    BbBoard *m_board;
    QString m_root;
    int m_fd[DeviceCount] = {-1, -1, -1, -1, -1};
    QHash<int, quint64> m_keyHold; // key code -> press generation
    quint64 m_generation = 0;
    quint64 m_micGeneration = 0;
};

#endif
