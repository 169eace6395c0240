#ifndef XYPLOT_H
#define XYPLOT_H

#include <QVector>
#include <QWidget>

// The audio waveform as a trace (an oscilloscope view of the last block of
// receiver audio): samples left to right, zero in the middle. The vertical
// scale follows the signal (it rises at once with the peak and falls
// slowly), so weak and strong audio both fill the plot.
class XYPlot : public QWidget
{
    Q_OBJECT

public:
    explicit XYPlot(QWidget *parent = nullptr);

    void setSamples(const QVector<float> &samples);
    const QVector<float> &samples() const { return m_samples; }
    // Fixed full scale (> 0), or automatic (0).
    void setFullScale(float amplitude);
    float fullScale() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<float> m_samples;
    float m_fixed = 0.0f;
    float m_auto = 1.0f / 64.0f;
};

#endif
