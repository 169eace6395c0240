#include "spectrum/zscopegl.h"

#include "params/zparamtypes.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const float kFloorDb = -145.0f;
// Repaints after switching peak hold on before peaks are kept, so the first
// frames of a fresh trace do not leave a stale peak behind.
const int kPeakStartDelay = 10;
// The automatic reference starts looking at the trace after this many frames.
const int kRefSettleFrames = 50;
const int kRefChecks = 10;
const float kRefTolerance = 6.0f;

QString kiloHertzLabel(double khz)
{
    static const QRegularExpression trailing(QStringLiteral("(\\.){0,1}0+$"));
    QString s = QString::number(khz, 'f', 3);
    s.remove(trailing);
    return s;
}

} // namespace

ZScopeGL::ZScopeGL(QWidget *parent, int x, int y, int w, int h)
    : QOpenGLWidget(parent)
    , m_labelFont(QStringLiteral("Bahnschrift SemiBold SemiConden"), 12)
    , m_arrowFont(QStringLiteral("DejaVu Sans Mono"), 22)
    , m_statusFont(QStringLiteral("DejaVu Sans Mono"), 14)
{
    m_arrowFont.setBold(true);
    setGeometry(x, y, w, h);
    m_peakStartDelay = kPeakStartDelay;
    recalcVals();
}

ZScopeGL::~ZScopeGL() = default;

float ZScopeGL::peakHoldType2(float value, float peak, float decay, int &counter, int hold)
{
    if (value > peak) {
        counter = hold;
        return value;
    }
    if (counter > 0) {
        --counter;
        return peak;
    }
    if (peak > 0)
        return peak * (1.0f - decay);
    if (peak < 0)
        return peak * (1.0f + decay);
    return peak;
}

void ZScopeGL::recalcVals()
{
    const int w = qMax(1, width() - 1);
    const int hTotal = qMax(2, height() - 1);
    m_specHeight = qBound(1, int(float(hTotal) * m_heightRatio), hTotal - 1);
    const int wfHeight = qMax(1, hTotal - m_specHeight);

    m_spectrum = QImage(w, m_specHeight, QImage::Format_RGB32);
    m_spectrum.fill(Qt::black);
    m_waterfall = QImage(w, wfHeight, QImage::Format_RGB32);
    m_waterfall.fill(QColor::fromRgb(ZColorMap::getColorJet256(0, 0, 255)));

    m_samples.fill(kFloorDb, w);
    m_avg.fill(kFloorDb, w);
    m_peak.fill(kFloorDb, w);
    m_holdCounter.fill(0, w);
    m_row.fill(kFloorDb, w);

    for (int i = 0; i < m_vGrid.size(); ++i)
        m_vGrid[i] = float(i + 1) * float(width() + 1) / float(m_vGrid.size() + 1);
    for (int i = 0; i < m_hGrid.size(); ++i)
        m_hGrid[i] = float(i + 1) * float(m_specHeight) / float(m_hGrid.size() + 1);
}

void ZScopeGL::resizeEvent(QResizeEvent *event)
{
    QOpenGLWidget::resizeEvent(event);
    recalcVals();
}

void ZScopeGL::setFftHeightRatio(float ratio)
{
    if (!(ratio > 0.05f && ratio < 0.95f))
        return;
    m_heightRatio = ratio;
    recalcVals();
    update();
}

void ZScopeGL::replot()
{
    update();
}

void ZScopeGL::setReferenceLevel(float db)
{
    m_refLevel = db;
    m_targetRef = db;
    m_adjusting = false;
    m_refOutside = 0;
}

void ZScopeGL::setFixedReference(bool on)
{
    m_fixedRef = on;
}

float ZScopeGL::displayReference() const
{
    return m_fixedRef ? -100.0f : m_refLevel;
}

void ZScopeGL::setPassBand(float lowHz, float highHz)
{
    m_passLow = qMin(lowHz, highHz);
    m_passHigh = qMax(lowHz, highHz);
}

void ZScopeGL::setPeakHold(bool on)
{
    if (on && !m_peakHold)
        m_peakStartDelay = kPeakStartDelay;
    m_peakHold = on;
}

float ZScopeGL::magToDispY(float dB) const
{
    const float h = float(m_specHeight);
    const float range = float(m_divisions) * m_dbPerDiv;
    const float v = (dB - displayReference() + m_levelOffset) * h / range;
    return h - (std::isnan(v) ? 0.0f : qBound(0.0f, v, h));
}

void ZScopeGL::setSamples(const QVector<float> &s)
{
    const int w = m_samples.size();
    const int n = s.size();
    if (w == 0 || n == 0)
        return;
    float *out = m_samples.data();
    const float *in = s.constData();
    if (n == w) {
        std::copy(in, in + n, out);
    } else if (n > w) {
        // Each pixel is the mean of k spectrum values; when n is not a
        // multiple of the width the read position advances by a fraction.
        const double x = double(n) / double(w);
        int k;
        double step;
        if (n % w) {
            k = int(x + 0.5);
            step = x / k;
        } else {
            k = int(x);
            step = 1.0;
        }
        double pos = 0.0;
        for (int j = 0; j < w; ++j) {
            float sum = 0.0f;
            for (int i = 0; i < k; ++i) {
                const int idx = int(pos);
                if (idx < n)
                    sum += in[idx];
                pos += step;
            }
            out[j] = sum / float(k);
        }
    } else {
        // Fewer values than pixels: nearest value to the left.
        const double step = double(n) / double(w);
        double pos = 0.0;
        for (int j = 0; j < w; ++j) {
            const int idx = int(pos);
            if (idx >= n)
                break;
            out[j] = in[idx];
            pos += step;
        }
    }
    // A value that is not a finite level would stay in the averaged trace
    // for good; it shows as the floor instead.
    for (int j = 0; j < w; ++j)
        if (!std::isfinite(out[j]))
            out[j] = kFloorDb;
    m_sampleCount = n;
}

float ZScopeGL::tuningX() const
{
    const float w = float(m_samples.size());
    if (m_centerMode)
        return w / 2.0f;
    return w / 2.0f + m_tuningOffset * w * m_zoom / m_span;
}

void ZScopeGL::initializeGL()
{
}

void ZScopeGL::paintGL()
{
    QPainter p(this);
    renderFrame(p);
}

void ZScopeGL::drawGrid(QPainter &p, float centreX)
{
    const float w = float(m_spectrum.width());
    const float h = float(m_specHeight);
    // Lines every 10 kHz / zoom on the trace's own scale (w * zoom / span
    // pixels per hertz, as the tuning line and the pass band): at any zoom
    // they stand at the same places, only their labels change.
    const float pxPerGrid = (10000.0f / m_zoom) * (w * m_zoom / m_span);
    p.setPen(QColor(Qt::gray));
    p.setFont(m_labelFont);
    for (int k = 1; k <= 4; ++k) {
        const QString label = kiloHertzLabel(10.0 * k / m_zoom);
        for (int side = -1; side <= 1; side += 2) {
            const float x = centreX + side * k * pxPerGrid;
            if (x < 0 || x >= w)
                continue;
            p.drawLine(QPointF(x, 0), QPointF(x, h));
            const QString text = side < 0 ? QLatin1Char('-') + label : label;
            p.drawText(QPointF(x + 3, h - 3), text);
        }
    }
    const float range = float(m_divisions) * m_dbPerDiv;
    for (float y : qAsConst(m_hGrid)) {
        p.drawLine(QPointF(0, y), QPointF(w, y));
        const float level = displayReference() - m_levelOffset + (h - y) * range / h;
        p.drawText(QPointF(3, y - 2), QString::number(int(std::lround(level))));
    }
}

void ZScopeGL::drawTuning(QPainter &p, float xt)
{
    const float w = float(m_spectrum.width());
    const float h = float(m_specHeight);
    const float s = w * m_zoom / m_span;
    float x0;
    float x1;
    switch (m_mode) {
    case zrnamespace::ModeLSB:
    case zrnamespace::ModeLSBDig: // lower side band: below the carrier
        x0 = xt - m_passHigh * s;
        x1 = xt - m_passLow * s;
        break;
    case zrnamespace::ModeUSB:
    case zrnamespace::ModeUSBDig: // upper side band
        x0 = xt + m_passLow * s;
        x1 = xt + m_passHigh * s;
        break;
    case zrnamespace::ModeCW:
    case zrnamespace::ModeCWR: { // CW: the filter is centred on the signal
        const float half = (m_passHigh - m_passLow) * s / 2.0f;
        x0 = xt - half;
        x1 = xt + half;
        break;
    }
    default: { // AM, NFM: both side bands
        const float e = qMax(std::fabs(m_passLow), std::fabs(m_passHigh)) * s;
        x0 = xt - e;
        x1 = xt + e;
        break;
    }
    }
    p.fillRect(QRectF(QPointF(x0, 0), QPointF(x1, h)), QColor(255, 255, 0, 100));
    p.setPen(QColor(Qt::red));
    p.drawLine(QPointF(xt, 0), QPointF(xt, h));

    if (xt < 0 || xt > w) {
        p.setFont(m_arrowFont);
        p.setPen(QColor(Qt::white));
        const QRectF area(4, 0, w - 8, h);
        if (xt < 0)
            p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("<<<"));
        else
            p.drawText(area, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral(">>>"));
    }
}

void ZScopeGL::updateTraces(const QVector<float> &row)
{
    const int w = row.size();
    const float a = m_alpha;
    const bool hold = m_peakHold && !m_clearPeak && m_peakStartDelay == 0;
    for (int j = 0; j < w; ++j) {
        m_avg[j] = a * row[j] + (1.0f - a) * m_avg[j];
        if (hold) {
            m_peak[j] = peakHoldType2(m_avg[j], m_peak[j], m_peakDecay, m_holdCounter[j], m_holdTime);
        } else {
            m_peak[j] = kFloorDb;
            m_holdCounter[j] = 0;
        }
    }
    m_clearPeak = false;
    if (m_peakHold && m_peakStartDelay > 0)
        --m_peakStartDelay;
}

void ZScopeGL::updateReference()
{
    if (m_fixedRef) {
        m_refFrames = 0;
        m_refOutside = 0;
        m_adjusting = false;
        return;
    }
    if (m_refFrames < kRefSettleFrames) {
        ++m_refFrames;
    } else if (!m_avg.isEmpty()) {
        double sum = 0.0;
        for (float v : qAsConst(m_avg))
            sum += v;
        const float mean = float(sum / m_avg.size());
        m_floor = std::isnan(mean) ? m_floor : qBound(-120.0f, mean, -60.0f);
        if (std::fabs(m_floor - m_refLevel) > kRefTolerance) {
            if (++m_refOutside > kRefChecks) {
                m_targetRef = m_floor;
                m_adjusting = true;
                m_refOutside = 0;
            }
        } else {
            m_refOutside = 0;
        }
    }
    if (m_adjusting) {
        m_refLevel += (m_targetRef - m_refLevel) * m_adjustStep;
        const float smaller = qMin(std::fabs(m_targetRef), std::fabs(m_refLevel));
        if (std::fabs(m_targetRef - m_refLevel) < 1e-5f * smaller || m_targetRef == m_refLevel) {
            m_refLevel = m_targetRef;
            m_adjusting = false;
        }
    }
}

void ZScopeGL::scrollWaterfall(const QVector<float> &row, float ref)
{
    const int h = m_waterfall.height();
    const int bpl = m_waterfall.bytesPerLine();
    uchar *bits = m_waterfall.bits();
    if (h > 1)
        std::memmove(bits + bpl, bits, size_t(bpl) * size_t(h - 1));
    auto *line = reinterpret_cast<QRgb *>(bits);
    const int w = qMin(row.size(), m_waterfall.width());
    const float shift = -ref + m_wfOffset + 25.0f;
    for (int k = 0; k < w; ++k) {
        float v = (row[k] + shift) * 255.0f / 100.0f;
        v = std::isnan(v) ? 0.0f : qBound(0.0f, v, 255.0f);
        line[k] = 0xFF000000u | ZColorMap::getColorJet256(v, 0.0f, 255.0f);
    }
}

void ZScopeGL::renderFrame(QPainter &out)
{
    ++m_frames;
    const int w = m_spectrum.width();
    const float ref = displayReference();
    m_wfRef = ref;

    // The spectrum is drawn into its own image first; only the finished
    // images reach the widget.
    QPainter p(&m_spectrum);
    p.fillRect(m_spectrum.rect(), Qt::black);

    const float s = float(w) * m_zoom / m_span;
    const float centreX = m_centerMode ? float(w) / 2.0f - m_tuningOffset * s : float(w) / 2.0f;
    drawGrid(p, centreX);
    const float xt = tuningX();
    drawTuning(p, xt);

    // Centre mode: rotate the row so the tuned frequency sits in the middle;
    // an offset beyond the width leaves nothing to show.
    const QVector<float> *row = &m_samples;
    if (m_centerMode && m_tuningOffset != 0.0f) {
        const float shiftF = m_tuningOffset * s;
        if (std::fabs(shiftF) >= float(w)) {
            m_row.fill(kFloorDb);
        } else {
            const int shift = int(std::lround(shiftF));
            for (int j = 0; j < w; ++j)
                m_row[j] = m_samples[((j + shift) % w + w) % w];
        }
        row = &m_row;
    }

    updateTraces(*row);

    QPolygonF avgLine;
    avgLine.reserve(w);
    QPolygonF peakFill;
    peakFill.reserve(w + 2);
    const float h = float(m_specHeight);
    peakFill << QPointF(0, h);
    for (int j = 0; j < w; ++j) {
        avgLine << QPointF(j, magToDispY(m_avg[j]));
        peakFill << QPointF(j, magToDispY(m_peak[j]));
    }
    peakFill << QPointF(w - 1, h);
    QPolygonF avgFill = avgLine;
    avgFill.prepend(QPointF(0, h));
    avgFill.append(QPointF(w - 1, h));

    p.setPen(Qt::NoPen);
    if (m_peakHold) {
        p.setBrush(QColor(255, 255, 255, 100));
        p.drawPolygon(peakFill);
    }
    p.setBrush(QColor(0, 255, 0, 150));
    p.drawPolygon(avgFill);
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(0, 255, 0));
    p.drawPolyline(avgLine);

    updateReference();

    if (m_showStatus && !m_statusText.isEmpty()) {
        p.setFont(m_statusFont);
        p.setPen(QColor(Qt::white));
        QString text = m_statusText;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        p.drawText(QRectF(0, 2, w - 6, h), Qt::AlignRight | Qt::AlignTop, text);
    }
    p.end();

    scrollWaterfall(*row, ref);

    out.drawImage(0, 0, m_spectrum);
    out.drawImage(0, m_specHeight, m_waterfall);
    out.setPen(QColor(90, 90, 90));
    out.setBrush(Qt::NoBrush);
    out.drawRect(0, 0, width() - 1, height() - 1);
}
