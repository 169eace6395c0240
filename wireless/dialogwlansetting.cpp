// libnm first: Qt's "signals" keyword clashes with GLib's members.
#include <NetworkManager.h>

#include "wireless/dialogwlansetting.h"

#include "app/zlog.h"
#include "ui/zkeyboard.h"
#include "wireless/zwirelessservices.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

enum Role { SsidRole = Qt::UserRole, StrengthRole, SecuredRole, ActiveRole, SavedRole };

DialogWlanSetting::TextEditor &textEditor()
{
    static DialogWlanSetting::TextEditor editor = [](QWidget *parent, QLineEdit *target, int type) {
        return ZKeyboard::edit(parent, target, type);
    };
    return editor;
}

const QColor kText(235, 235, 235);
const QColor kDim(150, 160, 175);
const QColor kGood(90, 220, 120);
const QColor kBad(255, 120, 80);
const QColor kSelected(0, 90, 200);

const QString kListStyle = QStringLiteral(
    "QListWidget{background-color:rgb(10,12,18);border:1px solid rgb(70,80,100);outline:0px;}"
    "QScrollBar:vertical{background:rgb(20,22,30);width:10px;}"
    "QScrollBar::handle:vertical{background:rgb(90,98,120);min-height:20px;}");
const QString kBoxStyle = QStringLiteral(
    "QFrame#wlanBox{background-color:rgb(10,12,18);border:1px solid rgb(70,80,100);}");
const QString kRowStyle = QStringLiteral("QFrame{background-color:rgb(24,28,38);border:1px solid rgb(50,56,70);}"
                                         "QLabel{border:0px;background:transparent;}");
const QString kRowSelectedStyle = QStringLiteral(
    "QFrame{background-color:rgb(0,70,160);border:2px solid rgb(255,200,0);}"
    "QLabel{border:0px;background:transparent;}");
const QString kEditStyle = QStringLiteral(
    "QLineEdit{color:white;background-color:rgb(10,12,18);border:1px solid rgb(90,98,120);padding:2px;}"
    "QLineEdit:disabled{color:rgb(110,110,110);background-color:rgb(24,26,32);}");

// Four bars, as many lit as the strength is worth (the thresholds of the
// status bar's WiFi glyphs).
void drawBars(QPainter &p, const QRect &r, int strength, const QColor &on)
{
    const int lit = strength >= 75 ? 4 : strength >= 50 ? 3 : strength >= 25 ? 2 : strength > 0 ? 1 : 0;
    const int w = 5, gap = 3;
    for (int i = 0; i < 4; ++i) {
        const int h = 6 + i * 5;
        const QRect bar(r.left() + i * (w + gap), r.bottom() - h, w, h);
        p.fillRect(bar, i < lit ? on : QColor(60, 66, 80));
    }
}

// One network per row: tick when connected, name, "SAVED", lock when
// secured, bars and percent.
class NetworkDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return QSize(100, 40); }

    void paint(QPainter *p, const QStyleOptionViewItem &opt, const QModelIndex &index) const override
    {
        p->save();
        const QRect r = opt.rect.adjusted(1, 1, -1, -1);
        const bool selected = opt.state & QStyle::State_Selected;
        p->fillRect(r, selected ? kSelected : QColor(24, 28, 38));
        if (selected) {
            p->setPen(QPen(QColor(255, 200, 0), 2));
            p->drawRect(r.adjusted(1, 1, -1, -1));
        }
        const bool active = index.data(ActiveRole).toBool();
        const bool saved = index.data(SavedRole).toBool();
        const int strength = index.data(StrengthRole).toInt();
        QFont icons(QStringLiteral("FontAwesome"), 14);
        QFont name(QStringLiteral("DejaVu Sans Mono"), 14);
        name.setBold(true);
        QFont small(QStringLiteral("DejaVu Sans"), 9);
        small.setBold(true);

        if (active) {
            p->setFont(icons);
            p->setPen(kGood);
            p->drawText(QRect(r.left() + 6, r.top(), 24, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                        QString(QChar(0xF00C)));
        }
        const int right = r.right() - 6;
        const QRect pct(right - 46, r.top(), 46, r.height());
        const QRect bars(pct.left() - 36, r.top() + 7, 32, r.height() - 14);
        const QRect lock(bars.left() - 24, r.top(), 20, r.height());
        p->setFont(small);
        p->setPen(kDim);
        const int savedW = saved && !active ? 46 : 0;
        if (savedW)
            p->drawText(QRect(lock.left() - savedW - 4, r.top(), savedW, r.height()), Qt::AlignVCenter | Qt::AlignRight,
                        QStringLiteral("SAVED"));
        p->setFont(name);
        p->setPen(kText);
        const QRect nameRect(r.left() + 32, r.top(), lock.left() - savedW - 8 - (r.left() + 32), r.height());
        p->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                    QFontMetrics(name).elidedText(index.data(SsidRole).toString(), Qt::ElideRight, nameRect.width()));
        if (index.data(SecuredRole).toBool()) {
            p->setFont(icons);
            p->setPen(kDim);
            p->drawText(lock, Qt::AlignCenter, QString(QChar(0xF023)));
        }
        drawBars(*p, bars, strength, active ? kGood : kText);
        p->setFont(name);
        p->setPen(kText);
        p->drawText(pct, Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("%1%").arg(strength));
        p->restore();
    }
};

QString yesNo(bool on)
{
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

// What decides whether the details need reading again: the active WiFi
// connection, its state and its addresses.
QString activeSignature(NMClient *client)
{
    if (!client)
        return QString();
    QString sig;
    const GPtrArray *active = nm_client_get_active_connections(client);
    for (guint i = 0; active && i < active->len; ++i) {
        auto *ac = NM_ACTIVE_CONNECTION(active->pdata[i]);
        const char *type = nm_active_connection_get_connection_type(ac);
        if (!type || strcmp(type, NM_SETTING_WIRELESS_SETTING_NAME) != 0)
            continue;
        sig += QString::fromUtf8(nm_active_connection_get_uuid(ac)) + QLatin1Char(':')
               + QString::number(int(nm_active_connection_get_state(ac)));
        const GPtrArray *devs = nm_active_connection_get_devices(ac);
        for (guint d = 0; devs && d < devs->len; ++d) {
            NMIPConfig *ip = nm_device_get_ip4_config(NM_DEVICE(devs->pdata[d]));
            const GPtrArray *addrs = ip ? nm_ip_config_get_addresses(ip) : nullptr;
            for (guint a = 0; addrs && a < addrs->len; ++a)
                sig += QLatin1Char(' ') + QString::fromUtf8(nm_ip_address_get_address(static_cast<NMIPAddress *>(addrs->pdata[a])));
            const char *gw = ip ? nm_ip_config_get_gateway(ip) : nullptr;
            sig += QLatin1Char(' ') + QString::fromUtf8(gw ? gw : "");
            const char *const *ns = ip ? nm_ip_config_get_nameservers(ip) : nullptr;
            for (int n = 0; ns && ns[n]; ++n)
                sig += QLatin1Char(' ') + QString::fromUtf8(ns[n]);
        }
        break;
    }
    return sig;
}

} // namespace

void DialogWlanSetting::setTextEditor(TextEditor editor)
{
    textEditor() = editor ? std::move(editor) : [](QWidget *parent, QLineEdit *target, int type) {
        return ZKeyboard::edit(parent, target, type);
    };
}

DialogWlanSetting::DialogWlanSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h, NMClient *client)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogWlanSetting"));
    setPanelTitle(QStringLiteral("WLAN SETTING"));
    m_client = client ? static_cast<NMClient *>(g_object_ref(client)) : WiFiManager::createClient();

    m_body = new QWidget(this);
    auto *v = new QVBoxLayout(m_body);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(4);
    m_pages = new QStackedWidget(m_body);
    v->addWidget(m_pages, 1);
    m_status = new QLabel(m_body);
    m_status->setObjectName(QStringLiteral("labelWlanStatus"));
    QFont sf(QStringLiteral("DejaVu Sans"), 13);
    sf.setBold(true);
    m_status->setFont(sf);
    m_status->setFixedHeight(30);
    v->addWidget(m_status);

    buildNetworksPage();
    buildFormPage();
    m_body->setGeometry(userGeometry());
    showPage(Networks);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &DialogWlanSetting::refresh);
    m_timer->start(1000);

    if (!m_client) {
        setStatus(QStringLiteral("NetworkManager is not available"), 2);
    } else {
        m_apWatch = zwireless::watchAccessPoints(m_client, this);
        WiFiManager::requestScan(m_client);
        if (!nm_client_get_nm_running(m_client))
            setStatus(QStringLiteral("NetworkManager is not running"), 2);
    }
    refresh();
}

DialogWlanSetting::~DialogWlanSetting()
{
    if (m_client) {
        zwireless::unwatchAccessPoints(m_client, m_apWatch);
        g_object_unref(m_client);
    }
}

void DialogWlanSetting::buildNetworksPage()
{
    auto *page = new QWidget(m_pages);
    auto *h = new QHBoxLayout(page);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(6);

    m_list = new QListWidget(page);
    m_list->setObjectName(QStringLiteral("listNetworks"));
    m_list->setStyleSheet(kListStyle);
    m_list->setItemDelegate(new NetworkDelegate(m_list));
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_list, &QListWidget::currentRowChanged, this, [this]() { updateButtons(); });
    h->addWidget(m_list, 11);

    auto *box = new QFrame(page);
    box->setObjectName(QStringLiteral("wlanBox"));
    box->setStyleSheet(kBoxStyle);
    auto *bv = new QVBoxLayout(box);
    bv->setContentsMargins(8, 6, 8, 6);
    auto *head = new QLabel(QStringLiteral("CONNECTION"), box);
    QFont hf(QStringLiteral("DejaVu Sans"), 12);
    hf.setBold(true);
    head->setFont(hf);
    head->setStyleSheet(QStringLiteral("color:rgb(120,170,255);"));
    bv->addWidget(head);
    m_details = new QLabel(box);
    m_details->setObjectName(QStringLiteral("labelWlanDetails"));
    m_details->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 12));
    m_details->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_details->setTextFormat(Qt::PlainText);
    bv->addWidget(m_details, 1);
    h->addWidget(box, 9);
    m_pages->addWidget(page);
}

void DialogWlanSetting::buildFormPage()
{
    auto *page = new QWidget(m_pages);
    auto *v = new QVBoxLayout(page);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    m_formTitle = new QLabel(page);
    QFont tf(QStringLiteral("DejaVu Sans"), 13);
    tf.setBold(true);
    m_formTitle->setFont(tf);
    m_formTitle->setStyleSheet(QStringLiteral("color:rgb(120,170,255);"));
    v->addWidget(m_formTitle);

    const char *names[RowCount] = {"MODE", "ADDRESS", "PREFIX", "GATEWAY", "DNS 1", "DNS 2"};
    QFont nf(QStringLiteral("DejaVu Sans Mono"), 14);
    nf.setBold(true);
    int edit = 0;
    for (int r = 0; r < RowCount; ++r) {
        auto *row = new QFrame(page);
        row->setObjectName(QStringLiteral("formRow%1").arg(r));
        row->setStyleSheet(kRowStyle);
        row->setMinimumHeight(42);
        row->installEventFilter(this);
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(10, 2, 10, 2);
        auto *name = new QLabel(QString::fromLatin1(names[r]), row);
        name->setFont(nf);
        name->setMinimumWidth(150);
        h->addWidget(name);
        if (r == RowMode || r == RowPrefix) {
            auto *value = new QLabel(row);
            value->setFont(nf);
            h->addWidget(value, 1);
            (r == RowMode ? m_modeValue : m_prefixValue) = value;
        } else {
            auto *e = new QLineEdit(row);
            e->setObjectName(QStringLiteral("editField%1").arg(edit));
            e->setFont(nf);
            e->setStyleSheet(kEditStyle);
            e->setFocusPolicy(Qt::NoFocus);
            e->setMaxLength(15);
            e->installEventFilter(this);
            h->addWidget(e, 1);
            m_fields[edit++] = e;
        }
        m_formRows.append(row);
        v->addWidget(row);
    }
    v->addStretch(1);
    m_pages->addWidget(page);
}

void DialogWlanSetting::resizeEvent(QResizeEvent *event)
{
    ZPanel::resizeEvent(event);
    if (m_body)
        m_body->setGeometry(userGeometry());
}

int DialogWlanSetting::page() const
{
    return m_pages->currentIndex();
}

int DialogWlanSetting::selectedNetwork() const
{
    return m_list->currentRow();
}

QString DialogWlanSetting::detailText() const
{
    return m_details->text();
}

QString DialogWlanSetting::statusText() const
{
    return m_status->text();
}

QLineEdit *DialogWlanSetting::field(int i) const
{
    return i >= 0 && i < 4 ? m_fields[i] : nullptr;
}

const WifiAccessPoint *DialogWlanSetting::selected() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_aps.size() ? &m_aps.at(row) : nullptr;
}

void DialogWlanSetting::showPage(int page)
{
    m_pages->setCurrentIndex(page);
    if (page == Networks)
        createFunctionButtons({QStringLiteral("CONNECT"), QStringLiteral("PASSWORD"), QStringLiteral("IPV4"),
                               QStringLiteral("AUTO"), QStringLiteral("EXIT")});
    else
        createFunctionButtons({QStringLiteral("EDIT"), QStringLiteral("MODE"), QStringLiteral(" "),
                               QStringLiteral("APPLY"), QStringLiteral("BACK")});
    for (int i = 0; i < functionButtonCount(); ++i)
        connect(functionButton(i), &QPushButton::clicked, this, [this, i]() { functionKey(i); });
    selectFunctionButton(-1);
    if (m_body)
        m_body->setGeometry(userGeometry());
    updateButtons();
}

void DialogWlanSetting::updateButtons()
{
    if (page() != Networks || functionButtonCount() < 5)
        return;
    const WifiAccessPoint *ap = selected();
    const bool saved = ap && !ap->uuid.isEmpty();
    functionButton(0)->setText(ap && ap->active ? QStringLiteral("DISCONNECT") : QStringLiteral("CONNECT"));
    functionButton(0)->setEnabled(ap && (ap->active || saved));
    functionButton(1)->setEnabled(saved && ap->secured);
    functionButton(2)->setEnabled(saved);
    functionButton(3)->setText(saved ? QStringLiteral("AUTO ") + yesNo(WiFiManager::autoconnect(m_client, ap->uuid))
                                     : QStringLiteral("AUTO"));
    functionButton(3)->setEnabled(saved);
}

void DialogWlanSetting::setStatus(const QString &text, int kind)
{
    const QColor c = kind == 1 ? kGood : kind == 2 ? kBad : kText;
    m_status->setStyleSheet(QStringLiteral("QLabel{color:%1;background:transparent;border:0px;}").arg(c.name()));
    m_status->setText(QFontMetrics(m_status->font()).elidedText(text, Qt::ElideRight, userGeometry().width() - 12));
    m_status->setToolTip(text);
}

WifiOperationContext DialogWlanSetting::context(const QString &what, std::function<void()> next)
{
    ++m_pending;
    QPointer<DialogWlanSetting> self(this);
    WifiOperationContext ctx;
    ctx.onSuccess = [self, what, next](const std::string &) {
        if (!self)
            return;
        --self->m_pending;
        if (next) {
            next();
            return;
        }
        self->setStatus(what, 1);
        self->refresh();
    };
    ctx.onFailure = [self](const std::string &, const std::string &message) {
        if (!self)
            return;
        --self->m_pending;
        self->setStatus(QStringLiteral("Failed: ") + QString::fromStdString(message), 2);
        self->refresh();
    };
    return ctx;
}

void DialogWlanSetting::refresh()
{
    refreshList();
    refreshDetails(false);
    updateButtons();
}

void DialogWlanSetting::accessPointAdded(QString ssid, int rssi)
{
    Q_UNUSED(ssid);
    Q_UNUSED(rssi);
    refreshList();
    updateButtons();
}

void DialogWlanSetting::refreshList()
{
    const QList<WifiAccessPoint> aps = WiFiManager::accessPoints(m_client);
    QString sig;
    for (const WifiAccessPoint &a : aps)
        sig += QStringLiteral("%1|%2|%3|%4|%5\n").arg(a.ssid).arg(a.strength).arg(a.secured).arg(a.active).arg(a.uuid);
    if (sig == m_listSignature)
        return;
    m_listSignature = sig;
    // The selection stays on the same network when the order changes.
    const QString keep = selected() ? selected()->ssid : QString();
    m_aps = aps;
    const QSignalBlocker block(m_list);
    m_list->clear();
    int row = -1, activeRow = -1;
    for (int i = 0; i < aps.size(); ++i) {
        const WifiAccessPoint &a = aps.at(i);
        auto *item = new QListWidgetItem(a.ssid, m_list);
        item->setData(SsidRole, a.ssid);
        item->setData(StrengthRole, a.strength);
        item->setData(SecuredRole, a.secured);
        item->setData(ActiveRole, a.active);
        item->setData(SavedRole, !a.uuid.isEmpty());
        if (a.ssid == keep)
            row = i;
        if (a.active && activeRow < 0)
            activeRow = i;
    }
    if (row < 0)
        row = activeRow >= 0 ? activeRow : aps.isEmpty() ? -1 : 0;
    m_list->setCurrentRow(row);
    if (row >= 0)
        m_list->scrollToItem(m_list->item(row));
}

void DialogWlanSetting::refreshDetails(bool force)
{
    const QString sig = activeSignature(m_client) + QLatin1Char('/') + QString::number(m_aps.size());
    if (!force && sig == m_detailSignature && !m_details->text().isEmpty())
        return;
    m_detailSignature = sig;
    QStringList lines;
    auto line = [&lines](const char *key, const QString &value) {
        lines << QStringLiteral("%1%2").arg(QString::fromLatin1(key), -10).arg(value);
    };
    int strength = 0;
    if (!m_client || !WiFiManager::hasActiveWiFiConnection(m_client, strength)) {
        line("STATE", QStringLiteral("NOT CONNECTED"));
        const QString mac = WiFiManager::getMacAddress(m_client);
        if (!mac.isEmpty())
            line("MAC", mac);
        m_details->setText(lines.join(QLatin1Char('\n')));
        return;
    }
    const ConnectedWiFiInfo info = WiFiManager::getConnectedWiFiInfo(m_client, true);
    const QString uuid = WiFiManager::findUuidBySsid(m_client, info.ssid);
    line("SSID", info.ssid.size() > 22 ? info.ssid.left(21) + QChar(0x2026) : info.ssid);
    line("STATE", QStringLiteral("CONNECTED %1%").arg(info.strength));
    line("SECURITY", info.security.toUpper());
    line("IPV4", info.dhcp ? QStringLiteral("DHCP") : QStringLiteral("STATIC"));
    line("ADDRESS", info.address.isEmpty() ? QStringLiteral("-") : info.address);
    line("NETMASK", info.address.isEmpty() ? QStringLiteral("-") : info.netmask);
    line("GATEWAY", info.gateway.isEmpty() ? QStringLiteral("-") : info.gateway);
    const QStringList dns = info.dns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    line("DNS", dns.isEmpty() ? QStringLiteral("-") : dns.value(0));
    for (int i = 1; i < dns.size() && i < 3; ++i)
        line("", dns.at(i));
    line("AUTO", uuid.isEmpty() ? QStringLiteral("-") : yesNo(WiFiManager::autoconnect(m_client, uuid)));
    line("MAC", WiFiManager::getMacAddress(m_client));
    m_details->setText(lines.join(QLatin1Char('\n')));
}

// ------------------------------------------------------------------ input

void DialogWlanSetting::functionKey(int i)
{
    if (page() == Networks) {
        switch (i) {
        case 0: connectOrDisconnect(); break;
        case 1: changePassword(); break;
        case 2: openForm(); break;
        case 3: toggleAutoconnect(); break;
        case 4: close(); break;
        }
        return;
    }
    switch (i) {
    case 0: editField(m_field); break;
    case 1:
        m_formDhcp = !m_formDhcp;
        showForm();
        break;
    case 3: applyForm(); break;
    case 4:
        showPage(Networks);
        setStatus(QString(), 0);
        break;
    }
}

void DialogWlanSetting::enterKey()
{
    if (page() == Networks)
        connectOrDisconnect();
    else
        editField(m_field);
}

void DialogWlanSetting::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        m_enterDown = true;
        event->accept();
        return;
    }
    ZPanel::keyPressEvent(event);
}

void DialogWlanSetting::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        // Only a press this panel saw: the release of the Enter that opened
        // it (or closed the keyboard) does nothing.
        if (!m_enterDown || event->isAutoRepeat())
            return;
        m_enterDown = false;
        enterKey();
        return;
    }
    ZPanel::keyReleaseEvent(event);
}

void DialogWlanSetting::wheelEvent(QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    // A desktop wheel reports 120 per notch, the radio's knobs one per step.
    if (qAbs(delta) >= 120)
        delta /= 120;
    delta = qBound(-20, delta, 20);
    if (event->modifiers() == Qt::NoModifier)
        moveSelection(-delta);
    else if (event->modifiers() == Qt::AltModifier)
        changeValue(-delta);
    event->accept();
}

bool DialogWlanSetting::eventFilter(QObject *watched, QEvent *event)
{
    // A touch on a form row selects it; on its field, edits it.
    if (event->type() == QEvent::MouseButtonRelease && page() == Ipv4Form) {
        for (int r = 0; r < m_formRows.size(); ++r) {
            QWidget *row = m_formRows.at(r);
            if (watched == row || (watched->isWidgetType() && static_cast<QWidget *>(watched)->parentWidget() == row)) {
                // A field is edited at the first touch, a row's value at
                // the second.
                const bool again = r == m_field;
                selectField(r);
                if (watched != row || again)
                    editField(r);
                return true;
            }
        }
    }
    return ZPanel::eventFilter(watched, event);
}

void DialogWlanSetting::moveSelection(int d)
{
    if (d == 0)
        return;
    if (page() == Networks) {
        const int n = m_list->count();
        if (n == 0)
            return;
        const int row = qBound(0, m_list->currentRow() + d, n - 1);
        m_list->setCurrentRow(row);
        m_list->scrollToItem(m_list->item(row));
        return;
    }
    // The form wraps around, as the keyboard's keys do.
    selectField(((m_field + d) % RowCount + RowCount) % RowCount);
}

void DialogWlanSetting::changeValue(int d)
{
    if (d == 0)
        return;
    if (page() == Networks) {
        moveSelection(d);
        return;
    }
    if (m_field == RowMode) {
        m_formDhcp = !m_formDhcp;
        showForm();
    } else if (m_field == RowPrefix && !m_formDhcp) {
        m_formPrefix = qBound(1, m_formPrefix + d, 32);
        showForm();
    }
}

// ---------------------------------------------------------------- actions

void DialogWlanSetting::connectOrDisconnect()
{
    const WifiAccessPoint *ap = selected();
    if (!ap)
        return;
    const QString ssid = ap->ssid;
    if (ap->active) {
        const QString uuid = WiFiManager::findUuidBySsid(m_client, ssid);
        setStatus(QStringLiteral("Disconnecting from %1 ...").arg(ssid), 0);
        WiFiManager::disconnectByUuid(m_client, uuid, context(QStringLiteral("Disconnected from %1").arg(ssid)));
        return;
    }
    if (ap->uuid.isEmpty()) {
        setStatus(QStringLiteral("%1 has no saved connection").arg(ssid), 2);
        return;
    }
    setStatus(QStringLiteral("Connecting to %1 ...").arg(ssid), 0);
    WiFiManager::connectToSsidByUuid(m_client, ap->uuid, context(QStringLiteral("Connected to %1").arg(ssid)));
}

void DialogWlanSetting::changePassword()
{
    const WifiAccessPoint *ap = selected();
    if (!ap || ap->uuid.isEmpty()) {
        setStatus(QStringLiteral("Select a saved network first"), 2);
        return;
    }
    const QString uuid = ap->uuid;
    const QString ssid = ap->ssid;
    QLineEdit edit;
    edit.setMaxLength(64);
    if (textEditor()(this, &edit, ZKeyboard::Text) != QDialog::Accepted) {
        setStatus(QStringLiteral("Password unchanged"), 0);
        return;
    }
    setStatus(QStringLiteral("Saving the password of %1 ...").arg(ssid), 0);
    WiFiManager::updateWifiPassword(m_client, uuid, edit.text(), context(QStringLiteral("Password of %1 saved").arg(ssid)));
}

void DialogWlanSetting::toggleAutoconnect()
{
    const WifiAccessPoint *ap = selected();
    if (!ap || ap->uuid.isEmpty())
        return;
    const bool on = !WiFiManager::autoconnect(m_client, ap->uuid);
    WiFiManager::setAutoconnect(m_client, ap->uuid, on,
                                context(QStringLiteral("Autoconnect of %1 %2").arg(ap->ssid, yesNo(on))));
}

void DialogWlanSetting::openForm()
{
    const WifiAccessPoint *ap = selected();
    if (!ap || ap->uuid.isEmpty()) {
        setStatus(QStringLiteral("Select a saved network first"), 2);
        return;
    }
    m_formUuid = ap->uuid;
    m_formSsid = ap->ssid;
    // The active connection shows what it has now; another one its saved
    // settings.
    ConnectedWiFiInfo info;
    if (ap->active)
        info = WiFiManager::getConnectedWiFiInfo(m_client, true);
    else
        WiFiManager::getWiFiInfoWithSsid(ap->ssid, info);
    m_formDhcp = info.dhcp;
    m_formPrefix = info.prefix >= 1 && info.prefix <= 32 ? info.prefix : 24;
    m_fields[0]->setText(info.address);
    m_fields[1]->setText(info.gateway);
    const QStringList dns = info.dns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    m_fields[2]->setText(dns.value(0).trimmed());
    m_fields[3]->setText(dns.value(1).trimmed());
    m_formTitle->setText(QStringLiteral("IPV4 OF %1").arg(m_formSsid));
    showPage(Ipv4Form);
    selectField(RowMode);
    showForm();
    setStatus(QString(), 0);
}

void DialogWlanSetting::selectField(int row)
{
    m_field = qBound(0, row, RowCount - 1);
    for (int r = 0; r < m_formRows.size(); ++r)
        m_formRows.at(r)->setStyleSheet(r == m_field ? kRowSelectedStyle : kRowStyle);
}

void DialogWlanSetting::showForm()
{
    m_modeValue->setText(m_formDhcp ? QStringLiteral("DHCP") : QStringLiteral("STATIC"));
    m_prefixValue->setText(QStringLiteral("%1  (%2)").arg(m_formPrefix).arg(WiFiManager::prefixToNetmask(m_formPrefix)));
    // DHCP brings address, prefix and gateway; the DNS servers can still
    // be given.
    m_fields[0]->setEnabled(!m_formDhcp);
    m_fields[1]->setEnabled(!m_formDhcp);
    m_prefixValue->setEnabled(!m_formDhcp);
}

void DialogWlanSetting::editField(int row)
{
    if (row == RowMode) {
        m_formDhcp = !m_formDhcp;
        showForm();
        return;
    }
    if (row == RowPrefix) {
        if (m_formDhcp)
            return;
        // Typed as a number: the edit's text becomes the prefix when valid.
        QLineEdit edit(QString::number(m_formPrefix));
        edit.setMaxLength(2);
        if (textEditor()(this, &edit, ZKeyboard::Numeric) == QDialog::Accepted) {
            bool ok = false;
            const int p = edit.text().trimmed().toInt(&ok);
            if (ok && p >= 1 && p <= 32)
                m_formPrefix = p;
            else
                setStatus(QStringLiteral("A prefix is 1 to 32"), 2);
        }
        showForm();
        return;
    }
    const int index = row == RowAddress ? 0 : row == RowGateway ? 1 : row == RowDns1 ? 2 : 3;
    QLineEdit *e = m_fields[index];
    if (!e->isEnabled())
        return;
    textEditor()(this, e, ZKeyboard::Numeric);
}

void DialogWlanSetting::applyForm()
{
    const QString uuid = m_formUuid;
    const QString ssid = m_formSsid;
    const QStringList dns = {m_fields[2]->text().trimmed(), m_fields[3]->text().trimmed()};
    const bool anyDns = !dns.join(QString()).isEmpty();
    const bool active = WiFiManager::findActiveConnectionByUuid(m_client, uuid) != nullptr;
    QPointer<DialogWlanSetting> self(this);

    // NetworkManager uses changed settings of a connection the next time it
    // comes up: an active one is brought down and up again.
    auto reconnect = [self, uuid, ssid]() {
        if (!self)
            return;
        self->setStatus(QStringLiteral("Reconnecting %1 ...").arg(ssid), 0);
        WiFiManager::disconnectByUuid(self->m_client, uuid, self->context(QString(), [self, uuid, ssid]() {
            if (self)
                WiFiManager::connectToSsidByUuid(self->m_client, uuid,
                                                 self->context(QStringLiteral("IPv4 of %1 saved and applied").arg(ssid)));
        }));
    };
    auto finish = [self, ssid, active, reconnect]() {
        if (!self)
            return;
        if (active)
            reconnect();
        else {
            self->setStatus(QStringLiteral("IPv4 of %1 saved").arg(ssid), 1);
            self->refresh();
        }
    };
    auto dnsStep = [self, uuid, dns, anyDns, finish]() {
        if (!self)
            return;
        if (!anyDns) {
            finish();
            return;
        }
        WiFiManager::setDnsServers(self->m_client, uuid, dns, self->context(QString(), finish));
    };

    setStatus(QStringLiteral("Saving IPv4 of %1 ...").arg(ssid), 0);
    const int before = m_pending;
    if (m_formDhcp)
        WiFiManager::setConnectionIpv4ToDhcp(m_client, uuid, context(QString(), dnsStep));
    else
        WiFiManager::setStaticIp(m_client, uuid, m_fields[0]->text(), m_formPrefix, m_fields[1]->text(),
                                 context(QString(), dnsStep));
    // A form that was refused at once stays open for correction.
    if (m_pending > before)
        showPage(Networks);
}
