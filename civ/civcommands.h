#ifndef CIVCOMMANDS_H
#define CIVCOMMANDS_H

// The CI-V command set of the radio: for each request, what it reads or
// changes in the parameter store and what it is answered. The table of
// commands is at the top of civcommands.cpp; the level (14h) and switch
// (16h) tables follow it.
//
// A frame here is what the parser hands over: the bytes between the
// preamble and FDh, that is destination, source, command, sub-command and
// data (a bare read-frequency request FE FE A4 E0 03 FD is the three bytes
// A4 E0 03). A handler builds the reply body: a data reply that repeats the
// command, FBh (OK) or FAh (NG); it returns false for a request the radio
// does not support, which gets no reply.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class CivDevice;
class CivMorse;
class ZParamAdmin;

class CivCommands
{
public:
    explicit CivCommands(CivDevice &device);
    ~CivCommands();
    CivCommands(const CivCommands &) = delete;
    CivCommands &operator=(const CivCommands &) = delete;

    void setStore(ZParamAdmin *store) { m_store = store; }

    // Builds the reply body of a frame of at least three bytes; false when
    // the request is not supported.
    bool dispatch(const QByteArray &f, QByteArray &body);

    // The CW keyer of the send-Morse request.
    CivMorse &morse() { return *m_morse; }

private:
    using Handler = bool (CivCommands::*)(const QByteArray &f, QByteArray &body);
    struct Command
    {
        uint8_t code;
        Handler handler;
        const char *what;
    };
    static const Command kCommands[];

    // A RIT or XIT switch. The store has one item per offset ("rit",
    // "xit"), which the board applies as it stands: 0 is off, as on the
    // front panel. Switching off from the port puts the operator's offset
    // aside here (for as long as the application runs) and stores 0;
    // switching on stores it again. Switched on at offset 0, the switch
    // reads as on until the item changes.
    struct OffsetSwitch
    {
        enum State { Plain, SwitchedOff, SwitchedOnAtZero };
        State state = Plain;
        int kept = 0;

        // An offset set since (on the front panel, or with 21 00) is the
        // operator's and means on.
        void settle(int value)
        {
            if (value != 0)
                state = Plain;
        }
        bool on(int value) const { return value != 0 || state == SwitchedOnAtZero; }
        bool switchedOff() const { return state == SwitchedOff; }
    };

    // ---- Handlers, in the order of the table ----
    bool setFrequency(const QByteArray &f, QByteArray &body);    // 00, 05
    bool setMode(const QByteArray &f, QByteArray &body);         // 01, 06
    bool bandEdges(const QByteArray &f, QByteArray &body);       // 02
    bool readFrequency(const QByteArray &f, QByteArray &body);   // 03
    bool readOrSetMode(const QByteArray &f, QByteArray &body);   // 04
    bool vfoSelect(const QByteArray &f, QByteArray &body);       // 07
    bool offset(const QByteArray &f, QByteArray &body);          // 0C
    bool split(const QByteArray &f, QByteArray &body);           // 0F
    bool attenuator(const QByteArray &f, QByteArray &body);      // 11
    bool level(const QByteArray &f, QByteArray &body);           // 14
    bool meter(const QByteArray &f, QByteArray &body);           // 15
    bool switches(const QByteArray &f, QByteArray &body);        // 16
    bool sendMorse(const QByteArray &f, QByteArray &body);       // 17
    bool powerState(const QByteArray &f, QByteArray &body);      // 18
    bool transceiverId(const QByteArray &f, QByteArray &body);   // 19
    bool items1A(const QByteArray &f, QByteArray &body);         // 1A
    bool tones(const QByteArray &f, QByteArray &body);           // 1B
    bool transmit(const QByteArray &f, QByteArray &body);        // 1C
    bool item1D(const QByteArray &f, QByteArray &body);          // 1D
    bool ritXit(const QByteArray &f, QByteArray &body);          // 21
    bool vfoFrequency(const QByteArray &f, QByteArray &body);    // 25
    bool vfoMode(const QByteArray &f, QByteArray &body);         // 26
    bool scope(const QByteArray &f, QByteArray &body);           // 27

    void bandStackRecord(const QByteArray &f, QByteArray &body);
    void filterWidth(QByteArray &body);
    bool dataMode(const QByteArray &f, QByteArray &body);
    bool itemOfMenu(const QByteArray &f, QByteArray &body);
    bool switchOffset(OffsetSwitch &sw, const QString &key, bool on);
    // The switch, settled against the item's value now.
    OffsetSwitch &settled(OffsetSwitch &sw, const QString &key);

    // ---- Store access ----
    int wparamInt(const QString &key);
    int frontInt(const QString &key);
    int groupNumber();
    void setGroupFromWire(int f);
    QString selectedVfo(bool selected);
    // Stores a value the controller sent when it lies in the item's range;
    // false (nothing stored) otherwise.
    bool setChecked(const QString &group, const QString &key, qint64 value);
    // Stores a "wparam" value clamped to the item's range.
    void setClamped(const QString &key, int value);
    // A frequency the radio does not tune is refused (false): every path
    // that sets one, for either VFO, has the front panel's limits.
    bool setVfoFreq(bool selected, qint64 freq);
    bool setVfoMode(bool selected, int mode);
    // Level scaling of a "wparam" item onto 0..255 and back; the transmit
    // power has an exact scale of its own.
    int wparamToByte(const QString &key);
    void byteToWParam(const QString &key, int byte);
    int powerToByte();
    void byteToPower(int byte);

    CivDevice &m_dev;
    ZParamAdmin *m_store = nullptr;
    OffsetSwitch m_rit;
    OffsetSwitch m_xit;
    std::unique_ptr<CivMorse> m_morse;
};

#endif
