#ifndef ZR_UI_ZRADIOFILTERSETTING_H
#define ZR_UI_ZRADIOFILTERSETTING_H

#include "ui/zpanel.h"
#include "params/zparamtypes.h"

#include <QList>
#include <QStringList>

class QPushButton;
class ZTwinFilterView;

// The filter panel: the three twin filters of the current mode's family
// (SSB, CW, AM or NFM), each the overlap of two pass bands. A picture of
// the selected filter within its limits, and a line per filter with both
// pass bands and the resulting pass band.
// The multi-function knob (or the arrows beside the picture) shifts the
// edited pass band in 10 Hz steps, the tuning dial shifts both together;
// F1 selects the next filter (a touch on its line too), F2 (or Enter, or a
// touch on a pass band) chooses the pass band to edit, F3 puts both pass
// bands back on the centre they were built with, F5 closes.
// The main window draws its function keys from sig_setFunctionButtons()
// while the panel is open; the panel draws the same faces on its own row.
// NFM filters are fixed: they are shown, not shifted.
class ZRadioFilterSetting : public ZPanel
{
    Q_OBJECT

public:
    ZRadioFilterSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioFilterSetting() override;

    // What the panel shows, for its owner and tests.
    int groupCount() const { return m_filters.size(); }
    int currentGroup() const { return m_group; }
    int editedPassBand() const { return m_edited; }
    QString familyName() const;
    // "FILTER 2  PB1 300…2700  PB2 300…2700  → 300…2700 (2400 Hz)"
    QString groupText(int g) const;
    QPushButton *groupButton(int g) const;
    QPushButton *shiftButton(int i) const; // 0 down, 1 up
    ZTwinFilterView *view() const { return m_view; }
    // The face of function key i as last sent: tag and value.
    QStringList functionFace(int i) const;

    // Edges as the operator hears them (CW at the configured pitch).
    static QString edgesText(const zrnamespace::ztwinfilter_fp_t &fp);

signals:
    // Key face i (0 … 4) of the main window: tag above, value below.
    void sig_setFunctionButtons(qint32 index, QString tag, QString value);

public slots:
    // Re-reads mode, filters and selection from the store and redraws
    // (the main window's sig_updateFilter()).
    void updateFilter();
    void shiftEdited(int steps);
    void shiftBoth(int steps);
    void nextGroup();
    void selectGroup(int g);
    void toggleEdited();
    void setEdited(int passBand);
    void resetCentres();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void sendFaces();
    void setFace(int i, const QString &tag, const QString &value);
    bool fixedFilter() const;
    void shiftPassBand(int passBand, int steps);

    ZTwinFilterView *m_view = nullptr;
    QList<QPushButton *> m_groupButtons;
    QList<QPushButton *> m_shiftButtons;
    QList<zrnamespace::ztwinfilter_t> m_filters;
    QList<QStringList> m_faces;
    int m_mode = 0;
    int m_group = 0;
    int m_edited = 0;
    int m_pitchShift = 0;
};

// The picture of one twin filter: both pass bands as bars over the range
// of its limits, the resulting pass band shaded, the edited one framed.
class ZTwinFilterView : public QWidget
{
    Q_OBJECT

public:
    explicit ZTwinFilterView(QWidget *parent);
    // shift moves the picture to the frequencies heard (CW pitch).
    void setFilter(const zrnamespace::ztwinfilter_t &filter, int edited, float shift);
    // The pass band a touch at y selects: 0 upper bar, 1 lower bar.
    int passBandAt(int y) const { return y < height() / 2 ? 0 : 1; }

signals:
    void sig_passBandTouched(int passBand);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    zrnamespace::ztwinfilter_t m_filter;
    int m_edited = 0;
    float m_shift = 0.0f;
};

#endif
