#include "ui/zdrawscope.h"

#include "ui/zfonts.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
const int kLeft = 22;   // dB labels
const int kBottom = 12; // frequency labels
const int kTop = 2;
const int kRight = 2;
} // namespace

ZDrawScope::ZDrawScope(QWidget *parent)
    : QWidget(parent)
{
    ZFonts::install();
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ZDrawScope::setVerticalScale(int divisions, float dbPerDivision, float floorDb)
{
    m_divisions = qMax(1, divisions);
    m_dbPerDiv = dbPerDivision > 0.0f ? dbPerDivision : 5.0f;
    m_floor = floorDb;
    update();
}

void ZDrawScope::setFrequencySpan(float hz)
{
    m_span = hz > 0.0f ? hz : 16000.0f;
    if (!m_rangeSet) {
        m_showLow = 0.0f;
        m_showHigh = m_span / 2.0f;
    }
    update();
}

void ZDrawScope::setDisplayRange(float lowHz, float highHz)
{
    if (highHz < lowHz)
        qSwap(lowHz, highHz);
    if (highHz - lowHz < 1.0f)
        highHz = lowHz + 1.0f;
    m_showLow = lowHz;
    m_showHigh = highHz;
    m_rangeSet = true;
    update();
}

void ZDrawScope::setAverage(float alpha)
{
    m_alpha = qBound(0.0f, alpha, 1.0f);
}

void ZDrawScope::setReferenceLevel(float db)
{
    m_ref = db;
    update();
}

QColor ZDrawScope::defaultColor(int index) const
{
    static const QColor colors[] = {QColor(255, 60, 60), QColor(255, 220, 0), QColor(0, 220, 255),
                                    QColor(255, 140, 0), QColor(200, 120, 255)};
    return colors[index % 5];
}

void ZDrawScope::setMarkers(const QList<QPair<QString, float>> &markers)
{
    m_markers.clear();
    for (const auto &m : markers)
        m_markers.append({m.first, m.second, defaultColor(m_markers.size())});
    update();
}

void ZDrawScope::setMarker(const QString &name, float hz, const QColor &color)
{
    for (Marker &m : m_markers) {
        if (m.name == name) {
            m.hz = hz;
            if (color.isValid())
                m.color = color;
            update();
            return;
        }
    }
    m_markers.append({name, hz, color.isValid() ? color : defaultColor(m_markers.size())});
    update();
}

void ZDrawScope::removeMarker(const QString &name)
{
    for (int i = 0; i < m_markers.size(); ++i) {
        if (m_markers.at(i).name == name) {
            m_markers.removeAt(i);
            update();
            return;
        }
    }
}

void ZDrawScope::clearMarkers()
{
    if (m_markers.isEmpty())
        return;
    m_markers.clear();
    update();
}

void ZDrawScope::setSamples(const QVector<float> &spectrum)
{
    // A spectrum of another length starts the average again.
    if (m_trace.size() != spectrum.size()) {
        m_trace = spectrum;
        return;
    }
    const float a = m_alpha;
    for (int i = 0; i < spectrum.size(); ++i)
        m_trace[i] = a * spectrum.at(i) + (1.0f - a) * m_trace.at(i);
}

void ZDrawScope::replot()
{
    update();
}

QRectF ZDrawScope::plotArea() const
{
    return QRectF(kLeft, kTop, qMax(1, width() - kLeft - kRight), qMax(1, height() - kTop - kBottom));
}

float ZDrawScope::xOf(float hz) const
{
    const QRectF a = plotArea();
    return float(a.left()) + (hz - m_showLow) / (m_showHigh - m_showLow) * float(a.width());
}

float ZDrawScope::yOf(float db) const
{
    const QRectF a = plotArea();
    const float range = float(m_divisions) * m_dbPerDiv;
    const float f = qBound(0.0f, (db - m_floor) / range, 1.0f);
    return float(a.bottom()) - f * float(a.height());
}

void ZDrawScope::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0));
    const QRectF a = plotArea();
    QFont small(QStringLiteral("DejaVu Sans Condensed"), 7);
    p.setFont(small);

    // Level grid, labelled every other division.
    for (int d = 0; d <= m_divisions; ++d) {
        const float db = m_floor + float(d) * m_dbPerDiv;
        const float y = yOf(db);
        p.setPen(QColor(50, 54, 66));
        p.drawLine(QPointF(a.left(), y), QPointF(a.right(), y));
        if (d % 2 == 0) {
            p.setPen(QColor(150, 150, 150));
            p.drawText(QRectF(0, y - 6, kLeft - 2, 12), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(int(db)));
        }
    }
    // Frequency grid at round steps of the shown range.
    const float range = m_showHigh - m_showLow;
    const float step = range > 4000.0f ? 2000.0f : range > 2000.0f ? 1000.0f : 500.0f;
    for (float f = std::ceil(m_showLow / step) * step; f <= m_showHigh; f += step) {
        const float x = xOf(f);
        p.setPen(QColor(50, 54, 66));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        p.setPen(QColor(150, 150, 150));
        const QString label = f >= 1000.0f ? QString::number(f / 1000.0f) + QStringLiteral("k")
                                           : QString::number(int(f));
        p.drawText(QRectF(x - 20, a.bottom() + 1, 40, kBottom - 1), Qt::AlignCenter, label);
    }

    // The trace, bins spread over 0 .. span/2.
    const int n = m_trace.size();
    if (n > 1) {
        const float binHz = m_span / 2.0f / float(n);
        QPainterPath line;
        bool started = false;
        for (int i = 0; i < n; ++i) {
            const float hz = float(i) * binHz;
            if (hz < m_showLow - binHz || hz > m_showHigh + binHz)
                continue;
            const QPointF pt(qBound(a.left(), double(xOf(hz)), a.right()), yOf(m_trace.at(i) + m_ref));
            if (!started) {
                line.moveTo(pt);
                started = true;
            } else {
                line.lineTo(pt);
            }
        }
        if (started) {
            QPainterPath fill = line;
            fill.lineTo(line.currentPosition().x(), a.bottom());
            fill.lineTo(line.elementAt(0).x, a.bottom());
            fill.closeSubpath();
            p.fillPath(fill, QColor(0, 170, 80, 110));
            p.setPen(QColor(80, 255, 140));
            p.drawPath(line);
        }
    }

    // Markers with their names at the top, inside the plot.
    QFont mf(QStringLiteral("DejaVu Sans Condensed"), 7);
    mf.setBold(true);
    p.setFont(mf);
    const QFontMetrics fm(mf);
    QList<QRectF> names;
    for (const Marker &m : m_markers) {
        if (m.hz < m_showLow || m.hz > m_showHigh)
            continue;
        const float x = xOf(m.hz);
        p.setPen(QPen(m.color, 1, Qt::DashLine));
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
        const int tw = fm.horizontalAdvance(m.name) + 2;
        const qreal left = qBound(a.left(), qreal(x) - tw / 2.0, a.right() - tw);
        // Markers close together (mark and space) stack their names.
        QRectF r(left, a.top(), tw, fm.height());
        for (int i = 0; i < names.size(); ++i) {
            if (names.at(i).intersects(r)) {
                r.moveTop(names.at(i).bottom());
                i = -1;
            }
        }
        names.append(r);
        p.setPen(m.color);
        p.drawText(r, Qt::AlignCenter, m.name);
    }
    p.setPen(QColor(90, 98, 120));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
