#include "ui/xyplot.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace {
const float kMinScale = 1.0f / 1024.0f;
} // namespace

XYPlot::XYPlot(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void XYPlot::setSamples(const QVector<float> &samples)
{
    m_samples = samples;
    float peak = 0.0f;
    for (float v : samples)
        peak = qMax(peak, std::fabs(v));
    // Up with the peak at once, down by a tenth per block.
    const float target = qMax(kMinScale, peak * 1.25f);
    m_auto = target > m_auto ? target : m_auto + 0.1f * (target - m_auto);
}

void XYPlot::setFullScale(float amplitude)
{
    m_fixed = amplitude > 0.0f ? amplitude : 0.0f;
}

float XYPlot::fullScale() const
{
    return m_fixed > 0.0f ? m_fixed : m_auto;
}

void XYPlot::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0));
    const int w = width();
    const int h = height();
    const float mid = float(h - 1) / 2.0f;
    p.setPen(QColor(50, 54, 66));
    for (int i = 1; i < 4; ++i)
        p.drawLine(i * w / 4, 1, i * w / 4, h - 2);
    p.drawLine(1, h / 4, w - 2, h / 4);
    p.drawLine(1, 3 * h / 4, w - 2, 3 * h / 4);
    p.setPen(QColor(90, 98, 120));
    p.drawLine(1, int(mid), w - 2, int(mid));

    const int n = m_samples.size();
    if (n > 1) {
        const float scale = fullScale();
        QPolygonF line;
        line.reserve(n);
        for (int i = 0; i < n; ++i) {
            const float v = qBound(-1.0f, m_samples.at(i) / scale, 1.0f);
            line << QPointF(double(i) * (w - 1) / (n - 1), mid - v * (mid - 1.0f));
        }
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QColor(255, 220, 0));
        p.drawPolyline(line);
        p.setRenderHint(QPainter::Antialiasing, false);
    }
    p.setPen(QColor(90, 98, 120));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
