#include "ui/zvfofrequencywidget.h"
#include "ui/zfonts.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <cmath>

const char *ZVFOFrequencyWidget::normalStyle()
{
    return "QPushButton{border:0px;color:white;padding:0px;background-color:rgba(0,0,0,0);}";
}

const char *ZVFOFrequencyWidget::invertedStyle()
{
    return "QPushButton{border:0px;color:black;padding:0px;background-color:white;}";
}

static const char *kDotStyle = "QLabel{border:0px;background:rgba(0,0,0,0);color:white;}";

ZVFOFrequencyWidget::ZVFOFrequencyWidget(QWidget *parent, int digits)
    : m_digits(qBound(1, digits, 10))
{
    ZFonts::install();
    m_font = QFont(QStringLiteral("Bahnschrift SemiBold SemiConden"));
    for (int i = 0; i < m_digits; ++i) {
        auto *b = new QPushButton(parent);
        b->setObjectName(QStringLiteral("vfoDigit_%1").arg(i));
        b->setFocusPolicy(Qt::NoFocus);
        b->setFlat(true);
        b->setStyleSheet(QString::fromLatin1(normalStyle()));
        m_buttons.append(b);
    }
    for (int i = 0; i < 2; ++i) {
        auto *dot = new QLabel(QStringLiteral("."), parent);
        dot->setObjectName(QStringLiteral("vfoDot_%1").arg(i));
        dot->setAlignment(Qt::AlignCenter);
        dot->setStyleSheet(QString::fromLatin1(kDotStyle));
        m_dots[i] = dot;
    }
    m_tuneStep = m_digits - 1;
    m_buttons[m_tuneStep]->setStyleSheet(QString::fromLatin1(invertedStyle()));
    updateSize();
}

ZVFOFrequencyWidget::~ZVFOFrequencyWidget()
{
    // The children belong to the parent as well; delete them only if the
    // parent has not done so already.
    for (const QPointer<QPushButton> &b : m_buttons)
        delete b.data();
    for (const QPointer<QLabel> &dot : m_dots)
        delete dot.data();
}

void ZVFOFrequencyWidget::updateSize()
{
    const QFontMetrics fm(m_font);
    m_dotWidth = int(1.3 * fm.boundingRect(QStringLiteral(".")).width());
    m_digitWidth = int(1.3 * fm.boundingRect(QStringLiteral("0")).width());
    m_digitHeight = int(0.7 * fm.boundingRect(QStringLiteral("0")).height());
    m_totalWidth = 2 * m_dotWidth + m_digits * m_digitWidth + m_spacing * (m_digits + 2);
    m_geometryChanged = true;
}

void ZVFOFrequencyWidget::setFont(const QFont &font)
{
    m_font = font;
    m_fontChanged = true;
    updateSize();
}

void ZVFOFrequencyWidget::move(int x, int y)
{
    if (x == m_left && y == m_top)
        return;
    m_left = x;
    m_top = y;
    m_geometryChanged = true;
}

void ZVFOFrequencyWidget::setSpacing(int px)
{
    m_spacing = qMax(0, px);
    updateSize();
}

void ZVFOFrequencyWidget::setFrequency(uint32_t hz)
{
    if (hz == m_freq)
        return;
    m_freq = hz;
    m_sigDigits = hz ? int(std::floor(std::log10(double(hz)) + 1.0)) : 0;
}

void ZVFOFrequencyWidget::setTuneStep(int i)
{
    if (i >= m_digits)
        return;
    // Style sheets are re-parsed on every change: only a moved mark
    // touches them.
    if (i < 0 && m_tuneStep < 0)
        return;
    if (i == m_tuneStep)
        return;
    if (m_tuneStep >= 0 && m_buttons[m_tuneStep])
        m_buttons[m_tuneStep]->setStyleSheet(QString::fromLatin1(normalStyle()));
    if (i < 0) {
        m_tuneStep = -1;
        return;
    }
    m_tuneStep = i;
    if (m_buttons[i])
        m_buttons[i]->setStyleSheet(QString::fromLatin1(invertedStyle()));
}

void ZVFOFrequencyWidget::layoutRow()
{
    int x = m_left;
    for (int i = m_digits - 1; i >= 0; --i) {
        // Millions and thousands separators: 14.270.000.
        if (i == 5 || i == 2) {
            QLabel *dot = m_dots[i == 5 ? 0 : 1];
            if (dot)
                dot->setGeometry(x, m_top, m_dotWidth, m_digitHeight);
            x += m_dotWidth + m_spacing;
        }
        if (m_buttons[i])
            m_buttons[i]->setGeometry(x, m_top, m_digitWidth, m_digitHeight);
        x += m_digitWidth + m_spacing;
    }
    // Readouts shorter than six digits have no use for the second dot.
    if (m_dots[0])
        m_dots[0]->setVisible(!m_hidden && m_digits > 5);
    if (m_dots[1])
        m_dots[1]->setVisible(!m_hidden && m_digits > 2);
}

void ZVFOFrequencyWidget::redraw()
{
    if (m_fontChanged) {
        for (const QPointer<QPushButton> &b : m_buttons)
            if (b)
                b->setFont(m_font);
        for (const QPointer<QLabel> &dot : m_dots)
            if (dot)
                dot->setFont(m_font);
        m_fontChanged = false;
    }
    if (m_geometryChanged) {
        layoutRow();
        m_geometryChanged = false;
    }
    if (m_hidden)
        return;
    uint32_t f = m_freq;
    for (int i = 0; i < m_digits; ++i) {
        if (m_buttons[i])
            m_buttons[i]->setText(QString::number(f % 10));
        f /= 10;
    }
}

void ZVFOFrequencyWidget::hide()
{
    m_hidden = true;
    for (const QPointer<QPushButton> &b : m_buttons)
        if (b)
            b->hide();
    for (const QPointer<QLabel> &dot : m_dots)
        if (dot)
            dot->hide();
}

void ZVFOFrequencyWidget::show()
{
    m_hidden = false;
    for (const QPointer<QPushButton> &b : m_buttons)
        if (b)
            b->show();
    if (m_dots[0])
        m_dots[0]->setVisible(m_digits > 5);
    if (m_dots[1])
        m_dots[1]->setVisible(m_digits > 2);
}

void ZVFOFrequencyWidget::raise()
{
    for (const QPointer<QPushButton> &b : m_buttons)
        if (b)
            b->raise();
    for (const QPointer<QLabel> &dot : m_dots)
        if (dot)
            dot->raise();
}

QPushButton *ZVFOFrequencyWidget::digitButton(int i) const
{
    return i >= 0 && i < m_digits ? m_buttons[i].data() : nullptr;
}

QLabel *ZVFOFrequencyWidget::separator(int i) const
{
    return i >= 0 && i < 2 ? m_dots[i].data() : nullptr;
}

QRect ZVFOFrequencyWidget::geometry() const
{
    return QRect(m_left, m_top, m_totalWidth, m_digitHeight);
}
