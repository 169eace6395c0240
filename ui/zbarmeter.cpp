#include "ui/zbarmeter.h"

#include "app/zqrc.h"
#include "ui/zfonts.h"

#include <QPainter>
#include <QProgressBar>

ZBarMeter::ZBarMeter(QWidget *parent, int width, int barHeight)
    : QWidget(parent)
    , m_barHeight(qMax(4, barHeight))
{
    ZFonts::install();
    setFixedSize(width, m_barHeight + scaleHeight());
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("meterBar"));
    m_bar->setGeometry(0, 0, width, m_barHeight);
    m_bar->setTextVisible(false);
    m_bar->setRange(m_min, m_max);
    m_bar->setValue(m_min);
    m_font = QFont(QStringLiteral("DejaVu Sans Condensed"), 7);
    m_font.setBold(true);
    setBarProps(0, 2, 3, 3, QStringLiteral("rgb(255,255,255)"), 3, 0);
}

void ZBarMeter::setRange(int min, int max)
{
    if (max < min)
        qSwap(min, max);
    m_min = min;
    m_max = max;
    m_bar->setRange(min, max);
    setValue(m_value);
}

void ZBarMeter::setValue(int value)
{
    m_value = qBound(m_min, value, m_max);
    m_bar->setValue(m_value);
}

void ZBarMeter::setScale(const QList<float> &positions, const QStringList &labels)
{
    if (positions == m_positions && labels == m_labels)
        return;
    m_positions = positions;
    m_labels = labels;
    m_dirty = true;
    update();
}

void ZBarMeter::setTickColors(const QList<QColor> &colors)
{
    if (colors == m_colors)
        return;
    m_colors = colors;
    m_dirty = true;
    update();
}

QString ZBarMeter::barStyle(int frameTop, int frameBottom, int segmentTop, int segmentBottom,
                            const QString &segmentColor, int segmentWidth, int margin)
{
    return ZQRC::getQssFromQrcFile(QStringLiteral(":/zprogbar_template.qss"))
        .arg(frameTop)
        .arg(frameBottom)
        .arg(segmentTop)
        .arg(segmentBottom)
        .arg(segmentColor)
        .arg(segmentWidth)
        .arg(margin);
}

void ZBarMeter::setBarProps(int frameTop, int frameBottom, int segmentTop, int segmentBottom,
                            const QString &segmentColor, int segmentWidth, int margin)
{
    m_bar->setStyleSheet(barStyle(frameTop, frameBottom, segmentTop, segmentBottom, segmentColor,
                                  segmentWidth, margin));
}

void ZBarMeter::replot()
{
    if (m_dirty)
        update();
}

void ZBarMeter::paintEvent(QPaintEvent *)
{
    m_dirty = false;
    QPainter p(this);
    const int w = width();
    const QRect scale(0, m_barHeight, w, scaleHeight());
    p.fillRect(scale, Qt::black);
    p.setFont(m_font);
    const QFontMetrics fm(m_font);
    for (int i = 0; i < m_positions.size(); ++i) {
        const QColor c = i < m_colors.size() ? m_colors.at(i) : QColor(Qt::white);
        const int x = qBound(0, int(m_positions.at(i) * float(w - 1) + 0.5f), w - 1);
        p.setPen(c);
        p.drawLine(x, m_barHeight, x, m_barHeight + 2);
        const QString label = m_labels.value(i).trimmed();
        if (label.isEmpty())
            continue;
        // Centred on its tick, kept inside the widget at both ends.
        const int tw = fm.horizontalAdvance(label);
        const int left = qBound(0, x - tw / 2, w - tw);
        p.drawText(QRect(left, m_barHeight + 2, tw, scaleHeight() - 2), Qt::AlignCenter, label);
    }
}
