#ifndef ZR_UI_ZRADIOCHSETTING_H
#define ZR_UI_ZRADIOCHSETTING_H

#include "ui/zpanel.h"
#include "params/zparamtypes.h"

#include <QAbstractButton>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

class QLabel;
class QPushButton;
class QValidator;

// One line of the channel list; a touch selects the channel.
class ZChannelRow : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ZChannelRow(QWidget *parent);
    // Empty name, frequency and mode mark an empty channel.
    void setContents(const QString &number, const QString &name, const QString &freq, const QString &mode,
                     bool stored, bool current);
    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    QString number() const { return m_number; }
    QString name() const { return m_name; }
    QString frequency() const { return m_freq; }
    QString mode() const { return m_mode; }
    bool isCurrent() const { return m_current; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_number;
    QString m_name;
    QString m_freq;
    QString m_mode;
    bool m_stored = false;
    bool m_current = false;
    bool m_selected = false;
};

// The memory-channel editor: the 10 000 channels M-1 … M-10000 in pages,
// stored ones with name, frequency and mode, empty ones marked as such.
// The multi-function knob moves the selection one channel at a time, the
// tuning dial jumps to the next or previous stored channel, a touch selects
// a row; the buttons beside the list turn pages, and Enter (or GO TO) asks
// for a channel number.
// F1 recalls the selected channel (memory mode on it), F2 stores the
// current VFO in it, F3 renames it through the on-screen keyboard, F4
// clears it, F5 closes. Overwriting or clearing a stored channel asks for
// the same key a second time.
// Every change goes through the parameter store's channel operations, so
// the store's channel list, the selected channel and sig_chUpdate() stay
// true for the operating screen and the CI-V interpreter.
class ZRadioChSetting : public ZPanel
{
    Q_OBJECT

public:
    static constexpr int kChannelCount = 10000;
    static constexpr int kNameLength = 16;

    ZRadioChSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioChSetting() override;
    static int instances() { return s_instances; }

    int selectedChannel() const { return m_selected; }
    int pageFirst() const { return m_pageFirst; }
    int rowsPerPage() const { return m_rows.size(); }
    bool isStored(int ch) const { return m_stored.contains(ch); }
    int storedCount() const { return m_stored.size(); }
    // What row i of the page shows: number, name, frequency and mode.
    QString rowText(int i) const;
    QString statusText() const;
    ZChannelRow *row(int i) const;
    QPushButton *pageButton(int i) const; // 0 page up, 1 go to, 2 page down

    // "M-%1" of channel ch + 1, and a frequency as the radio shows it.
    static QString channelLabel(int ch);
    static QString frequencyText(int hz);

signals:
    // A channel was recalled, stored, renamed or cleared.
    void sig_channelChanged(int ch);

public slots:
    void selectChannel(int ch);
    void recallSelected();
    void storeVfoInSelected();
    // Asks for the new name with the on-screen keyboard.
    void renameSelected();
    void renameChannel(int ch, const QString &name);
    void clearSelected();
    // Asks for a channel number with the numeric keyboard.
    void goToChannel();
    // Reloads the channel list and the page (the store's sig_chUpdate()).
    void slot_refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    enum Pending { NoPending, PendingStore, PendingClear };

    void reloadList();
    void loadPage();
    void showPage();
    void updateTitle();
    void setStatus(const QString &text, bool warning = false);
    void jumpStored(int direction);
    void setPending(Pending p);
    int currentChannel() const;
    QString describe(int ch) const;
    // Runs the on-screen keyboard on a line holding `initial`: 1 with the
    // accepted text in *result, 0 when cancelled, -1 when the panel was
    // deleted meanwhile (then nothing of it may be touched).
    int askText(const QString &initial, int type, QValidator *validator, QString *result);
    zrnamespace::zparam_memo_t pageItem(int ch) const;

    QList<ZChannelRow *> m_rows;
    QList<QPushButton *> m_pageButtons;
    QLabel *m_status = nullptr;
    QSet<int> m_stored;
    QList<int> m_storedSorted;
    QVector<zrnamespace::zparam_memo_t> m_page;
    int m_selected = 0;
    int m_pageFirst = 0;
    Pending m_pending = NoPending;
    int m_pendingChannel = -1;
    bool m_busy = false;
    static int s_instances;
};

#endif
