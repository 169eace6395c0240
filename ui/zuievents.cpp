#include "ui/zuievents.h"
#include "radio/zradioevent.h"

#include <QCoreApplication>
#include <QWidget>

bool zui_repost_radio_event(QWidget *target, const QEvent *event)
{
    if (!event || (event->type() != ZRadioEvent::ShortPress && event->type() != ZRadioEvent::LongPress))
        return false;
    const auto *e = static_cast<const ZRadioEvent *>(event);
    if (target)
        QCoreApplication::postEvent(target, new ZRadioEvent(e->type(), e->value()));
    return true;
}
