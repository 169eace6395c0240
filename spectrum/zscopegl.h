#ifndef ZSCOPEGL_H
#define ZSCOPEGL_H

#include "spectrum/zcolormap.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QOpenGLWidget>
#include <QString>
#include <QVector>

class QPainter;

// The panadapter of the main screen: in its upper part the spectrum trace
// with a peak-hold trace, frequency and level grid, the tuning position and
// the receive pass band; below it a waterfall that scrolls down one line per
// repaint. The owner feeds one spectrum per display tick (setSamples) and
// then asks for a repaint (replot). Everything runs on the GUI thread.
class ZScopeGL : public QOpenGLWidget
{
    Q_OBJECT

public:
    ZScopeGL(QWidget *parent, int x, int y, int w, int h);
    ~ZScopeGL() override;

    // Resamples one spectrum (dB, any length) to the trace width.
    void setSamples(const QVector<float> &spectrum);
    void setFftHeightRatio(float ratio);
    float fftHeightRatio() const { return m_heightRatio; }
    void replot();
    float magToDispY(float dB) const;

    // Peak-hold step: a new maximum restarts the hold counter; once the
    // counter has run out the peak falls by `decay` of its dB value per call.
    static float peakHoldType2(float value, float peak, float decay, int &counter, int hold);

    // Grid. The frequency grid follows span and zoom; the vertical list is
    // kept for owners that lay out other widgets on the same positions.
    void setVerticalGrid(const QList<float> &xs) { m_vGrid = xs; }
    QList<float> verticalGrid() const { return m_vGrid; }
    void setHorizontalGrid(const QList<float> &ys) { m_hGrid = ys; }
    QList<float> horizontalGrid() const { return m_hGrid; }
    void setDivisions(int n) { m_divisions = qMax(1, n); }
    int divisions() const { return m_divisions; }
    void setDbPerDivision(float db) { m_dbPerDiv = db > 0 ? db : 10.0f; }

    // Level: the reference is found automatically unless fixed (-100 dB);
    // the offsets shift the trace ("fftref") and the waterfall ("wfref").
    void setLevelOffset(float db) { m_levelOffset = db; }
    float levelOffset() const { return m_levelOffset; }
    void setWaterfallOffset(float db) { m_wfOffset = db; }
    void setReferenceLevel(float db);
    float referenceLevel() const { return m_refLevel; }
    float displayReference() const;
    void setFixedReference(bool on);
    bool fixedReference() const { return m_fixedRef; }
    // Trace smoothing: 1 shows every spectrum as it is.
    void setAverage(float alpha) { m_alpha = qBound(0.0f, alpha, 1.0f); }

    // Frequency axis: span in Hz of the full width at zoom 1; the zoom is
    // the span factor of the base-band decimation (1, 2, 4, 8, 16).
    void setSpan(float hz) { m_span = hz > 0 ? hz : 100000.0f; }
    float span() const { return m_span; }
    void setZoom(float zoom) { m_zoom = zoom > 0 ? zoom : 1.0f; }
    float zoom() const { return m_zoom; }
    // Offset of the tuned frequency from the centre of the spectrum, Hz.
    void setTuningOffset(float hz) { m_tuningOffset = hz; }
    float tuningOffset() const { return m_tuningOffset; }
    // Centre mode keeps the tuned frequency in the middle: the trace and the
    // frequency grid move instead of the tuning line.
    void setCenterMode(bool on) { m_centerMode = on; }
    bool centerMode() const { return m_centerMode; }
    // Receive pass band in audio Hz and the radio mode (0 LSB … 7 NFM).
    void setPassBand(float lowHz, float highHz);
    void setMode(int mode) { m_mode = mode; }
    int mode() const { return m_mode; }

    void setPeakHold(bool on);
    bool peakHold() const { return m_peakHold; }
    void clearPeak() { m_clearPeak = true; }

    void setStatusText(const QString &text) { m_statusText = text; }
    QString statusText() const { return m_statusText; }
    void showStatusText(bool on) { m_showStatus = on; }
    void setLabelFont(const QFont &font) { m_labelFont = font; }
    QFont labelFont() const { return m_labelFont; }

    // What the last repaints produced (for the owner and for checks).
    int traceWidth() const { return m_samples.size(); }
    int spectrumHeight() const { return m_specHeight; }
    const QVector<float> &samples() const { return m_samples; }
    const QVector<float> &averagedTrace() const { return m_avg; }
    const QVector<float> &peakTrace() const { return m_peak; }
    const QImage &waterfallImage() const { return m_waterfall; }
    // x of the tuning line in trace pixels; may lie outside the trace.
    float tuningX() const;
    quint64 repaintCount() const { return m_frames; }

    // Everything one repaint does, drawn with `p` onto a surface of the
    // widget's size. paintGL calls it; it can also draw into an image.
    void renderFrame(QPainter &p);

protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void recalcVals();
    void drawGrid(QPainter &p, float centreX);
    void drawTuning(QPainter &p, float xt);
    void updateTraces(const QVector<float> &row);
    void updateReference();
    void scrollWaterfall(const QVector<float> &row, float ref);

    QList<float> m_vGrid;
    QList<float> m_hGrid;
    QVector<float> m_samples;
    QVector<float> m_avg;
    QVector<float> m_peak;
    QVector<int> m_holdCounter;
    QVector<float> m_row;
    int m_holdTime = 100;
    float m_alpha = 1.0f;
    float m_peakDecay = 0.01f;
    int m_specHeight = 0;
    int m_divisions = 6;
    float m_dbPerDiv = 10.0f;
    float m_levelOffset = 0.0f;
    float m_wfOffset = 0.0f;
    float m_refLevel = -80.0f;
    float m_wfRef = -135.0f;
    float m_span = 100000.0f;
    float m_zoom = 1.0f;
    float m_passLow = 300.0f;
    float m_passHigh = 3000.0f;
    float m_heightRatio = 0.5f;
    int m_mode = 6;
    QImage m_spectrum;
    QImage m_waterfall;
    QFont m_labelFont;
    QFont m_arrowFont;
    QFont m_statusFont;
    QString m_statusText;
    int m_sampleCount = 512;
    float m_tuningOffset = 0.0f;
    float m_floor = -80.0f;
    float m_targetRef = -80.0f;
    float m_adjustStep = 0.2f;
    bool m_fixedRef = false;
    bool m_adjusting = false;
    bool m_clearPeak = false;
    bool m_peakHold = true;
    int m_peakStartDelay = 0;
    bool m_centerMode = false;
    bool m_showStatus = true;
    int m_refFrames = 0;
    int m_refOutside = 0;
    quint64 m_frames = 0;
};

#endif
