#include "radio/uifwupgrade.h"

#include "app/zlog.h"
#include "app/zqrc.h"
#include "app/zsystem.h"
#include "radio/xmodem.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QThread>
#include <QWheelEvent>

namespace {

const char *const kFirmwareDir = "/usr/firmware";

const char *const kTitleStyle =
    "QLabel{border:0px;color:white;background-color:rgb(0,0,255);padding-left:8px;}";
const char *const kListStyle =
    "QListView{color:rgb(240,240,240);background-color:rgb(10,12,16);"
    "border:1px solid rgb(90,98,120);border-radius:2px;outline:0px;}"
    "QListView::item{padding:4px;}"
    "QListView::item:selected{color:white;background-color:rgb(0,90,200);padding:4px;}";
const char *const kHintStyle = "QLabel{color:rgb(170,170,170);background:transparent;border:0px;}";

} // namespace

UiFwUpgrade::UiFwUpgrade(QWidget *parent)
    : QDialog(parent)
    , m_dir(zsys::path(QString::fromLatin1(kFirmwareDir)))
{
    setObjectName(QStringLiteral("UiFwUpgrade"));
    setModal(true);
    setFixedSize(800, 480);
    setStyleSheet(QStringLiteral("QDialog{background-color:rgb(0,0,0);}"));
    QFont font(QStringLiteral("DejaVu Sans"), 16);
    font.setBold(true);
    setFont(font);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("labelTitle"));
    m_title->setStyleSheet(QString::fromLatin1(kTitleStyle));
    m_title->setGeometry(4, 4, 792, 40);

    auto *hint = new QLabel(this);
    hint->setObjectName(QStringLiteral("labelDirectory"));
    hint->setStyleSheet(QString::fromLatin1(kHintStyle));
    hint->setGeometry(10, 50, 780, 28);
    QFont small = font;
    small.setPointSize(13);
    small.setBold(false);
    hint->setFont(small);
    hint->setText(tr("Images (*.zrf) in %1").arg(QString::fromLatin1(kFirmwareDir)));

    // Regular files only: a link could point anywhere.
    const QFileInfoList entries = QDir(m_dir).entryInfoList(
        {QStringLiteral("*.zrf")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::CaseSensitive, QDir::Name);
    for (const QFileInfo &fi : entries)
        if (fi.isFile() && !fi.isSymLink())
            m_files << fi.fileName();

    m_model = new QStringListModel(m_files, this);
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("listFirmware"));
    m_list->setModel(m_model);
    m_list->setStyleSheet(QString::fromLatin1(kListStyle));
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    QFont listFont = font;
    listFont.setPointSize(18);
    m_list->setFont(listFont);
    m_list->setGeometry(10, 80, 780, 266);
    if (!m_files.isEmpty())
        m_list->setCurrentIndex(m_model->index(0));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressUpgrade"));
    m_progress->setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zprogbar_style01.qss")));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setGeometry(10, 356, 780, 50);

    const QString buttonStyle = ZQRC::getQssFromQrcFile(QStringLiteral(":/pushbutton_style02.qss"));
    const char *const labels[5] = {"PREV", "NEXT", "", "UPGRADE", "QUIT"};
    for (int i = 0; i < 5; ++i) {
        auto *b = new QPushButton(QString::fromLatin1(labels[i]), this);
        b->setObjectName(QStringLiteral("Button_F%1").arg(i + 1));
        b->setStyleSheet(buttonStyle);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setGeometry(6 + i * 158, 418, 152, 56);
        m_buttons[i] = b;
    }
    m_buttons[2]->setEnabled(false);
    connect(m_buttons[0], &QPushButton::clicked, this, [this]() { moveSelection(-1); });
    connect(m_buttons[1], &QPushButton::clicked, this, [this]() { moveSelection(1); });
    connect(m_buttons[3], &QPushButton::clicked, this, &UiFwUpgrade::slot_upgradeClicked);
    connect(m_buttons[4], &QPushButton::clicked, this, &UiFwUpgrade::close);

    setTitle(m_files.isEmpty() ? tr("no image found") : tr("select an image"));
}

UiFwUpgrade::~UiFwUpgrade() = default;

void UiFwUpgrade::setTitle(const QString &text)
{
    m_title->setText(QStringLiteral("Firmware Upgrade: ") + text);
    emit sig_titleChanged(text);
}

QString UiFwUpgrade::title() const
{
    return m_title->text();
}

int UiFwUpgrade::selectedIndex() const
{
    const QModelIndex i = m_list->currentIndex();
    return i.isValid() ? i.row() : -1;
}

int UiFwUpgrade::progress() const
{
    return m_progress->value();
}

void UiFwUpgrade::moveSelection(int step)
{
    if (m_files.isEmpty())
        return;
    const int row = qBound(0, (selectedIndex() < 0 ? 0 : selectedIndex()) + step, m_files.size() - 1);
    m_list->setCurrentIndex(m_model->index(row));
}

void UiFwUpgrade::slot_upgradeClicked()
{
    const int row = selectedIndex();
    if (row < 0 || row >= m_files.size() || m_files.at(row).isEmpty())
        return;
    upgradeFirmware(m_dir + QLatin1Char('/') + m_files.at(row));
}

void UiFwUpgrade::setButtonsEnabled(bool enabled)
{
    for (int i = 0; i < 5; ++i)
        m_buttons[i]->setEnabled(enabled && i != 2); // the blank button has nothing to do
}

void UiFwUpgrade::upgradeFirmware(const QString &path)
{
    if (!m_idle)
        return;
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(logRig).noquote() << "can not open firmware file:" << name;
        setTitle(tr("Failed"));
        return;
    }
    m_progress->setValue(0);
    qCInfo(logRig).noquote() << "open firmware file" << name << "ok.";
    // The whole image or nothing: a short read or an empty file would be
    // flashed as a broken firmware after the old one was erased.
    const qint64 size = file.size();
    if (size <= 0 || size > kMaxImageSize) {
        qCWarning(logRig).noquote() << "firmware file refused," << name << "size" << size;
        setTitle(tr("Failed"));
        return;
    }
    const QByteArray image = file.read(size);
    if (image.size() != size || file.error() != QFileDevice::NoError) {
        qCWarning(logRig).noquote() << "firmware file unreadable," << name << file.errorString();
        setTitle(tr("Failed"));
        return;
    }

    setButtonsEnabled(false);
    setTitle(tr("Erasing Flash"));
    m_idle = false;

    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("fwupgrade"));
    auto *worker = new XMWorker;
    worker->moveToThread(thread);
    connect(worker, &XMWorker::sig_finished, thread, &QThread::quit);
    connect(worker, &XMWorker::sig_finished, this, &UiFwUpgrade::slot_upgradeFinished);
    connect(worker, &XMWorker::sig_progressUpdate, this, &UiFwUpgrade::slot_updateProgress);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QObject::destroyed, thread, &QObject::deleteLater);
    connect(this, &UiFwUpgrade::sig_startUpgrade, worker, &XMWorker::slot_start);
    thread->start();
    emit sig_startUpgrade(image);
    // One worker per transfer: the next upgrade gets a new one.
    disconnect(this, &UiFwUpgrade::sig_startUpgrade, worker, &XMWorker::slot_start);
}

void UiFwUpgrade::slot_updateProgress(int percent)
{
    m_progress->setValue(percent);
    setTitle(tr("Writing Flash"));
}

void UiFwUpgrade::slot_upgradeFinished(int result)
{
    setTitle(result < 0 ? tr("Failed") : tr("Done"));
    m_idle = true;
    setButtonsEnabled(true);
}

QPushButton *UiFwUpgrade::buttonForKey(int key) const
{
    if (key < Qt::Key_F1 || key > Qt::Key_F5)
        return nullptr;
    return m_buttons[key - Qt::Key_F1];
}

void UiFwUpgrade::keyPressEvent(QKeyEvent *event)
{
    QPushButton *b = event->modifiers() == Qt::NoModifier ? buttonForKey(event->key()) : nullptr;
    if (!b) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (b->isEnabled())
        b->setDown(true);
    event->accept();
}

void UiFwUpgrade::keyReleaseEvent(QKeyEvent *event)
{
    QPushButton *b = event->modifiers() == Qt::NoModifier ? buttonForKey(event->key()) : nullptr;
    if (!b) {
        QDialog::keyReleaseEvent(event);
        return;
    }
    if (event->isAutoRepeat()) {
        event->accept();
        return;
    }
    b->setDown(false);
    if (b->isEnabled())
        b->click();
    event->accept();
}

void UiFwUpgrade::wheelEvent(QWheelEvent *event)
{
    // The multi-function knob; the tuning dial (Alt) has nothing to do here.
    if (event->modifiers() != Qt::NoModifier) {
        event->ignore();
        return;
    }
    const int d = event->angleDelta().y();
    if (d > 0)
        moveSelection(-1);
    else if (d < 0)
        moveSelection(1);
    event->accept();
}

void UiFwUpgrade::closeEvent(QCloseEvent *event)
{
    // Closing during a transfer would leave the board half written with
    // nobody to show the result.
    if (!m_idle) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void UiFwUpgrade::reject()
{
    if (m_idle)
        QDialog::reject();
}
