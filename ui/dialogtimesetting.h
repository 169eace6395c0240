#ifndef DIALOGTIMESETTING_H
#define DIALOGTIMESETTING_H

#include <QDateTime>
#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QPushButton;

// " TIME SETTING": date, time of day and the time zone as a whole-hour UTC
// offset, and the time fetched from two NTP servers.
//
// The multi-function knob moves the focus through the fields, edits and
// buttons; Enter on a field selects it, and the knob then changes it;
// Enter again leaves it. F1 fetches the time, F4 cancels, F5 sets the
// clock and the zone.
class DialogTimeSetting : public QDialog
{
    Q_OBJECT

public:
    enum Field { Year, Month, Day, Hour, Minute, Offset, FieldCount };

    explicit DialogTimeSetting(QWidget *parent, const QRect &geometry = QRect(0, 0, 800, 480));
    ~DialogTimeSetting() override;

    void setNtpServer(int i, const QString &name);
    QString ntpServer(int i) const;
    // Shows dt (its own date, time and offset) in the fields.
    void setDisplayDate(const QDateTime &dt);

    QDateTime editedDateTime() const { return m_dt; }
    // Whole hours east of UTC, as shown.
    int offsetHours() const { return m_offset; }
    int selectedField() const { return m_selected; }
    QLabel *fieldLabel(int field) const { return m_fields.value(field); }
    QLabel *secondsLabel() const { return m_seconds; }
    QLineEdit *serverEdit(int i) const { return m_servers.value(i); }
    QPushButton *updateButton() const { return m_update; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *okButton() const { return m_ok; }

    // The offset the environment's TZ names ("Etc/GMT-8" is +8), wrapped
    // into -12..14; `fallback` when TZ names no Etc/GMT zone.
    static int offsetFromTz(const QByteArray &tz, int fallback);
    // Offset arithmetic of the knob: above 14 wraps to -12, below -12 to 14.
    static int wrapOffset(int offset);

public slots:
    void accept() override;
    // Fetches the time from the NTP servers and shows it.
    void slot_update();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void step(int d);
    void restyle();
    int focusedField() const;
    QPushButton *buttonForKey(int key) const;

    QDateTime m_dt;
    int m_offset = 0;
    int m_selected = -1;
    QLabel *m_title = nullptr;
    QList<QLabel *> m_fields;
    QLabel *m_seconds = nullptr;
    QList<QLineEdit *> m_servers;
    QPushButton *m_update = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_ok = nullptr;
};

#endif
