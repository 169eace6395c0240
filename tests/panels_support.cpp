#include "tests/panels_support.h"

#include "ui/zkeyboard.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace pantest {

void saveShot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("ZR450_PANEL_SHOTS");
    if (dir.isEmpty() || !w)
        return;
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

bool childrenFitWithoutOverlap(QWidget *w, QString *why)
{
    QList<QWidget *> kids;
    for (QObject *o : w->children()) {
        auto *c = qobject_cast<QWidget *>(o);
        if (c && c->isVisibleTo(w) && !c->isWindow())
            kids.append(c);
    }
    for (int i = 0; i < kids.size(); ++i) {
        const QRect r = kids.at(i)->geometry();
        if (!w->rect().contains(r)) {
            *why = kids.at(i)->objectName() + QStringLiteral(" leaves the panel");
            return false;
        }
        for (int k = i + 1; k < kids.size(); ++k) {
            if (r.intersects(kids.at(k)->geometry())) {
                *why = kids.at(i)->objectName() + QStringLiteral(" overlaps ") + kids.at(k)->objectName();
                return false;
            }
        }
    }
    return true;
}

bool knobPress(ZKeyboard *kb, int i)
{
    for (int guard = 0; kb->highlightedKey() != i && guard < 2 * kb->keyCount(); ++guard)
        turnKnob(kb, -1);
    if (kb->highlightedKey() != i)
        return false;
    tapKey(kb, Qt::Key_Enter);
    return true;
}

bool knobType(ZKeyboard *kb, const QString &text)
{
    for (QChar c : text) {
        if (c == QLatin1Char(' ')) {
            tapKey(kb, Qt::Key_F3);
            continue;
        }
        if (c.isLetter() && kb->type() == ZKeyboard::Text) {
            if (kb->showsSymbols() && !knobPress(kb, kLayerKey))
                return false;
            if (c.isUpper() != kb->isShifted())
                tapKey(kb, Qt::Key_F1);
        }
        int i = kb->keyIndexOf(c);
        if (i < 0 && kb->type() == ZKeyboard::Text) {
            if (!knobPress(kb, kLayerKey))
                return false;
            i = kb->keyIndexOf(c);
        }
        if (i < 0 || !knobPress(kb, i))
            return false;
    }
    return true;
}

namespace {
int g_failedKeyboardSteps = 0;

ZKeyboard *openKeyboard()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *kb = qobject_cast<ZKeyboard *>(w);
        if (kb && kb->isVisible())
            return kb;
    }
    return nullptr;
}
} // namespace

void whenKeyboardOpens(const std::function<void(ZKeyboard *)> &f)
{
    // Polled by a zero-interval timer: it runs inside the keyboard's modal
    // loop as soon as that loop processes events.
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, f]() {
        ZKeyboard *kb = openKeyboard();
        if (!kb && ++*tries < 100000)
            return;
        timer->stop();
        timer->deleteLater();
        if (!kb) {
            ++g_failedKeyboardSteps;
            return;
        }
        f(kb);
    });
    timer->start(0);
}

int failedKeyboardSteps()
{
    return g_failedKeyboardSteps;
}

} // namespace pantest
