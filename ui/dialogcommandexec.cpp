#include "ui/dialogcommandexec.h"

#include "app/zlog.h"
#include "app/zqrc.h"
#include "app/zsystem.h"
#include "ui/zfonts.h"

#include <QDebug>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

DialogCommandExec::DialogCommandExec(QWidget *parent, const QStringList &commands, int closeTicks)
    : QDialog(parent)
    , m_commands(commands)
    , m_closeTicks(qMax(0, closeTicks))
{
    ZFonts::install();
    setObjectName(QStringLiteral("DialogCommandExec"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zframe_style01.qss")));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
    f.setBold(true);
    setFont(f);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 8);
    layout->setSpacing(8);
    m_title = new QLabel(QStringLiteral(" Please Wait"), this);
    m_title->setStyleSheet(QStringLiteral("QLabel{border: 0px;color: white; background-color: rgb(0,0,255);}"));
    m_title->setFont(f);
    layout->addWidget(m_title);

    m_text = new QLabel(this);
    QFont tf(QStringLiteral("DejaVu Sans Mono"), 12);
    m_text->setFont(tf);
    m_text->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_text, 1);

    m_progress = new QProgressBar(this);
    m_progress->setRange(0, qMax(1, m_commands.size()));
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(14);
    m_progress->setStyleSheet(QStringLiteral(
        "QProgressBar{border:1px solid rgb(90,98,120);border-radius:3px;background:rgb(0,32,64);}"
        "QProgressBar::chunk{background:rgb(0,200,80);}"));
    layout->addWidget(m_progress);

    // Centred over the parent's window, or the 800 x 480 screen.
    const int w = 500, h = 170;
    QRect area(0, 0, 800, 480);
    if (parent)
        area = parent->window()->geometry();
    setGeometry(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);

    m_timer = new QTimer(this);
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &DialogCommandExec::slot_timeOut);
    showProgress();
}

DialogCommandExec::~DialogCommandExec()
{
    if (m_worker.joinable())
        m_worker.join();
}

void DialogCommandExec::startWorker()
{
    if (m_worker.joinable() || m_done.load())
        return;
    m_results.clear();
    m_results.reserve(size_t(m_commands.size()));
    const QStringList commands = m_commands;
    m_worker = std::thread([this, commands]() {
        for (const QString &cmd : commands) {
            m_started.fetch_add(1, std::memory_order_release);
            qDebug().noquote() << "run:" << cmd;
            m_results.push_back(zsys::run(cmd));
        }
        m_done.store(true, std::memory_order_release);
    });
}

int DialogCommandExec::exec()
{
    startWorker();
    m_timer->start();
    return QDialog::exec();
}

int DialogCommandExec::run(QWidget *parent, const QStringList &commands, int closeTicks)
{
    DialogCommandExec dlg(parent, commands, closeTicks);
    return dlg.exec();
}

std::vector<int> DialogCommandExec::results() const
{
    if (!finished())
        return {};
    return m_results;
}

void DialogCommandExec::reject()
{
    // Escape and closing from outside wait for the commands; the dialog
    // closes itself when they are done.
    if (!finished())
        return;
    QDialog::reject();
}

void DialogCommandExec::showProgress()
{
    const int started = m_started.load(std::memory_order_acquire);
    const int n = m_commands.size();
    if (finished()) {
        m_text->setText(QStringLiteral("Done"));
        m_progress->setValue(qMax(1, n));
        return;
    }
    const QString cmd = started > 0 && started <= n ? m_commands.at(started - 1) : QString();
    const QString line = QFontMetrics(m_text->font()).elidedText(cmd, Qt::ElideMiddle, width() - 40);
    m_text->setText(QStringLiteral("%1 / %2\n%3").arg(qMax(1, started)).arg(qMax(1, n)).arg(line));
    m_progress->setValue(qMax(0, started - 1));
}

void DialogCommandExec::slot_timeOut()
{
    showProgress();
    if (!finished())
        return;
    if (m_worker.joinable())
        m_worker.join();
    if (++m_ticksAfterDone >= m_closeTicks) {
        m_timer->stop();
        QDialog::accept();
    }
}
