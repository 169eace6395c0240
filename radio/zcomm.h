#ifndef ZCOMM_H
#define ZCOMM_H

#include <QObject>

// Object-model anchor of the radio link; it has no signals, slots or state
// of its own.
class ZComm : public QObject
{
    Q_OBJECT

public:
    explicit ZComm(QObject *parent = nullptr);
};

#endif
