#include "ui/zradiochsetting.h"
#include "app/zlog.h"
#include "params/zparamadmin.h"
#include "ui/zkeyboard.h"
#include "ui/zuievents.h"

#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

using zrnamespace::zparam_memo_t;

int ZRadioChSetting::s_instances = 0;

namespace {

const int kRowHeight = 28;
const int kRowGap = 1;
const int kStatusHeight = 26;
const int kSideWidth = 96;

const QString kWparam = QStringLiteral("wparam");

// The channel number of a stored row name ("M0012" is 12), -1 for names
// outside the editor's range.
int channelOfName(const QString &name)
{
    if (name.size() < 2 || name.at(0) != QLatin1Char('M'))
        return -1;
    bool ok = false;
    const int n = name.mid(1).toInt(&ok);
    return ok && n >= 0 && n < ZRadioChSetting::kChannelCount ? n : -1;
}

// Wheel counts: one per knob step; a desktop wheel's 120 per notch is one.
int wheelSteps(const QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    if (qAbs(delta) >= 120)
        delta /= 120;
    return qBound(-ZRadioChSetting::kChannelCount, delta, ZRadioChSetting::kChannelCount);
}

} // namespace

// ------------------------------------------------------------------ row

ZChannelRow::ZChannelRow(QWidget *parent)
    : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    QFont f(QStringLiteral("DejaVu Sans Mono"), 15);
    f.setBold(true);
    setFont(f);
}

void ZChannelRow::setContents(const QString &number, const QString &name, const QString &freq,
                              const QString &mode, bool stored, bool current)
{
    m_number = number;
    m_name = name;
    m_freq = freq;
    m_mode = mode;
    m_stored = stored;
    m_current = current;
    update();
}

void ZChannelRow::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void ZChannelRow::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    QColor bg = m_stored ? QColor(28, 34, 52) : QColor(18, 22, 32);
    if (isDown())
        bg = QColor(0, 90, 200);
    else if (m_selected)
        bg = QColor(0, 130, 65);
    p.fillRect(r, bg);
    if (m_selected) {
        p.setPen(QPen(QColor(255, 200, 0), 3));
        p.drawRect(r.adjusted(1, 1, -2, -2));
    }

    const QFontMetrics fm(font());
    const int h = r.height();
    // Columns: memory-mode mark, number, name, frequency, mode.
    const int xMark = 6, wMark = 34;
    const int xNum = xMark + wMark, wNum = fm.horizontalAdvance(QStringLiteral("M-10000")) + 8;
    const int wMode = fm.horizontalAdvance(QStringLiteral("L-DIG")) + 8;
    const int wFreq = fm.horizontalAdvance(QStringLiteral("55.000.000")) + 8;
    const int xMode = r.width() - 8 - wMode;
    const int xFreq = xMode - 12 - wFreq;
    const int xName = xNum + wNum + 6, wName = xFreq - 10 - xName;

    const QColor text = m_current ? QColor(255, 220, 90) : QColor(240, 240, 240);
    const QColor dim(120, 126, 140);
    if (m_current) {
        p.setPen(QColor(255, 200, 0));
        p.drawText(QRect(xMark, 0, wMark, h), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("MR"));
    }
    p.setPen(m_stored ? text : dim);
    p.drawText(QRect(xNum, 0, wNum, h), Qt::AlignVCenter | Qt::AlignLeft, m_number);
    if (!m_stored) {
        p.drawText(QRect(xName, 0, wName, h), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("- empty -"));
        return;
    }
    p.setPen(text);
    // Long names are cut with an ellipsis rather than running into the
    // frequency; line breaks in a stored name are shown as spaces.
    QString name = m_name;
    name.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    p.drawText(QRect(xName, 0, wName, h), Qt::AlignVCenter | Qt::AlignLeft,
               fm.elidedText(name, Qt::ElideRight, wName));
    p.drawText(QRect(xFreq, 0, wFreq, h), Qt::AlignVCenter | Qt::AlignRight, m_freq);
    p.drawText(QRect(xMode, 0, wMode, h), Qt::AlignVCenter | Qt::AlignLeft, m_mode);
}

// ---------------------------------------------------------------- panel

ZRadioChSetting::ZRadioChSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    ++s_instances;
    setObjectName(QStringLiteral("ZRadioChSetting"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    // Closed by F5, the group key or the window: gone for good, so the main
    // window's destroyed() handler restores its function keys.
    setAttribute(Qt::WA_DeleteOnClose);
    setPanelTitle(QStringLiteral("MEMORY CHANNELS"));
    createFunctionButtons({QStringLiteral("RECALL"), QStringLiteral("STORE VFO"), QStringLiteral("RENAME"),
                           QStringLiteral("CLEAR"), QStringLiteral("EXIT")});
    connect(functionButton(0), &QPushButton::clicked, this, &ZRadioChSetting::recallSelected);
    connect(functionButton(1), &QPushButton::clicked, this, &ZRadioChSetting::storeVfoInSelected);
    // The keyboard runs modally: started from the event loop, not inside
    // the button's click, which the panel base class still handles after
    // the slot returns (and the panel may be gone by the time the keyboard
    // closes).
    connect(functionButton(2), &QPushButton::clicked, this,
            [this]() { QTimer::singleShot(0, this, &ZRadioChSetting::renameSelected); });
    connect(functionButton(3), &QPushButton::clicked, this, &ZRadioChSetting::clearSelected);
    connect(functionButton(4), &QPushButton::clicked, this, &QWidget::close);

    const QRect client = userGeometry();
    const int listW = client.width() - kSideWidth - 8;
    const int listH = client.height() - kStatusHeight - 6;
    const int rows = qMax(1, (listH + kRowGap) / (kRowHeight + kRowGap));
    for (int i = 0; i < rows; ++i) {
        auto *r = new ZChannelRow(this);
        r->setObjectName(QStringLiteral("channelRow%1").arg(i));
        r->setGeometry(client.left() + 2, client.top() + 2 + i * (kRowHeight + kRowGap), listW, kRowHeight);
        connect(r, &QAbstractButton::clicked, this, [this, i]() { selectChannel(m_pageFirst + i); });
        m_rows.append(r);
    }

    // Touch controls beside the list: page up, go to, page down.
    const QStringList side = {QString(QChar(0x25B2)), QStringLiteral("GO TO"), QString(QChar(0x25BC))};
    const int sideX = client.left() + 2 + listW + 6;
    const int sideTop = client.top() + 2;
    const int sideH = rows * (kRowHeight + kRowGap) - kRowGap;
    for (int i = 0; i < side.size(); ++i) {
        auto *b = new QPushButton(side.at(i), this);
        b->setObjectName(i == 0 ? QStringLiteral("pageUp") : i == 1 ? QStringLiteral("goTo") : QStringLiteral("pageDown"));
        const int y0 = sideTop + i * (sideH + 6) / 3;
        const int y1 = sideTop + (i + 1) * (sideH + 6) / 3 - 6;
        b->setGeometry(sideX, y0, client.right() - 1 - sideX, y1 - y0);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setFont(font());
        b->setStyleSheet(ZPanel::buttonStyle(false));
        m_pageButtons.append(b);
    }
    connect(m_pageButtons.at(0), &QPushButton::clicked, this, [this]() { selectChannel(m_selected - rowsPerPage()); });
    connect(m_pageButtons.at(1), &QPushButton::clicked, this,
            [this]() { QTimer::singleShot(0, this, &ZRadioChSetting::goToChannel); });
    connect(m_pageButtons.at(2), &QPushButton::clicked, this, [this]() { selectChannel(m_selected + rowsPerPage()); });

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("labelStatus"));
    m_status->setGeometry(client.left() + 2, client.bottom() - kStatusHeight, client.width() - 4, kStatusHeight);
    QFont sf(QStringLiteral("DejaVu Sans Mono"), 12);
    m_status->setFont(sf);

    if (m_store)
        connect(m_store, &ZParamAdmin::sig_chUpdate, this, &ZRadioChSetting::slot_refresh);
    reloadList();
    // Open on the channel in use, else on the first stored one.
    const int current = currentChannel();
    m_selected = current >= 0 ? current : (m_storedSorted.isEmpty() ? 0 : m_storedSorted.first());
    m_pageFirst = m_selected - m_selected % rowsPerPage();
    loadPage();
    setStatus(QString());
}

ZRadioChSetting::~ZRadioChSetting()
{
    --s_instances;
}

QString ZRadioChSetting::channelLabel(int ch)
{
    return QStringLiteral("M-%1").arg(ch + 1);
}

QString ZRadioChSetting::frequencyText(int hz)
{
    // 14270000 reads 14.270.000, as on the VFO readout.
    const int mhz = hz / 1000000;
    const int khz = (hz / 1000) % 1000;
    const int rest = hz % 1000;
    return QString::asprintf("%d.%03d.%03d", mhz, khz, rest);
}

ZChannelRow *ZRadioChSetting::row(int i) const
{
    return i >= 0 && i < m_rows.size() ? m_rows.at(i) : nullptr;
}

QPushButton *ZRadioChSetting::pageButton(int i) const
{
    return i >= 0 && i < m_pageButtons.size() ? m_pageButtons.at(i) : nullptr;
}

QString ZRadioChSetting::rowText(int i) const
{
    const ZChannelRow *r = row(i);
    if (!r)
        return QString();
    if (r->frequency().isEmpty())
        return r->number() + QStringLiteral(" - empty -");
    return QStringList{r->number(), r->name(), r->frequency(), r->mode()}.join(QLatin1Char(' '));
}

QString ZRadioChSetting::statusText() const
{
    return m_status->text();
}

int ZRadioChSetting::currentChannel() const
{
    if (!m_store || m_store->vm() != 1)
        return -1;
    return channelOfName(m_store->currentChName());
}

void ZRadioChSetting::reloadList()
{
    m_stored.clear();
    m_storedSorted.clear();
    if (!m_store)
        return;
    for (const QString &name : m_store->chList()) {
        const int ch = channelOfName(name);
        if (ch >= 0 && !m_stored.contains(ch)) {
            m_stored.insert(ch);
            m_storedSorted.append(ch);
        }
    }
    std::sort(m_storedSorted.begin(), m_storedSorted.end());
}

zparam_memo_t ZRadioChSetting::pageItem(int ch) const
{
    const int i = ch - m_pageFirst;
    return i >= 0 && i < m_page.size() ? m_page.at(i) : zparam_memo_t();
}

void ZRadioChSetting::loadPage()
{
    // Only the stored channels of the page are read from the database.
    m_page.fill(zparam_memo_t(), m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i) {
        const int ch = m_pageFirst + i;
        if (m_store && m_stored.contains(ch))
            m_page[i] = m_store->chItem(ch, 1);
    }
    showPage();
}

void ZRadioChSetting::showPage()
{
    const int current = currentChannel();
    for (int i = 0; i < m_rows.size(); ++i) {
        const int ch = m_pageFirst + i;
        ZChannelRow *r = m_rows.at(i);
        r->setVisible(ch < kChannelCount);
        const zparam_memo_t &m = m_page.at(i);
        if (m.valid == 1) {
            // The channel shows its front VFO, as recalling it would.
            const auto &vfo = m_store && m_store->vfoIndex() == 1 ? m.vfob : m.vfoa;
            const int freq = vfo.value(QStringLiteral("freq")).value.toInt();
            const int mode = vfo.value(QStringLiteral("mode")).value.toInt();
            r->setContents(channelLabel(ch), m.chtag, frequencyText(freq), ZParamAdmin::modeIndexToName(mode), true,
                           ch == current);
        } else {
            r->setContents(channelLabel(ch), QString(), QString(), QString(), false, ch == current);
        }
        r->setSelected(ch == m_selected);
    }
    updateTitle();
}

void ZRadioChSetting::updateTitle()
{
    const int last = qMin(kChannelCount, m_pageFirst + rowsPerPage());
    setPanelTitle(QStringLiteral("MEMORY CHANNELS  %1 … %2   %3 stored")
                      .arg(channelLabel(m_pageFirst), channelLabel(last - 1))
                      .arg(m_stored.size()));
}

void ZRadioChSetting::setStatus(const QString &text, bool warning)
{
    const QString hint = QStringLiteral("KNOB: channel  DIAL: next stored  ENTER: go to");
    m_status->setText(text.isEmpty() ? hint : text);
    m_status->setStyleSheet(warning ? QStringLiteral("QLabel{color:rgb(255,200,0);background:transparent;}")
                                    : QStringLiteral("QLabel{color:rgb(200,200,200);background:transparent;}"));
}

QString ZRadioChSetting::describe(int ch) const
{
    const zparam_memo_t m = pageItem(ch);
    if (m.valid != 1)
        return channelLabel(ch);
    const auto &vfo = m_store && m_store->vfoIndex() == 1 ? m.vfob : m.vfoa;
    return QStringLiteral("%1 %2 %3").arg(channelLabel(ch),
                                          frequencyText(vfo.value(QStringLiteral("freq")).value.toInt()),
                                          ZParamAdmin::modeIndexToName(vfo.value(QStringLiteral("mode")).value.toInt()));
}

void ZRadioChSetting::setPending(Pending p)
{
    m_pending = p;
    m_pendingChannel = p == NoPending ? -1 : m_selected;
}

void ZRadioChSetting::selectChannel(int ch)
{
    ch = qBound(0, ch, kChannelCount - 1);
    if (m_pending != NoPending && ch != m_pendingChannel) {
        setPending(NoPending);
        setStatus(QString());
    }
    m_selected = ch;
    const int first = ch - ch % rowsPerPage();
    if (first != m_pageFirst) {
        m_pageFirst = first;
        loadPage();
    } else {
        for (int i = 0; i < m_rows.size(); ++i)
            m_rows.at(i)->setSelected(m_pageFirst + i == m_selected);
    }
}

void ZRadioChSetting::jumpStored(int direction)
{
    if (m_storedSorted.isEmpty()) {
        setStatus(QStringLiteral("No channel stored yet"), true);
        return;
    }
    int target = -1;
    if (direction > 0) {
        auto it = std::upper_bound(m_storedSorted.begin(), m_storedSorted.end(), m_selected);
        target = it == m_storedSorted.end() ? m_storedSorted.first() : *it;
    } else {
        auto it = std::lower_bound(m_storedSorted.begin(), m_storedSorted.end(), m_selected);
        target = it == m_storedSorted.begin() ? m_storedSorted.last() : *(it - 1);
    }
    selectChannel(target);
}

void ZRadioChSetting::slot_refresh()
{
    if (m_busy)
        return;
    reloadList();
    loadPage();
}

void ZRadioChSetting::recallSelected()
{
    setPending(NoPending);
    const int ch = m_selected;
    if (!m_store || !m_stored.contains(ch)) {
        setStatus(QStringLiteral("%1 is empty: nothing to recall").arg(channelLabel(ch)), true);
        return;
    }
    const int index = m_store->chList().indexOf(ZParamAdmin::chNumToString(ch));
    if (index < 0)
        return;
    m_busy = true;
    if (m_store->vm() != 1) {
        // Memory mode saves the operator's VFOs first and loads the channel.
        m_store->setParamItem(kWparam, QStringLiteral("chnum"), index);
        m_store->setVfoMemoMode(1);
    } else {
        m_store->seekCh(index - m_store->chNum());
    }
    m_busy = false;
    qCInfo(logGui) << "memory channel" << channelLabel(ch) << "recalled";
    slot_refresh();
    setStatus(QStringLiteral("%1 recalled").arg(describe(ch)));
    emit sig_channelChanged(ch);
}

void ZRadioChSetting::storeVfoInSelected()
{
    const int ch = m_selected;
    if (!m_store)
        return;
    const bool stored = m_stored.contains(ch);
    if (stored && !(m_pending == PendingStore && m_pendingChannel == ch)) {
        setPending(PendingStore);
        setStatus(QStringLiteral("%1 in use: STORE VFO again to overwrite").arg(describe(ch)), true);
        return;
    }
    setPending(NoPending);
    zparam_memo_t memo = m_store->logicVfoMemo();
    // Overwriting keeps the name the operator gave the channel.
    if (stored)
        memo.chtag = pageItem(ch).chtag;
    m_busy = true;
    m_store->saveChItem(ch, memo);
    m_busy = false;
    qCInfo(logGui) << "VFO stored in memory channel" << channelLabel(ch);
    slot_refresh();
    setStatus(QStringLiteral("VFO stored in %1").arg(describe(ch)));
    emit sig_channelChanged(ch);
}

void ZRadioChSetting::renameChannel(int ch, const QString &name)
{
    if (!m_store || !m_stored.contains(ch))
        return;
    m_busy = true;
    m_store->saveChItem(ch, name.left(kNameLength));
    m_busy = false;
    slot_refresh();
    setStatus(QStringLiteral("%1 renamed").arg(channelLabel(ch)));
    emit sig_channelChanged(ch);
}

void ZRadioChSetting::renameSelected()
{
    setPending(NoPending);
    const int ch = m_selected;
    if (!m_store || !m_stored.contains(ch)) {
        setStatus(QStringLiteral("%1 is empty: store the VFO first").arg(channelLabel(ch)), true);
        return;
    }
    QString name;
    const QString title = m_title->text();
    setPanelTitle(QStringLiteral("RENAME %1  (up to %2 characters)").arg(channelLabel(ch)).arg(kNameLength));
    const int asked = askText(pageItem(ch).chtag.left(kNameLength), ZKeyboard::Text, nullptr, &name);
    if (asked < 0)
        return; // the panel went away while the keyboard was open
    setPanelTitle(title);
    if (asked > 0)
        renameChannel(ch, name);
    else
        setStatus(QString());
}

void ZRadioChSetting::clearSelected()
{
    const int ch = m_selected;
    if (!m_store || !m_stored.contains(ch)) {
        setPending(NoPending);
        setStatus(QStringLiteral("%1 is already empty").arg(channelLabel(ch)));
        return;
    }
    if (!(m_pending == PendingClear && m_pendingChannel == ch)) {
        setPending(PendingClear);
        setStatus(QStringLiteral("CLEAR again to erase %1").arg(describe(ch)), true);
        return;
    }
    setPending(NoPending);
    m_busy = true;
    // The last channel erased in memory mode: back to the operator's own
    // VFOs first, or the erased channel's settings would stay on them.
    if (m_store->vm() == 1 && m_store->chList().size() == 1)
        m_store->setVfoMemoMode(0);
    m_store->eraseChItem(ch);
    m_busy = false;
    qCInfo(logGui) << "memory channel" << channelLabel(ch) << "cleared";
    slot_refresh();
    setStatus(QStringLiteral("%1 cleared").arg(channelLabel(ch)));
    emit sig_channelChanged(ch);
}

void ZRadioChSetting::goToChannel()
{
    setPending(NoPending);
    QString number;
    const QString title = m_title->text();
    setPanelTitle(QStringLiteral("GO TO CHANNEL  (1 … %1)").arg(kChannelCount));
    const int asked = askText(QString::number(m_selected + 1), ZKeyboard::Numeric,
                              new QIntValidator(1, kChannelCount, nullptr), &number);
    if (asked < 0)
        return;
    setPanelTitle(title);
    if (asked > 0)
        selectChannel(number.toInt() - 1);
    setStatus(QString());
}

int ZRadioChSetting::askText(const QString &initial, int type, QValidator *validator, QString *result)
{
    // On the heap and watched: the panel (and with it the edit) may be
    // deleted while the keyboard's modal loop runs.
    QPointer<ZRadioChSetting> self(this);
    QPointer<QLineEdit> edit = new QLineEdit(this);
    edit->hide();
    edit->setMaxLength(kNameLength);
    if (validator) {
        validator->setParent(edit);
        edit->setValidator(validator);
    }
    edit->setText(initial);
    const int accepted = ZKeyboard::edit(this, edit, type);
    if (!self)
        return -1;
    const bool ok = accepted == QDialog::Accepted && edit;
    if (ok)
        *result = edit->text();
    delete edit.data();
    return ok ? 1 : 0;
}

void ZRadioChSetting::keyPressEvent(QKeyEvent *event)
{
    if (!takeEnterPress(event))
        ZPanel::keyPressEvent(event);
}

void ZRadioChSetting::keyReleaseEvent(QKeyEvent *event)
{
    bool act = false;
    if (!takeEnterRelease(event, &act))
        ZPanel::keyReleaseEvent(event);
    else if (act)
        QTimer::singleShot(0, this, &ZRadioChSetting::goToChannel);
}

void ZRadioChSetting::wheelEvent(QWheelEvent *event)
{
    const int steps = wheelSteps(event);
    if (steps != 0) {
        if (event->modifiers() == Qt::AltModifier)
            jumpStored(-steps);
        else if (event->modifiers() == Qt::NoModifier)
            selectChannel(m_selected - steps);
    }
    event->accept();
}

void ZRadioChSetting::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPen pen(QColor(64, 64, 96));
    pen.setWidth(m_margin);
    p.setPen(pen);
    p.drawRect(rect().adjusted(m_margin / 2, m_margin / 2, -m_margin / 2, -m_margin / 2));
    p.fillRect(rect().adjusted(m_margin, m_margin, -m_margin, -m_margin), QColor(0, 32, 64));
}

void ZRadioChSetting::customEvent(QEvent *event)
{
    if (zui_repost_radio_event(parentWidget(), event))
        event->accept();
}
