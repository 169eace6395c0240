#include "wireless/dialogbluetoothsetting.h"

#include "params/zparamadmin.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

enum Role { NameRole = Qt::UserRole, AddressRole, ConnectedRole };

const QColor kText(235, 235, 235);
const QColor kDim(150, 160, 175);
const QColor kGood(90, 220, 120);
const QColor kBad(255, 120, 80);

const QString kListStyle = QStringLiteral(
    "QListWidget{background-color:rgb(10,12,18);border:1px solid rgb(70,80,100);outline:0px;}"
    "QScrollBar:vertical{background:rgb(20,22,30);width:10px;}"
    "QScrollBar::handle:vertical{background:rgb(90,98,120);min-height:20px;}");

// One paired device per row: name, address, and its state.
class DeviceDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return QSize(100, 44); }

    void paint(QPainter *p, const QStyleOptionViewItem &opt, const QModelIndex &index) const override
    {
        p->save();
        const QRect r = opt.rect.adjusted(1, 1, -1, -1);
        const bool selected = opt.state & QStyle::State_Selected;
        p->fillRect(r, selected ? QColor(0, 90, 200) : QColor(24, 28, 38));
        if (selected) {
            p->setPen(QPen(QColor(255, 200, 0), 2));
            p->drawRect(r.adjusted(1, 1, -1, -1));
        }
        const bool connected = index.data(ConnectedRole).toBool();
        QFont icons(QStringLiteral("FontAwesome"), 15);
        QFont name(QStringLiteral("DejaVu Sans Mono"), 14);
        name.setBold(true);
        QFont mono(QStringLiteral("DejaVu Sans Mono"), 11);
        p->setFont(icons);
        p->setPen(connected ? kGood : kDim);
        p->drawText(QRect(r.left() + 8, r.top(), 24, r.height()), Qt::AlignCenter, QString(QChar(0xF293)));
        const QRect state(r.right() - 150, r.top(), 142, r.height());
        const QRect addr(state.left() - 190, r.top(), 182, r.height());
        const QRect nameRect(r.left() + 40, r.top(), addr.left() - r.left() - 44, r.height());
        p->setFont(name);
        p->setPen(kText);
        p->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft,
                    QFontMetrics(name).elidedText(index.data(NameRole).toString(), Qt::ElideRight, nameRect.width()));
        p->setFont(mono);
        p->setPen(kDim);
        p->drawText(addr, Qt::AlignVCenter | Qt::AlignLeft, index.data(AddressRole).toString());
        p->setFont(name);
        p->setPen(connected ? kGood : kDim);
        p->drawText(state, Qt::AlignVCenter | Qt::AlignRight,
                    connected ? QStringLiteral("CONNECTED") : QStringLiteral("PAIRED"));
        p->restore();
    }
};

} // namespace

DialogBluetoothSetting::DialogBluetoothSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h,
                                               ZBluetooth *bluetooth)
    : ZPanel(parent, store, x, y, w, h)
    , m_bt(bluetooth)
{
    setObjectName(QStringLiteral("DialogBluetoothSetting"));
    setPanelTitle(QStringLiteral("BLUETOOTH SETTING"));
    if (!m_bt) {
        m_bt = new ZBluetooth(this);
        m_ownBt = true;
    }

    m_body = new QWidget(this);
    auto *v = new QVBoxLayout(m_body);
    v->setContentsMargins(2, 2, 2, 2);
    v->setSpacing(6);
    auto *top = new QHBoxLayout;
    m_power = new QLabel(m_body);
    m_power->setObjectName(QStringLiteral("labelBtPower"));
    QFont pf(QStringLiteral("DejaVu Sans Mono"), 16);
    pf.setBold(true);
    m_power->setFont(pf);
    top->addWidget(m_power);
    m_adapter = new QLabel(m_body);
    m_adapter->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 12));
    m_adapter->setStyleSheet(QStringLiteral("QLabel{color:rgb(150,160,175);}"));
    m_adapter->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(m_adapter, 1);
    v->addLayout(top);
    auto *head = new QLabel(QStringLiteral("PAIRED DEVICES"), m_body);
    QFont hf(QStringLiteral("DejaVu Sans"), 12);
    hf.setBold(true);
    head->setFont(hf);
    head->setStyleSheet(QStringLiteral("QLabel{color:rgb(120,170,255);}"));
    v->addWidget(head);
    m_list = new QListWidget(m_body);
    m_list->setObjectName(QStringLiteral("listBtDevices"));
    m_list->setStyleSheet(kListStyle);
    m_list->setItemDelegate(new DeviceDelegate(m_list));
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(m_list, &QListWidget::currentRowChanged, this, [this]() { updateButtons(); });
    v->addWidget(m_list, 1);
    m_status = new QLabel(m_body);
    QFont sf(QStringLiteral("DejaVu Sans"), 13);
    sf.setBold(true);
    m_status->setFont(sf);
    m_status->setFixedHeight(30);
    v->addWidget(m_status);

    createFunctionButtons({QStringLiteral("POWER"), QStringLiteral("CONNECT"), QStringLiteral(" "),
                           QStringLiteral(" "), QStringLiteral("EXIT")});
    for (int i = 0; i < functionButtonCount(); ++i)
        connect(functionButton(i), &QPushButton::clicked, this, [this, i]() { functionKey(i); });
    m_body->setGeometry(userGeometry());

    connect(m_bt, &ZBluetooth::sig_changed, this, &DialogBluetoothSetting::refresh);
    connect(m_bt, &ZBluetooth::sig_operationFinished, this, [this](QString, bool ok, QString message) {
        if (!ok)
            setStatus(QStringLiteral("Failed: ") + message, 2);
        else
            setStatus(QStringLiteral("Done"), 1);
        refresh();
    });
    refresh();
}

DialogBluetoothSetting::~DialogBluetoothSetting() = default;

void DialogBluetoothSetting::resizeEvent(QResizeEvent *event)
{
    ZPanel::resizeEvent(event);
    if (m_body)
        m_body->setGeometry(userGeometry());
}

int DialogBluetoothSetting::selectedDevice() const
{
    return m_list->currentRow();
}

QString DialogBluetoothSetting::powerText() const
{
    return m_power->text();
}

QString DialogBluetoothSetting::statusText() const
{
    return m_status->text();
}

void DialogBluetoothSetting::setStatus(const QString &text, int kind)
{
    const QColor c = kind == 1 ? kGood : kind == 2 ? kBad : kText;
    m_status->setStyleSheet(QStringLiteral("QLabel{color:%1;}").arg(c.name()));
    m_status->setText(QFontMetrics(m_status->font()).elidedText(text, Qt::ElideRight, userGeometry().width() - 12));
}

void DialogBluetoothSetting::refresh()
{
    const int power = m_bt->powerState();
    const bool enabled = store() && store()->paramItem(QStringLiteral("wparam"), QStringLiteral("bten")).value.toInt() != 0;
    if (power < 0)
        m_power->setText(m_bt->isReady() || !enabled ? QStringLiteral("POWER  -  no adapter")
                                                     : QStringLiteral("POWER  ..."));
    else
        m_power->setText(QStringLiteral("POWER  ") + (power ? QStringLiteral("ON") : QStringLiteral("OFF")));
    m_power->setStyleSheet(QStringLiteral("QLabel{color:%1;}").arg(power == 1 ? kGood.name() : kDim.name()));
    m_adapter->setText(power < 0 ? QString() : m_bt->adapterName() + QStringLiteral("  ") + m_bt->adapterAddress());

    const QList<ZBluetoothDevice> devs = m_bt->pairedDevices();
    QString sig;
    for (const ZBluetoothDevice &d : devs)
        sig += d.path + QLatin1Char('|') + d.name + QLatin1Char('|') + QString::number(d.connected) + QLatin1Char('\n');
    if (sig != m_signature) {
        m_signature = sig;
        const QString keep = selectedDevice() >= 0 && selectedDevice() < m_devices.size()
                                 ? m_devices.at(selectedDevice()).path : QString();
        m_devices = devs;
        const QSignalBlocker block(m_list);
        m_list->clear();
        int row = devs.isEmpty() ? -1 : 0;
        for (int i = 0; i < devs.size(); ++i) {
            auto *item = new QListWidgetItem(devs.at(i).name, m_list);
            item->setData(NameRole, devs.at(i).name);
            item->setData(AddressRole, devs.at(i).address);
            item->setData(ConnectedRole, devs.at(i).connected);
            if (devs.at(i).path == keep)
                row = i;
        }
        m_list->setCurrentRow(row);
    }
    updateButtons();
}

void DialogBluetoothSetting::updateButtons()
{
    if (functionButtonCount() < 5)
        return;
    const int power = m_bt->powerState();
    functionButton(0)->setText(power == 1 ? QStringLiteral("POWER OFF") : QStringLiteral("POWER ON"));
    const int row = selectedDevice();
    const bool have = row >= 0 && row < m_devices.size();
    functionButton(1)->setText(have && m_devices.at(row).connected ? QStringLiteral("DISCONNECT")
                                                                   : QStringLiteral("CONNECT"));
    functionButton(1)->setEnabled(have && power == 1);
}

void DialogBluetoothSetting::functionKey(int i)
{
    switch (i) {
    case 0: togglePower(); break;
    case 1: connectOrDisconnect(); break;
    case 4: close(); break;
    default: break;
    }
}

void DialogBluetoothSetting::togglePower()
{
    // The item first: the main window's next tick hands it to the
    // wireless daemon; BlueZ's adapter follows directly.
    const int power = m_bt->powerState();
    const bool on = power < 0 ? !(store() && store()->paramItem(QStringLiteral("wparam"), QStringLiteral("bten")).value.toInt())
                              : power != 1;
    if (store())
        store()->setParamItem(QStringLiteral("wparam"), QStringLiteral("bten"), on ? 1 : 0);
    if (m_bt->setPowerState(on ? 1 : 0) < 0)
        setStatus(QStringLiteral("Bluetooth %1; no adapter found").arg(on ? QStringLiteral("enabled") : QStringLiteral("disabled")), 2);
    else
        setStatus(on ? QStringLiteral("Switching Bluetooth on ...") : QStringLiteral("Switching Bluetooth off ..."), 0);
    refresh();
}

void DialogBluetoothSetting::connectOrDisconnect()
{
    const int row = selectedDevice();
    if (row < 0 || row >= m_devices.size() || m_bt->powerState() != 1)
        return;
    const ZBluetoothDevice d = m_devices.at(row);
    if (d.connected) {
        setStatus(QStringLiteral("Disconnecting %1 ...").arg(d.name), 0);
        m_bt->disconnectDevice(d.path);
    } else {
        setStatus(QStringLiteral("Connecting %1 ...").arg(d.name), 0);
        m_bt->connectDevice(d.path);
    }
}

void DialogBluetoothSetting::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        m_enterDown = true;
        event->accept();
        return;
    }
    ZPanel::keyPressEvent(event);
}

void DialogBluetoothSetting::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        if (m_enterDown && !event->isAutoRepeat()) {
            m_enterDown = false;
            connectOrDisconnect();
        }
        return;
    }
    ZPanel::keyReleaseEvent(event);
}

void DialogBluetoothSetting::wheelEvent(QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    if (qAbs(delta) >= 120)
        delta /= 120;
    if ((event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::AltModifier) && m_list->count() > 0 && delta) {
        const int row = qBound(0, m_list->currentRow() - delta, m_list->count() - 1);
        m_list->setCurrentRow(row);
        m_list->scrollToItem(m_list->item(row));
    }
    event->accept();
}
