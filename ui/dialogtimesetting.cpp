#include "ui/dialogtimesetting.h"

#include "app/zqrc.h"
#include "app/zrmisc.h"
#include "app/zsystem.h"
#include "ui/dialogcommandexec.h"
#include "ui/zfonts.h"
#include "ui/zkeyboard.h"

#include <QApplication>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

const char *const kSelectedStyle =
    "QLabel{border:1px solid white;border-radius:3px;color:rgb(0,255,0);background:black;}"
    "QLabel:focus{border:3px dotted rgb(255,127,0);}";
const char *const kFieldStyle =
    "QLabel{border:1px solid white;border-radius:3px;color:white;background:rgb(0,32,64);}"
    "QLabel:focus{border:3px dotted rgb(255,127,0);}";
const char *const kTitleStyle = "QLabel{border: 0px;color: white; background-color: rgb(0,0,255);}";

QLabel *makeField(QWidget *parent, const QString &name, int width, bool selectable)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedSize(width, 56);
    QFont f(QStringLiteral("DejaVu Sans Mono"), 24);
    f.setBold(true);
    l->setFont(f);
    l->setFocusPolicy(selectable ? Qt::StrongFocus : Qt::NoFocus);
    l->setStyleSheet(QString::fromLatin1(kFieldStyle));
    return l;
}

QLabel *makeText(QWidget *parent, const QString &text)
{
    auto *l = new QLabel(text, parent);
    QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

DialogTimeSetting::DialogTimeSetting(QWidget *parent, const QRect &geometry)
    : QDialog(parent)
{
    ZFonts::install();
    setObjectName(QStringLiteral("DialogTimeSetting"));
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zframe_style01.qss")));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
    f.setBold(true);
    setFont(f);
    setGeometry(geometry);

    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    top->setSpacing(10);
    m_title = new QLabel(QStringLiteral(" TIME SETTING"), this);
    m_title->setStyleSheet(QString::fromLatin1(kTitleStyle));
    // Fonts are set on each widget: under the main window's style sheet an
    // inherited font falls back to the application's.
    m_title->setFont(f);
    m_title->setFixedHeight(int(1.15 * QFontMetrics(m_title->font()).lineSpacing()));
    top->addWidget(m_title);

    auto *grid = new QGridLayout;
    grid->setContentsMargins(16, 4, 16, 4);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(12);
    top->addLayout(grid);

    const char *names[FieldCount] = { "labelYear", "labelMonth", "labelDay", "labelHour", "labelMinute",
                                      "labelOffset" };
    for (int i = 0; i < FieldCount; ++i)
        m_fields << makeField(this, QString::fromLatin1(names[i]), i == Year ? 110 : 76, true);
    m_seconds = makeField(this, QStringLiteral("labelSecond"), 76, false);

    auto row = [&](int r, const QString &caption, const QList<QWidget *> &widgets) {
        grid->addWidget(makeText(this, caption), r, 0);
        auto *h = new QHBoxLayout;
        h->setSpacing(6);
        for (QWidget *w : widgets)
            h->addWidget(w);
        h->addStretch(1);
        grid->addLayout(h, r, 1);
    };
    row(0, QStringLiteral("DATE"), { m_fields[Year], makeText(this, QStringLiteral("-")), m_fields[Month],
                                     makeText(this, QStringLiteral("-")), m_fields[Day] });
    row(1, QStringLiteral("TIME"), { m_fields[Hour], makeText(this, QStringLiteral(":")), m_fields[Minute],
                                     makeText(this, QStringLiteral(":")), m_seconds });
    row(2, QStringLiteral("UTC OFFSET"), { m_fields[Offset] });
    for (int i = 0; i < 2; ++i) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("lineEditNtp%1").arg(i + 1));
        e->setMinimumHeight(40);
        e->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 16));
        e->setFocusPolicy(Qt::StrongFocus);
        e->setStyleSheet(QStringLiteral(
            "QLineEdit{color:white;background:rgb(0,32,64);border:1px solid rgb(120,120,120);"
            "border-radius:3px;padding:0px 6px;}"
            "QLineEdit:focus{border:3px solid rgb(255,127,0);}"));
        m_servers << e;
        grid->addWidget(makeText(this, QStringLiteral("NTP SERVER %1").arg(i + 1)), 3 + i, 0);
        grid->addWidget(e, 3 + i, 1);
    }
    grid->setColumnStretch(1, 1);
    top->addStretch(1);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(3, 3, 3, 3);
    buttons->setSpacing(6);
    auto makeButton = [&](const QString &text, const QString &name) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setMinimumHeight(49);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFocusPolicy(Qt::StrongFocus);
        b->setFont(f);
        buttons->addWidget(b);
        return b;
    };
    m_update = makeButton(QStringLiteral("NTP UPDATE"), QStringLiteral("pushButtonUpdate"));
    m_cancel = makeButton(QStringLiteral("CANCEL"), QStringLiteral("pushButtonCancel"));
    m_ok = makeButton(QStringLiteral("OK"), QStringLiteral("pushButtonOk"));
    top->addLayout(buttons);
    connect(m_update, &QPushButton::clicked, this, &DialogTimeSetting::slot_update);
    connect(m_cancel, &QPushButton::clicked, this, &DialogTimeSetting::reject);
    connect(m_ok, &QPushButton::clicked, this, &DialogTimeSetting::accept);

    // The knob walks the fields, the server edits and the buttons in order.
    QList<QWidget *> chain;
    for (QLabel *l : qAsConst(m_fields))
        chain << l;
    chain << m_servers[0] << m_servers[1] << m_update << m_cancel << m_ok;
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);

    const QDateTime now = QDateTime::currentDateTime();
    const int own = now.offsetFromUtc() / 3600;
    m_offset = offsetFromTz(qgetenv("TZ"), own);
    setDisplayDate(QDateTime::currentDateTimeUtc().toOffsetFromUtc(m_offset * 3600));
    restyle();
}

DialogTimeSetting::~DialogTimeSetting() = default;

int DialogTimeSetting::wrapOffset(int offset)
{
    if (offset > 14)
        return -12;
    if (offset < -12)
        return 14;
    return offset;
}

int DialogTimeSetting::offsetFromTz(const QByteArray &tz, int fallback)
{
    QString zone = QString::fromLocal8Bit(tz).trimmed();
    if (zone.startsWith(QLatin1Char(':')))
        zone.remove(0, 1);
    if (!zone.startsWith(QLatin1String("Etc/GMT")))
        return fallback; // a named zone: its own offset is the one in force
    const QString rest = zone.mid(7);
    if (rest.isEmpty())
        return 0;
    bool ok = false;
    const int e = rest.toInt(&ok);
    if (!ok)
        return fallback;
    // "Etc/GMT-8" is eight hours east of UTC.
    return wrapOffset(-e);
}

void DialogTimeSetting::setNtpServer(int i, const QString &name)
{
    if (QLineEdit *e = m_servers.value(i))
        e->setText(name);
}

QString DialogTimeSetting::ntpServer(int i) const
{
    QLineEdit *e = m_servers.value(i);
    return e ? e->text() : QString();
}

void DialogTimeSetting::setDisplayDate(const QDateTime &dt)
{
    m_dt = dt;
    m_offset = dt.offsetFromUtc() / 3600;
    const QStringList parts = dt.toString(QStringLiteral("yyyy,MM,dd,HH,mm,ss")).split(QLatin1Char(','));
    if (parts.size() == 6) {
        for (int i = Year; i <= Minute; ++i)
            m_fields[i]->setText(parts.at(i));
        m_seconds->setText(parts.at(5));
    }
    m_fields[Offset]->setText(QString::asprintf("%+2d", m_offset));
}

void DialogTimeSetting::restyle()
{
    for (int i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setStyleSheet(QString::fromLatin1(i == m_selected ? kSelectedStyle : kFieldStyle));
}

int DialogTimeSetting::focusedField() const
{
    return m_fields.indexOf(qobject_cast<QLabel *>(focusWidget()));
}

void DialogTimeSetting::step(int d)
{
    switch (m_selected) {
    case Year: m_dt = m_dt.addYears(-d); break;
    case Month: m_dt = m_dt.addMonths(-d); break;
    case Day: m_dt = m_dt.addDays(-d); break;
    case Hour: {
        const QTime t = m_dt.time();
        m_dt.setTime(QTime((((t.hour() - d) % 24) + 24) % 24, t.minute(), t.second()));
        break;
    }
    case Minute: {
        const QTime t = m_dt.time();
        m_dt.setTime(QTime(t.hour(), (((t.minute() - d) % 60) + 60) % 60, t.second()));
        break;
    }
    case Offset:
        // The wall-clock time stays; only the zone it is read in changes.
        m_dt.setOffsetFromUtc(wrapOffset(m_offset - d) * 3600);
        break;
    default: return;
    }
    setDisplayDate(m_dt);
}

void DialogTimeSetting::wheelEvent(QWheelEvent *event)
{
    const int d = event->angleDelta().y();
    event->accept();
    if (d == 0)
        return;
    if (m_selected < 0) {
        if (d < 1)
            QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
        else
            QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier));
        return;
    }
    step(d);
}

QPushButton *DialogTimeSetting::buttonForKey(int key) const
{
    switch (key) {
    case Qt::Key_F1: return m_update;
    case Qt::Key_F4: return m_cancel;
    case Qt::Key_F5: return m_ok;
    default: return nullptr;
    }
}

void DialogTimeSetting::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (QPushButton *b = buttonForKey(key)) {
        if (b->isEnabled() && !b->isDown())
            b->setDown(true);
        event->accept();
        return;
    }
    if (key == Qt::Key_Enter || key == Qt::Key_Return) {
        auto *b = qobject_cast<QPushButton *>(focusWidget());
        if (b && b->isEnabled() && !b->isDown())
            b->setDown(true);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DialogTimeSetting::keyReleaseEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (event->isAutoRepeat() && (buttonForKey(key) || key == Qt::Key_Enter || key == Qt::Key_Return)) {
        event->accept();
        return;
    }
    if (QPushButton *b = buttonForKey(key)) {
        event->accept();
        if (b->isDown()) {
            b->setDown(false);
            b->click();
        }
        return;
    }
    if (key == Qt::Key_Enter || key == Qt::Key_Return) {
        event->accept();
        QWidget *focus = focusWidget();
        if (auto *e = qobject_cast<QLineEdit *>(focus)) {
            if (m_servers.contains(e)) {
                ZKeyboard::edit(this, e, ZKeyboard::Text);
            }
            return;
        }
        if (auto *b = qobject_cast<QPushButton *>(focus)) {
            b->setDown(false);
            if (b->isEnabled())
                b->click();
            return;
        }
        m_selected = m_selected < 0 ? focusedField() : -1;
        restyle();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void DialogTimeSetting::slot_update()
{
    QStringList commands;
    for (int i = 0; i < 2; ++i) {
        const QString name = ntpServer(i).trimmed();
        if (!name.isEmpty())
            commands << QStringLiteral("utpdate -u ") + zsys::quote(name);
    }
    if (commands.isEmpty())
        return;
    m_update->setEnabled(false);
    DialogCommandExec::run(this, commands, 20);
    m_update->setEnabled(true);
    setDisplayDate(QDateTime::currentDateTimeUtc().toOffsetFromUtc(m_offset * 3600));
}

void DialogTimeSetting::accept()
{
    bool ok = false;
    const int offset = m_fields[Offset]->text().toInt(&ok);
    if (!ok)
        qDebug() << "ERROR:" << "can't get utc offset";
    else if (offset < -12 || offset > 14)
        qDebug() << "ERROR:" << "invalid utc offset," << -offset;
    else
        zrmisc_set_utc_offset(-offset);

    // The date and time are digits only; the quotes keep them one word.
    zsys::run(QStringLiteral("date -s \"") + m_dt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
              + QLatin1Char('"'));
    zsys::run(QStringLiteral("hwclock -w -f /dev/rtc0"));
    zsys::run(QStringLiteral("hwclock -w -f /dev/rtc1"));
    QDialog::accept();
}
