#ifndef UIFWUPGRADE_H
#define UIFWUPGRADE_H

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QListView;
class QProgressBar;
class QPushButton;
class QStringListModel;

// The base-band firmware upgrade screen: the "*.zrf" images of
// "/usr/firmware", a progress bar, a title that says what the transfer is
// doing, and five function buttons (F1 to F5): PREV, NEXT, a blank one,
// UPGRADE, QUIT. The multi-function knob moves the selection too. The
// transfer runs on a thread of its own (XMWorker); the screen cannot be
// closed while it runs.
class UiFwUpgrade : public QDialog
{
    Q_OBJECT

public:
    explicit UiFwUpgrade(QWidget *parent = nullptr);
    ~UiFwUpgrade() override;

    // Upgrades from the image file at path (a path under the system root);
    // ignored while a transfer runs. A file that cannot be read whole, is
    // empty or larger than any base-band image is refused with "Failed"
    // before the board is touched.
    void upgradeFirmware(const QString &path);
    // The title reads "Firmware Upgrade: " and the text.
    void setTitle(const QString &text);
    QString title() const;

    // For the operator's view and tests.
    QStringList firmwareFiles() const { return m_files; }
    int selectedIndex() const;
    int progress() const;
    bool isIdle() const { return m_idle; }
    QString firmwareDir() const { return m_dir; }

    // Largest image accepted.
    static const qint64 kMaxImageSize = 16 * 1024 * 1024;

signals:
    void sig_startUpgrade(const QByteArray &image);
    // Every title change ("Erasing Flash", "Writing Flash", "Done", ...).
    void sig_titleChanged(const QString &text);

public slots:
    void slot_updateProgress(int percent);
    void slot_upgradeFinished(int result);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void moveSelection(int step);
    void slot_upgradeClicked();
    void setButtonsEnabled(bool enabled);
    QPushButton *buttonForKey(int key) const;

    QString m_dir;
    QStringList m_files;
    bool m_idle = true;
    QLabel *m_title = nullptr;
    QListView *m_list = nullptr;
    QStringListModel *m_model = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_buttons[5] = {};
};

#endif
