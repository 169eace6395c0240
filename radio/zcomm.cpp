#include "radio/zcomm.h"

ZComm::ZComm(QObject *parent)
    : QObject(parent)
{
}
