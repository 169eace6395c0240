#include "ui/ztwinfilterwidget.h"

#include "ui/zfonts.h"

#include <QPainter>

using zrnamespace::ztwinfilter_fp_t;

namespace {
const int kNameWidth = 40;  // left column: the filter's name
const int kWidthText = 44;  // right column: the pass band's width
} // namespace

ZTwinFilterWidget::ZTwinFilterWidget(QWidget *parent)
    : QWidget(parent)
{
    ZFonts::install();
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ZTwinFilterWidget::setRange(float low, float high)
{
    if (high < low)
        qSwap(low, high);
    if (low == m_low && high == m_high)
        return;
    m_low = low;
    m_high = high;
    update();
}

void ZTwinFilterWidget::setPassBands(const ztwinfilter_fp_t &fp1, const ztwinfilter_fp_t &fp2)
{
    if (fp1.low == m_fp1.low && fp1.high == m_fp1.high && fp2.low == m_fp2.low && fp2.high == m_fp2.high)
        return;
    m_fp1 = fp1;
    m_fp2 = fp2;
    update();
}

void ZTwinFilterWidget::setEditedBand(int index)
{
    index = index == 1 ? 1 : 0;
    if (index == m_edited)
        return;
    m_edited = index;
    update();
}

void ZTwinFilterWidget::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

QRectF ZTwinFilterWidget::bandArea() const
{
    return QRectF(kNameWidth, 2, qMax(1, width() - kNameWidth - kWidthText), qMax(1, height() - 4));
}

float ZTwinFilterWidget::xOf(float hz) const
{
    const QRectF a = bandArea();
    const float span = m_high - m_low;
    if (span <= 0.0f)
        return float(a.left());
    const float f = (hz - m_low) / span;
    return float(a.left()) + qBound(0.0f, f, 1.0f) * float(a.width());
}

void ZTwinFilterWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0));
    const QRectF a = bandArea();
    p.setRenderHint(QPainter::Antialiasing, false);

    // The range: a base line with a mark at its centre.
    const float base = float(a.bottom()) - 1.0f;
    p.setPen(QColor(90, 98, 120));
    p.drawLine(QPointF(a.left(), base), QPointF(a.right(), base));
    const float centre = xOf((m_low + m_high) / 2.0f);
    p.drawLine(QPointF(centre, a.top()), QPointF(centre, base));

    // Each pass band as a bar in the upper or lower half; the edited one
    // bright, the other dim; the overlap filled across the full height.
    const float half = float(a.height() - 2) / 2.0f;
    const ztwinfilter_fp_t bands[2] = {m_fp1, m_fp2};
    for (int i = 0; i < 2; ++i) {
        const float x0 = xOf(bands[i].low);
        const float x1 = xOf(bands[i].high);
        const QRectF r(x0, a.top() + i * half, qMax(1.0f, x1 - x0), half - 1.0f);
        const bool edited = i == m_edited;
        p.fillRect(r, edited ? QColor(0, 190, 255) : QColor(0, 80, 120));
    }
    const float ovLow = qMax(m_fp1.low, m_fp2.low);
    const float ovHigh = qMin(m_fp1.high, m_fp2.high);
    if (ovHigh > ovLow) {
        const float x0 = xOf(ovLow);
        const float x1 = xOf(ovHigh);
        p.setPen(QColor(255, 220, 0));
        p.drawLine(QPointF(x0, a.top()), QPointF(x0, base));
        p.drawLine(QPointF(x1, a.top()), QPointF(x1, base));
        p.drawLine(QPointF(x0, base), QPointF(x1, base));
    }

    QFont f(QStringLiteral("DejaVu Sans Condensed"), 9);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, kNameWidth - 2, height()), Qt::AlignLeft | Qt::AlignVCenter, m_name);
    const int bw = ovHigh > ovLow ? int(ovHigh - ovLow + 0.5f) : 0;
    const QString widthText = bw >= 1000 ? QString::number(bw / 1000.0, 'f', 1) + QStringLiteral("k")
                                         : QString::number(bw);
    p.setPen(QColor(200, 200, 200));
    p.drawText(QRect(width() - kWidthText, 0, kWidthText, height()), Qt::AlignRight | Qt::AlignVCenter,
               widthText);
}
