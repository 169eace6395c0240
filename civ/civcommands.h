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

class CivDevice;
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

private:
    using Handler = bool (CivCommands::*)(const QByteArray &f, QByteArray &body);
    struct Command
    {
        uint8_t code;
        Handler handler;
        const char *what;
    };
    static const Command kCommands[];

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
    // A frequency outside the item's range is refused (false).
    bool setVfoFreq(bool selected, qint64 freq);
    bool setVfoMode(bool selected, int mode);
    // Level scaling of a "wparam" item onto 0..255 and back.
    int wparamToByte(const QString &key);
    void byteToWParam(const QString &key, int byte);

    CivDevice &m_dev;
    ZParamAdmin *m_store = nullptr;
};

#endif
