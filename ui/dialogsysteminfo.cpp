#include "ui/dialogsysteminfo.h"

#include "app/zqrc.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"

#include <QDate>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QWheelEvent>

DialogSystemInfo::DialogSystemInfo(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogSystemInfo"));
    // The panel's font, set rather than inherited (see the menu).
    m_title->setFont(font());
    setPanelTitle(QStringLiteral("System/Network Information"));
    createFunctionButtons({ QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
                            QStringLiteral("EXIT") });
    setExitButton(5);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("textBrowserInfo"));
    m_browser->setFont(QFont(QStringLiteral("Ubuntu Mono"), 13));
    m_browser->setStyleSheet(QStringLiteral("QTextBrowser{color: rgb(0,255,0);background-color: black;}"));
    m_browser->setLineWrapMode(QTextEdit::NoWrap);
    m_browser->setFocusPolicy(Qt::NoFocus);
    m_browser->setGeometry(userGeometry());
}

DialogSystemInfo::~DialogSystemInfo() = default;

void DialogSystemInfo::resizeEvent(QResizeEvent *event)
{
    ZPanel::resizeEvent(event);
    if (m_browser)
        m_browser->setGeometry(userGeometry());
}

QString DialogSystemInfo::version()
{
    QString v = ZQRC::getQssFromQrcFile(QStringLiteral(":/version"));
    v.remove(QLatin1Char('\r'));
    v.remove(QLatin1Char('\n'));
    return v;
}

QString DialogSystemInfo::buildStamp()
{
    // The compiler's "Mmm dd yyyy" and "hh:mm:ss" as an ISO date and time.
    const QString date = QString::fromLatin1(__DATE__).simplified();
    const QDate d = QLocale::c().toDate(date, QStringLiteral("MMM d yyyy"));
    const QString time = QString::fromLatin1(__TIME__).left(5);
    return (d.isValid() ? d.toString(Qt::ISODate) : date) + QLatin1Char(' ') + time;
}

void DialogSystemInfo::fill()
{
    QStringList lines;
    lines << QStringLiteral("---------------- System  Information ---------------- ");
    QString app = QStringLiteral("V") + version();
    if (m_store && m_store->bandPlan().bandsCfg() == 1)
        app += QStringLiteral("(J)");
    lines << QStringLiteral("APP     : %1 %2").arg(app, buildStamp());
    char ident[ZRADIO_IDENT_LEN + 1] = {};
    if (zradio_get_ident(ident, sizeof(ident)) != 0)
        ident[0] = 0;
    lines << QStringLiteral("BASE    : %1").arg(QString::fromLatin1(ident));

    // A read-only look at the interfaces; left out when it takes longer
    // than a second.
    QStringList dirs = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    dirs << QStringLiteral("/sbin") << QStringLiteral("/usr/sbin");
    const QString ifconfig = QStandardPaths::findExecutable(QStringLiteral("ifconfig"), dirs);
    if (!ifconfig.isEmpty()) {
        QProcess proc;
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(ifconfig, QStringList());
        if (proc.waitForFinished(1000)) {
            lines << QStringLiteral("\n---------------- Network Information ---------------- ");
            lines << QString::fromLocal8Bit(proc.readAll());
        } else {
            proc.kill();
            proc.waitForFinished(1000);
        }
    }
    m_browser->setPlainText(lines.join(QLatin1Char('\n')));
}

int DialogSystemInfo::exec()
{
    fill();
    return ZPanel::exec();
}

void DialogSystemInfo::wheelEvent(QWheelEvent *event)
{
    // The multi-function knob scrolls the text, three lines a step.
    int d = event->angleDelta().y();
    if (qAbs(d) >= 120)
        d /= 120; // a mouse wheel's notches
    if (d != 0) {
        QScrollBar *bar = m_browser->verticalScrollBar();
        bar->setValue(bar->value() - d * 3 * bar->singleStep());
    }
    event->accept();
}
