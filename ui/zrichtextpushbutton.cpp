#include "ui/zrichtextpushbutton.h"
#include "app/zutilites.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

ZRichTextPushButton::ZRichTextPushButton(QWidget *parent)
    : QPushButton(parent)
{
    setAutoDefault(false);
}

void ZRichTextPushButton::setText(int flags, const QString &s)
{
    bool changed = false;
    if ((flags & Text1) && m_text1 != s) {
        m_text1 = s;
        changed = true;
    }
    if ((flags & Text2) && m_text2 != s) {
        m_text2 = s;
        changed = true;
    }
    if (changed)
        update();
}

void ZRichTextPushButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    opt.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, opt);

    const QRect r = rect().adjusted(3, 3, -3, -3);
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QColor fg = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                      QPalette::ButtonText);
    const int half = r.height() / 2;

    if (!m_text1.isEmpty()) {
        QFont f = font();
        f.setPointSize(qMax(8, int(font().pointSize() * 0.7)));
        f.setPointSize(ZUtilites::autoFontSize(m_text1, f, r.width()));
        p.setFont(f);
        QColor c = fg;
        c.setAlpha(200);
        p.setPen(c);
        p.drawText(QRect(r.left(), r.top(), r.width(), half), Qt::AlignCenter, m_text1);
    }
    if (!m_text2.isEmpty()) {
        QFont f = font();
        f.setPointSize(ZUtilites::autoFontSize(m_text2, f, r.width()));
        p.setFont(f);
        p.setPen(fg);
        p.drawText(QRect(r.left(), r.top() + half, r.width(), r.height() - half), Qt::AlignCenter,
                   m_text2);
    }
}
