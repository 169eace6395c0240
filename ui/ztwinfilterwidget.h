#ifndef ZTWINFILTERWIDGET_H
#define ZTWINFILTERWIDGET_H

#include "params/zparamtypes.h"

#include <QString>
#include <QWidget>

// The two pass bands of the current twin filter drawn over their range:
// each band as a bar, the band being edited in a brighter colour, their
// overlap (the pass band the receiver uses) filled, the filter's name at
// the left and the overlap's width at the right.
class ZTwinFilterWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ZTwinFilterWidget(QWidget *parent = nullptr);

    // The frequency range (Hz of audio offset) the widget's width shows.
    void setRange(float low, float high);
    float rangeLow() const { return m_low; }
    float rangeHigh() const { return m_high; }
    void setPassBands(const zrnamespace::ztwinfilter_fp_t &fp1, const zrnamespace::ztwinfilter_fp_t &fp2);
    zrnamespace::ztwinfilter_fp_t passBand(int i) const { return i == 1 ? m_fp2 : m_fp1; }
    // 0: pass band 1 is edited, 1: pass band 2.
    void setEditedBand(int index);
    int editedBand() const { return m_edited; }
    void setName(const QString &name);
    QString name() const { return m_name; }

    // x of a frequency inside the band area (for checks and the owner).
    float xOf(float hz) const;
    QRectF bandArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_low = 0.0f;
    float m_high = 3000.0f;
    zrnamespace::ztwinfilter_fp_t m_fp1;
    zrnamespace::ztwinfilter_fp_t m_fp2;
    int m_edited = 0;
    QString m_name;
};

#endif
