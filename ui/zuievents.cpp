#include "ui/zuievents.h"
#include "radio/zradioevent.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
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

namespace {

bool activatable(const QWidget *w)
{
    if (!w || !w->isWindow())
        return false;
    const Qt::WindowType t = w->windowType();
    return t == Qt::Window || t == Qt::Dialog;
}

class ZWindowActivation : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::Hide)
            return false;
        if (!watched->isWidgetType())
            return false;
        auto *w = static_cast<QWidget *>(watched);
        if (!activatable(w))
            return false;
        if (type == QEvent::Show) {
            w->activateWindow();
            return false;
        }
        // Hidden: only the active window (or, once the platform has taken
        // the activation away, none) hands it on.
        QWidget *active = QApplication::activeWindow();
        if (active && active != w)
            return false;
        for (QWidget *p = w->parentWidget(); p; p = p->window()->parentWidget()) {
            QWidget *win = p->window();
            if (win != w && win->isVisible()) {
                win->activateWindow();
                return false;
            }
        }
        return false;
    }
};

QPointer<ZWindowActivation> g_activation;

} // namespace

void zui_follow_window_activation()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || g_activation || !qobject_cast<QApplication *>(app))
        return;
    g_activation = new ZWindowActivation(app);
    app->installEventFilter(g_activation);
}
