#include "ui/zradiofiltersetting.h"
#include "app/zlog.h"
#include "params/zparamadmin.h"
#include "ui/zuievents.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>

#include <cmath>

using zrnamespace::ztwinfilter_fp_t;
using zrnamespace::ztwinfilter_t;

namespace {

const int kShiftWidth = 64;
const int kGroupHeight = 27;

const QString kGroupStyle = QStringLiteral(
    "QPushButton{color:rgb(235,235,235);background-color:rgb(24,30,46);border:1px solid rgb(70,80,100);"
    "border-radius:3px;padding:0px 8px;text-align:left;}"
    "QPushButton:pressed{background-color:rgb(0,90,200);}");
const QString kGroupSelectedStyle = QStringLiteral(
    "QPushButton{color:white;background-color:rgb(0,130,65);border:2px solid rgb(255,200,0);"
    "border-radius:3px;padding:0px 7px;text-align:left;}"
    "QPushButton:pressed{background-color:rgb(0,90,200);}");

int wheelSteps(const QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    if (qAbs(delta) >= 120)
        delta /= 120;
    // A pass band spans at most a few thousand steps.
    return qBound(-2000, delta, 2000);
}

ztwinfilter_fp_t shifted(ztwinfilter_fp_t fp, float d)
{
    fp.low += d;
    fp.high += d;
    return fp;
}

// A tick spacing giving at most about a dozen ticks over the range.
float tickStep(float range)
{
    static const float steps[] = {50, 100, 200, 250, 500, 1000, 2000, 2500, 5000, 10000};
    for (float s : steps)
        if (range / s <= 12)
            return s;
    return 20000;
}

} // namespace

// ------------------------------------------------------------------ view

ZTwinFilterView::ZTwinFilterView(QWidget *parent)
    : QWidget(parent)
{
    QFont f(QStringLiteral("DejaVu Sans Mono"), 10);
    setFont(f);
}

void ZTwinFilterView::setFilter(const ztwinfilter_t &filter, int edited, float shift)
{
    m_filter = filter;
    m_edited = edited;
    m_shift = shift;
    update();
}

void ZTwinFilterView::mousePressEvent(QMouseEvent *event)
{
    emit sig_passBandTouched(passBandAt(event->pos().y()));
    event->accept();
}

void ZTwinFilterView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.setPen(QColor(70, 80, 100));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const ztwinfilter_fp_t lim = shifted(m_filter.limits, m_shift);
    const float range = lim.high - lim.low;
    if (!(range > 0))
        return;
    const QFontMetrics fm(font());
    const int left = 8, right = width() - 8;
    const int axisH = fm.height() + 4;
    const int top = 4, bottom = height() - axisH;
    auto xOf = [&](float hz) { return left + int(std::lround((hz - lim.low) / range * (right - left))); };

    // Ticks and their frequencies along the bottom.
    const float step = tickStep(range);
    int labelEnd = -1000;
    for (float t = std::ceil(lim.low / step) * step; t <= lim.high + 0.5f; t += step) {
        const int x = xOf(t);
        p.setPen(QColor(50, 56, 72));
        p.drawLine(x, top, x, bottom);
        // A label that would touch the one before it is left out.
        const QString label = QString::number(int(t));
        const int w = fm.horizontalAdvance(label);
        const int lx = qBound(1, x - w / 2, width() - w - 1);
        if (lx < labelEnd + 8)
            continue;
        p.setPen(QColor(170, 176, 190));
        p.drawText(lx, height() - 4 - fm.descent(), label);
        labelEnd = lx + w;
    }

    // The resulting pass band: shaded behind both bars and drawn solid
    // between them.
    const ztwinfilter_fp_t fp1 = shifted(m_filter.fp1, m_shift);
    const ztwinfilter_fp_t fp2 = shifted(m_filter.fp2, m_shift);
    const float lo = qMax(fp1.low, fp2.low), hi = qMin(fp1.high, fp2.high);
    const int mid = (top + bottom) / 2;
    if (hi > lo) {
        p.fillRect(QRect(QPoint(xOf(lo), top), QPoint(xOf(hi), bottom)), QColor(0, 200, 90, 70));
        p.fillRect(QRect(QPoint(xOf(lo), mid - 3), QPoint(xOf(hi), mid + 3)), QColor(0, 230, 100));
    }

    const QRect bars[2] = {QRect(QPoint(xOf(fp1.low), top + 4), QPoint(xOf(fp1.high), mid - 7)),
                           QRect(QPoint(xOf(fp2.low), mid + 7), QPoint(xOf(fp2.high), bottom - 4))};
    const QColor colours[2] = {QColor(0, 170, 255, 150), QColor(255, 140, 0, 150)};
    for (int i = 0; i < 2; ++i) {
        p.fillRect(bars[i], colours[i]);
        p.setPen(QPen(i == m_edited ? QColor(255, 220, 0) : QColor(200, 200, 200), i == m_edited ? 3 : 1));
        p.drawRect(bars[i]);
        p.setPen(Qt::white);
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.drawText(bars[i].adjusted(6, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   i == 0 ? QStringLiteral("PB1") : QStringLiteral("PB2"));
        p.setFont(font());
    }
    // The carrier (0 Hz) where it lies in the range.
    if (lim.low < 0 && lim.high > 0) {
        p.setPen(QPen(QColor(255, 255, 255, 160), 1, Qt::DashLine));
        p.drawLine(xOf(0), top, xOf(0), bottom);
    }
}

// ----------------------------------------------------------------- panel

ZRadioFilterSetting::ZRadioFilterSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("ZRadioFilterSetting"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    for (int i = 0; i < 5; ++i)
        m_faces.append({QString(), QString()});
    setPanelTitle(QStringLiteral("FILTER"));
    createFunctionButtons({QStringLiteral("FILTER"), QStringLiteral("EDIT"), QStringLiteral("RESET"), QString(),
                           QStringLiteral("EXIT")});
    connect(functionButton(0), &QPushButton::clicked, this, &ZRadioFilterSetting::nextGroup);
    connect(functionButton(1), &QPushButton::clicked, this, &ZRadioFilterSetting::toggleEdited);
    connect(functionButton(2), &QPushButton::clicked, this, &ZRadioFilterSetting::resetCentres);
    connect(functionButton(4), &QPushButton::clicked, this, &QDialog::accept);
    functionButton(3)->setEnabled(false);
    for (int i = 0; i < functionButtonCount(); ++i) {
        QFont f = functionButton(i)->font();
        f.setPointSize(13);
        functionButton(i)->setFont(f);
    }

    const QRect client = userGeometry();
    const int groupsH = 3 * kGroupHeight + 2 * 3;
    const int viewTop = client.top() + 3;
    const int viewBottom = client.bottom() - groupsH - 6;
    for (int i = 0; i < 2; ++i) {
        auto *b = new QPushButton(i == 0 ? QString(QChar(0x25C0)) : QString(QChar(0x25B6)), this);
        b->setObjectName(i == 0 ? QStringLiteral("shiftDown") : QStringLiteral("shiftUp"));
        const int bx = i == 0 ? client.left() + 2 : client.right() - 1 - kShiftWidth;
        b->setGeometry(bx, viewTop, kShiftWidth, viewBottom - viewTop + 1);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setAutoRepeat(true);
        b->setFont(font());
        b->setStyleSheet(ZPanel::buttonStyle(false));
        connect(b, &QPushButton::clicked, this, [this, i]() { shiftEdited(i == 0 ? -1 : 1); });
        m_shiftButtons.append(b);
    }
    m_view = new ZTwinFilterView(this);
    m_view->setObjectName(QStringLiteral("twinFilterView"));
    m_view->setGeometry(client.left() + 2 + kShiftWidth + 6, viewTop, client.width() - 2 * (kShiftWidth + 10),
                        viewBottom - viewTop + 1);
    connect(m_view, &ZTwinFilterView::sig_passBandTouched, this, &ZRadioFilterSetting::setEdited);

    QFont gf(QStringLiteral("DejaVu Sans Mono"), 13);
    gf.setBold(true);
    for (int g = 0; g < 3; ++g) {
        auto *b = new QPushButton(this);
        b->setObjectName(QStringLiteral("filterGroup%1").arg(g + 1));
        b->setGeometry(client.left() + 2, viewBottom + 6 + g * (kGroupHeight + 3), client.width() - 4, kGroupHeight);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setFont(gf);
        connect(b, &QPushButton::clicked, this, [this, g]() { selectGroup(g); });
        m_groupButtons.append(b);
    }
    updateFilter();
}

ZRadioFilterSetting::~ZRadioFilterSetting() = default;

QString ZRadioFilterSetting::edgesText(const ztwinfilter_fp_t &fp)
{
    return QStringLiteral("%1…%2").arg(int(std::lround(fp.low))).arg(int(std::lround(fp.high)));
}

QString ZRadioFilterSetting::familyName() const
{
    return m_filters.isEmpty() ? QString() : m_filters.first().name;
}

QPushButton *ZRadioFilterSetting::groupButton(int g) const
{
    return g >= 0 && g < m_groupButtons.size() ? m_groupButtons.at(g) : nullptr;
}

QPushButton *ZRadioFilterSetting::shiftButton(int i) const
{
    return i >= 0 && i < m_shiftButtons.size() ? m_shiftButtons.at(i) : nullptr;
}

QStringList ZRadioFilterSetting::functionFace(int i) const
{
    return i >= 0 && i < m_faces.size() ? m_faces.at(i) : QStringList();
}

bool ZRadioFilterSetting::fixedFilter() const
{
    return familyName().contains(QLatin1String("NFM"), Qt::CaseInsensitive);
}

QString ZRadioFilterSetting::groupText(int g) const
{
    if (g < 0 || g >= m_filters.size())
        return QString();
    const ztwinfilter_t &f = m_filters.at(g);
    const ztwinfilter_fp_t a = shifted(f.fp1, float(m_pitchShift));
    const ztwinfilter_fp_t b = shifted(f.fp2, float(m_pitchShift));
    const ztwinfilter_fp_t r = shifted(f.actualFp(), float(m_pitchShift));
    const QString result = r.high > r.low
        ? QStringLiteral("%1 (%2 Hz)").arg(edgesText(r)).arg(int(std::lround(r.high - r.low)))
        : QStringLiteral("closed");
    return QStringLiteral("FILTER %1  PB1 %2  PB2 %3  → %4").arg(g + 1).arg(edgesText(a), edgesText(b), result);
}

void ZRadioFilterSetting::setFace(int i, const QString &tag, const QString &value)
{
    m_faces[i] = QStringList{tag, value};
    if (QPushButton *b = functionButton(i))
        b->setText(value.isEmpty() ? tag : tag + QLatin1Char('\n') + value);
    emit sig_setFunctionButtons(i, tag, value);
}

void ZRadioFilterSetting::sendFaces()
{
    setFace(0, QStringLiteral("FILTER"), QStringLiteral("%1 of %2").arg(m_group + 1).arg(qMax(1, m_filters.size())));
    setFace(1, QStringLiteral("EDIT"), QStringLiteral("PB%1").arg(m_edited + 1));
    setFace(2, QStringLiteral("RESET"), QString());
    setFace(3, QString(), QString());
    setFace(4, QStringLiteral("EXIT"), QString());
}

void ZRadioFilterSetting::updateFilter()
{
    if (!m_store)
        return;
    m_mode = m_store->mode();
    m_filters = m_store->twinFilterFamily(m_mode);
    m_group = qBound(0, m_store->twinFilterGroupIndex(), qMax(0, m_filters.size() - 1));
    m_edited = qBound(0, m_store->twinFilterIndex(), 1);
    // The filter being edited follows the operator's choice of pass band
    // ("tfi"), whichever filter was edited before.
    if (!m_filters.isEmpty() && m_filters.at(m_group).index != m_edited) {
        m_store->setTwinFilterIndex(m_edited);
        m_filters[m_group].index = m_edited;
    }
    const ztwinfilter_fp_t real = m_store->logicFpToRealFp(ztwinfilter_fp_t{0.0f, 0.0f});
    m_pitchShift = int(std::lround(real.low));

    for (int g = 0; g < m_groupButtons.size(); ++g) {
        QPushButton *b = m_groupButtons.at(g);
        b->setVisible(g < m_filters.size());
        b->setText(groupText(g));
        b->setStyleSheet(g == m_group ? kGroupSelectedStyle : kGroupStyle);
    }
    if (!m_filters.isEmpty())
        m_view->setFilter(m_filters.at(m_group), m_edited, float(m_pitchShift));
    const bool fixed = fixedFilter();
    for (QPushButton *b : qAsConst(m_shiftButtons))
        b->setEnabled(!fixed);
    functionButton(1)->setEnabled(!fixed);
    functionButton(2)->setEnabled(!fixed);
    // "USB · SSB", but "CW" rather than "CW · CW".
    const QString modeName = ZParamAdmin::modeIndexToName(m_mode);
    const QString what = modeName == familyName() ? modeName : modeName + QStringLiteral(" · ") + familyName();
    setPanelTitle(fixed ? QStringLiteral("FILTER  %1   fixed pass bands").arg(what)
                        : QStringLiteral("FILTER  %1   KNOB: PB%2   DIAL: both").arg(what).arg(m_edited + 1));
    sendFaces();
}

void ZRadioFilterSetting::shiftPassBand(int passBand, int steps)
{
    const int saved = m_store->twinFilterIndex();
    if (passBand != saved)
        m_store->setTwinFilterIndex(passBand);
    for (int i = 0; i < qAbs(steps); ++i)
        m_store->modifyTwinFilter(steps > 0 ? 1.0f : -1.0f);
    if (passBand != saved)
        m_store->setTwinFilterIndex(saved);
}

void ZRadioFilterSetting::shiftEdited(int steps)
{
    if (!m_store || steps == 0 || fixedFilter())
        return;
    shiftPassBand(m_edited, steps);
    updateFilter();
}

void ZRadioFilterSetting::shiftBoth(int steps)
{
    if (!m_store || steps == 0 || fixedFilter())
        return;
    // Both pass bands move together as far as both can, so the shape of
    // the resulting pass band stays as it is.
    const ztwinfilter_t f = m_store->twinFilter();
    const int dir = steps > 0 ? 1 : -1;
    int n = 0;
    for (; n < qAbs(steps); ++n) {
        const float d = float(dir) * f.step * float(n + 1);
        if (qMin(f.fp1.low, f.fp2.low) + d < f.limits.low || qMax(f.fp1.high, f.fp2.high) + d > f.limits.high)
            break;
    }
    if (n == 0)
        return;
    shiftPassBand(0, dir * n);
    shiftPassBand(1, dir * n);
    updateFilter();
}

void ZRadioFilterSetting::nextGroup()
{
    if (!m_store)
        return;
    m_store->modifyTwinFilterGroup(1);
    updateFilter();
}

void ZRadioFilterSetting::selectGroup(int g)
{
    if (!m_store)
        return;
    m_store->setTwinFilterGroupIndex(g);
    updateFilter();
}

void ZRadioFilterSetting::toggleEdited()
{
    setEdited(1 - m_edited);
}

void ZRadioFilterSetting::setEdited(int passBand)
{
    if (!m_store || fixedFilter())
        return;
    m_store->setTwinFilterIndex(qBound(0, passBand, 1));
    updateFilter();
}

void ZRadioFilterSetting::resetCentres()
{
    if (!m_store || fixedFilter() || m_filters.isEmpty())
        return;
    const ztwinfilter_t f = m_store->twinFilter();
    const ztwinfilter_fp_t cur[2] = {f.fp1, f.fp2};
    const ztwinfilter_fp_t init[2] = {f.fp1Init, f.fp2Init};
    const float step = f.step > 0 ? f.step : 10.0f;
    for (int i = 0; i < 2; ++i) {
        const float d = (init[i].low + init[i].high) / 2 - (cur[i].low + cur[i].high) / 2;
        shiftPassBand(i, int(std::lround(d / step)));
    }
    qCInfo(logGui) << "filter" << f.name << m_group + 1 << "pass bands re-centred";
    updateFilter();
}

void ZRadioFilterSetting::keyPressEvent(QKeyEvent *event)
{
    if (!takeEnterPress(event))
        ZPanel::keyPressEvent(event);
}

void ZRadioFilterSetting::keyReleaseEvent(QKeyEvent *event)
{
    bool act = false;
    if (!takeEnterRelease(event, &act))
        ZPanel::keyReleaseEvent(event);
    else if (act)
        toggleEdited();
}

void ZRadioFilterSetting::wheelEvent(QWheelEvent *event)
{
    const int steps = -wheelSteps(event);
    if (event->modifiers() == Qt::AltModifier)
        shiftBoth(steps);
    else if (event->modifiers() == Qt::NoModifier)
        shiftEdited(steps);
    event->accept();
}

void ZRadioFilterSetting::showEvent(QShowEvent *event)
{
    ZPanel::showEvent(event);
    // The window connects its key faces after construction: they are sent
    // again once the panel shows.
    updateFilter();
}

void ZRadioFilterSetting::customEvent(QEvent *event)
{
    if (zui_repost_radio_event(parentWidget(), event))
        event->accept();
}

void ZRadioFilterSetting::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPen pen(QColor(64, 64, 96));
    pen.setWidth(m_margin);
    p.setPen(pen);
    p.drawRect(rect().adjusted(m_margin / 2, m_margin / 2, -m_margin / 2, -m_margin / 2));
    p.fillRect(rect().adjusted(m_margin, m_margin, -m_margin, -m_margin), QColor(0, 32, 64));
}
