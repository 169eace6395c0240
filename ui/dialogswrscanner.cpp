#include "ui/dialogswrscanner.h"

#include "app/zlog.h"
#include "params/zparamadmin.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <cmath>

namespace {

const int kSpanTable[4] = {1000, 2000, 5000, 10000};
const int kSpeedCount = 5;
const int kSpanCount = 4;
const int kMinFreq = 500000;
const int kMaxFreq = 30000000;

// Caption over value, for the span and speed buttons.
const char *kCaptionHtml = "<p align=\"center\" style=\"margin:0px;\">"
                           "<span style=\"font-size:16pt;font-weight:bold;color:white;\">%1</span><br>"
                           "<span style=\"font-size:14pt;font-weight:bold;color:rgb(255,200,0);\">%2</span></p>";

const QString kGroup = QStringLiteral("wparam");

} // namespace

DialogSwrScanner::DialogSwrScanner(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogSwrScanner"));
    setPanelTitle(QStringLiteral(" SWR SCANNER"));
    setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 14));
    m_title->setFont(font());
    setPanelTitle(m_title->text());
    setExitButton(5);
    // A stored index outside its table (an old or damaged database) would
    // select no span or an absurd increment: it is brought into range.
    if (m_store) {
        m_span = qBound(0, m_store->paramItem(kGroup, QStringLiteral("swrs_span")).value.toInt(), kSpanCount - 1);
        m_speed = qBound(0, m_store->paramItem(kGroup, QStringLiteral("swrs_spd")).value.toInt(), kSpeedCount - 1);
    }
    m_hzPerColumn = spanHz(m_span);
    m_timer = new QTimer(this);
}

DialogSwrScanner::~DialogSwrScanner()
{
    m_timer->stop();
    emit sig_postTRX(0);
    if (m_initialised && m_store) {
        m_store->setVfoFront(QStringLiteral("freq"), m_savedFreq);
        m_store->setVfoFront(QStringLiteral("mode"), m_savedMode);
        m_store->setParamItem(kGroup, QStringLiteral("txpwr"), m_savedPower);
        qCInfo(logGui) << "swr scanner: restored" << m_savedFreq << "Hz, mode" << m_savedMode << "," << m_savedPower
                       << "W";
    }
    if (m_store) {
        m_store->setParamItem(kGroup, QStringLiteral("swrs_span"), m_span);
        m_store->setParamItem(kGroup, QStringLiteral("swrs_spd"), m_speed);
    }
}

int DialogSwrScanner::spanHz(int spanIndex)
{
    if (spanIndex < 0)
        return kSpanTable[0];
    return spanIndex > 2 ? kSpanTable[3] : kSpanTable[spanIndex];
}

QString DialogSwrScanner::speedLabel(int speedIndex)
{
    static const char *const labels[] = {"x1", "x2", "x3", "x4"};
    return speedIndex >= 0 && speedIndex < 4 ? QString::fromLatin1(labels[speedIndex]) : QStringLiteral("x5");
}

void DialogSwrScanner::startSweep()
{
    createFunctionButtons({QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
                           QStringLiteral("EXIT")});
    for (QPushButton *b : qAsConst(m_buttons))
        connect(b, &QPushButton::clicked, this, &DialogSwrScanner::slot_pushButtonClicked);
    if (!m_plot) {
        m_plot = new QLabel(this);
        m_plot->setObjectName(QStringLiteral("labelSwrPlot"));
        m_plot->setStyleSheet(QStringLiteral("QLabel{border: 0px;color: white; background-color: rgb(64,64,64);}"));
    }
    const QRect r = userGeometry();
    m_plot->setGeometry(r);
    m_plot->show();
    init(QRect(QPoint(0, 0), r.size()));
    // Only an answer to this sweep's first request draws its first point;
    // a flag raised here would draw it with no value and leave every later
    // point one answer behind.
    m_received = false;
    disconnect(m_timer, nullptr, this, nullptr);
    connect(m_timer, &QTimer::timeout, this, &DialogSwrScanner::slot_timerUpdate);
    m_timer->start(kPeriodMs);
    emit sig_postTRX(1);
    updateButtons();
}

int DialogSwrScanner::exec()
{
    startSweep();
    return ZPanel::exec();
}

void DialogSwrScanner::done(int result)
{
    // The sweep ends with the panel; the destructor gives the radio back.
    m_timer->stop();
    ZPanel::done(result);
}

void DialogSwrScanner::init(const QRect &rect)
{
    if (m_store && !m_initialised) {
        m_savedFreq = m_store->vfoFront(QStringLiteral("freq")).value.toInt();
        m_savedMode = m_store->vfoFront(QStringLiteral("mode")).value.toInt();
        m_savedPower = m_store->paramItem(kGroup, QStringLiteral("txpwr")).value.toFloat();
        m_initialised = true;
    }
    m_centre = m_savedFreq / 1000 * 1000;
    if (m_store) {
        m_store->setVfoFront(QStringLiteral("mode"), kSweepMode);
        m_store->setParamItem(kGroup, QStringLiteral("txpwr"), kSweepPower);
    }

    m_pixmap = QPixmap(rect.size().expandedTo(QSize(kLeftMargin + kDivisions, 20 + kDivisions)));
    m_pixmap.fill(Qt::black);
    m_plotWidth = m_pixmap.width() - kLeftMargin;
    m_plotHeight = m_pixmap.height() - 20;
    m_columns = m_plotWidth;
    m_xScale = float(m_plotWidth) / kDivisions;
    m_yScale = float(m_plotHeight) / kDivisions;
    m_hzPerColumn = spanHz(m_span);
    setScanInc(1 << (m_speed + 1));
    m_history = QVector<float>(m_columns, 0.0f);
    m_column = 0;
    m_state = 0;
    m_wrap = false;
    m_labels = true;
    m_last = QPoint(kLeftMargin + 1, kTopMargin + m_plotHeight - 1);
    // The first point is measured where it is drawn, not at the operator's
    // frequency.
    if (canMeasure(frequencyAt(0)))
        tuneTo(frequencyAt(0));
    qCInfo(logGui) << "scanPts" << m_columns;
    qCInfo(logGui) << "swrBuf" << static_cast<const void *>(m_history.constData()) << "xScale" << m_xScale
                   << "yScale" << m_yScale;
}

void DialogSwrScanner::setScanInc(int inc)
{
    if (inc <= 0) {
        m_inc = 1;
        return;
    }
    m_inc = inc;
    if (m_columns / inc < 10)
        m_inc = qMax(1, m_columns / 10);
}

void DialogSwrScanner::updateButtons()
{
    setFunctionButtonText(2, QString::fromLatin1(kCaptionHtml).arg(QStringLiteral("SPAN")).arg(m_hzPerColumn));
    setFunctionButtonText(3, QString::fromLatin1(kCaptionHtml).arg(QStringLiteral("SPEED"), speedLabel(m_speed)));
}

int DialogSwrScanner::frequencyAt(int c) const
{
    return int(qint64(m_centre) + qint64(m_hzPerColumn) * (c - m_columns / 2));
}

bool DialogSwrScanner::canMeasure(int f) const
{
    if (f < kMinFreq || f > kMaxFreq)
        return false;
    return !m_store || m_store->bandPlan().isHamBand(f);
}

QString DialogSwrScanner::axisLabel(int i) const
{
    const int x = int(i * m_xScale);
    const qint64 f = qint64(m_centre) + qint64(x - m_columns / 2) * m_hzPerColumn;
    const qint64 mhz = f / 1000000;
    return QString::asprintf("%02d.%03d", int(mhz), int(f / 1000 - mhz * 1000));
}

bool DialogSwrScanner::isSweeping() const
{
    return m_timer->isActive();
}

void DialogSwrScanner::tuneTo(int f)
{
    if (m_store)
        m_store->setVfoFront(QStringLiteral("freq"), f);
    m_sinceTune = 0;
}

void DialogSwrScanner::slot_commUpdateSWR(float swr)
{
    m_swr = swr;
    m_received = true;
}

void DialogSwrScanner::slot_pushButtonClicked(bool)
{
    const int i = m_buttons.indexOf(qobject_cast<QPushButton *>(sender()));
    if (i == 2) {
        m_span = (m_span + 1) % kSpanCount;
        m_hzPerColumn = spanHz(m_span);
        m_labels = true;
        // The columns now stand for other frequencies: what they remember
        // is not theirs, and the point in progress is measured anew.
        if (!m_history.isEmpty()) {
            m_history.fill(0.0f);
            m_state = 0;
            m_wrap = true;
            if (canMeasure(frequencyAt(m_column)))
                tuneTo(frequencyAt(m_column));
        }
    } else if (i == 3) {
        m_speed = (m_speed + 1) % kSpeedCount;
        setScanInc(1 << (m_speed + 1));
    }
    // EXIT (button 5) is the panel's own; buttons 1 and 2 do nothing.
    updateButtons();
}

void DialogSwrScanner::slot_timerUpdate()
{
    if (m_columns <= 0)
        return;
    switch (m_state) {
    case 0:
        if (!canMeasure(frequencyAt(m_column))) {
            skipToMeasurable();
            return;
        }
        // The new frequency needs time to reach the board and come back in
        // its reports; asked at once, the radio would answer for the
        // previous point (and after the wrap for the far end).
        if (++m_sinceTune < kSettleTicks)
            return;
        m_received = false; // only an answer to this request counts
        emit sig_nextPoint();
        m_state = 1;
        return;
    case 1:
        if (!m_received)
            return;
        m_state = 2;
        Q_FALLTHROUGH();
    default:
        drawPoint();
        m_received = false;
        m_state = 0;
        return;
    }
}

void DialogSwrScanner::drawGrid(QPainter &p)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::gray, 1, Qt::DotLine));
    for (int i = 1; i < kDivisions; ++i) {
        const int y = kTopMargin + int(i * m_yScale);
        p.drawLine(kLeftMargin, y, kLeftMargin + m_plotWidth - 1, y);
        const int x = kLeftMargin + int(i * m_xScale);
        p.drawLine(x, kTopMargin, x, kTopMargin + m_plotHeight - 1);
    }
    p.setPen(QPen(Qt::gray, 1, Qt::SolidLine));
    p.drawRect(kLeftMargin, kTopMargin, m_plotWidth - 1, m_plotHeight - 1);
}

void DialogSwrScanner::clearStrip(QPainter &p, int c)
{
    const int x = kLeftMargin + c + 1;
    const int w = qMin(m_inc, kLeftMargin + m_plotWidth - x);
    if (w > 0)
        p.fillRect(QRect(x, kTopMargin, w, m_plotHeight), Qt::black);
}

void DialogSwrScanner::advance()
{
    if (m_column + m_inc < m_columns) {
        m_column += m_inc;
    } else {
        m_column = 0;
        m_wrap = true;
    }
}

void DialogSwrScanner::drawPoint()
{
    // The first value of a column seeds its memory; later passes smooth.
    float &h = m_history[m_column];
    const float s = h > 0.0f ? kSmoothing * m_swr + (1.0f - kSmoothing) * h : m_swr;
    // A reading that is no number draws at the top and is not remembered.
    h = std::isfinite(s) ? s : 0.0f;
    const float top = float(m_plotHeight - kPenWidth - 1);
    const float offset = (s - 1.0f) * m_yScale;
    const int yOffset = std::isnan(offset) ? int(top) : int(qBound(float(kPenWidth), offset, top));
    const int y = kTopMargin + m_plotHeight - yOffset;
    const QPoint point(kLeftMargin + m_column + 1, y);
    if (m_wrap) {
        m_last = point; // no line back across the plot
        m_wrap = false;
    }

    {
        QPainter p(&m_pixmap);
        p.setBackground(Qt::black);
        drawGrid(p);
        clearStrip(p, m_column);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::yellow, kPenWidth));
        p.drawLine(m_last, point);
    }
    m_last = point;
    advance();
    if (m_labels) {
        m_labels = false;
        drawLabels();
    }
    if (m_plot)
        m_plot->setPixmap(m_pixmap);

    const int f = frequencyAt(m_column);
    if (canMeasure(f))
        tuneTo(f);
}

bool DialogSwrScanner::skipToMeasurable()
{
    // One pass at most: the columns that cannot be measured are cleared
    // (no stale trace of another span) and the line breaks over them.
    const int points = m_columns / m_inc + 1;
    bool found = false;
    {
        QPainter p(&m_pixmap);
        for (int n = 0; n < points; ++n) {
            clearStrip(p, m_column);
            m_wrap = true;
            advance();
            if (canMeasure(frequencyAt(m_column))) {
                found = true;
                break;
            }
        }
        if (!found)
            drawGrid(p);
    }
    if (m_labels) {
        m_labels = false;
        drawLabels();
    }
    if (m_plot)
        m_plot->setPixmap(m_pixmap);
    if (found)
        tuneTo(frequencyAt(m_column));
    return found;
}

void DialogSwrScanner::drawLabels()
{
    QPainter p(&m_pixmap);
    p.fillRect(QRect(0, kTopMargin + m_plotHeight, m_pixmap.width(), m_pixmap.height() - m_plotHeight), Qt::black);
    p.fillRect(QRect(0, 0, kLeftMargin, m_pixmap.height()), Qt::black);
    p.setFont(QFont(QStringLiteral("SimHei"), 12));
    p.setPen(Qt::white);
    const QFontMetrics fm(p.font());
    const int stripTop = kTopMargin + m_plotHeight;
    const int stripHeight = m_pixmap.height() - stripTop;
    for (int i = 1; i < kDivisions; ++i) {
        const int x = int(i * m_xScale);
        const QString text = axisLabel(i);
        const int w = fm.horizontalAdvance(text);
        p.drawText(QRect(kLeftMargin + x - w / 2 - 2, stripTop, w + 4, stripHeight), Qt::AlignCenter, text);
    }
    for (int n = kDivisions; n >= 1; --n) {
        const int y = kTopMargin + int(n * m_yScale);
        const QString text = QString::number(kDivisions - n + 1);
        const int h = fm.height();
        p.drawText(QRect(0, y - h / 2, kLeftMargin - 1, h), Qt::AlignRight | Qt::AlignVCenter, text);
    }
}
