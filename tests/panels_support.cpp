#include "tests/panels_support.h"

#include <QDir>
#include <QPixmap>

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

} // namespace pantest
