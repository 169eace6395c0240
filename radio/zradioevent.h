#ifndef ZRADIOEVENT_H
#define ZRADIOEVENT_H

#include <QEvent>

#include <cstdint>

// A short or long press of a front-panel key that supports a long press,
// posted by the input thread to the active window. The value is the key
// code of the input device (207, 208, ...).
class ZRadioEvent : public QEvent
{
public:
    static const QEvent::Type ShortPress = QEvent::Type(QEvent::User);    // 1000
    static const QEvent::Type LongPress = QEvent::Type(QEvent::User + 1); // 1001

    ZRadioEvent(QEvent::Type type, uint32_t value)
        : QEvent(type)
        , m_value(value)
    {
    }

    uint32_t value() const { return m_value; }

private:
    uint32_t m_value;
};

#endif
