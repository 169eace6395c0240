#ifndef ZDRAWSCOPE_H
#define ZDRAWSCOPE_H

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QVector>
#include <QWidget>

// The audio spectrum: a trace of dB values over 0 .. span/2 Hz (the bins
// of a real FFT of audio sampled at `span` Hz) with a vertical scale of
// divisions, averaging, a reference level and named frequency markers
// (a modem's centre, mark and space tones).
class ZDrawScope : public QWidget
{
    Q_OBJECT

public:
    struct Marker {
        QString name;
        float hz = 0.0f;
        QColor color;
    };

    explicit ZDrawScope(QWidget *parent = nullptr);

    // divisions of dbPerDivision dB above a floor of floorDb.
    void setVerticalScale(int divisions, float dbPerDivision, float floorDb);
    int divisions() const { return m_divisions; }
    float dbPerDivision() const { return m_dbPerDiv; }
    float floorDb() const { return m_floor; }
    // Sample rate of the audio whose spectrum is shown: n bins cover
    // 0 .. span/2 Hz.
    void setFrequencySpan(float hz);
    float frequencySpan() const { return m_span; }
    // The part of 0 .. span/2 the width shows (default all of it).
    void setDisplayRange(float lowHz, float highHz);
    float displayLow() const { return m_showLow; }
    float displayHigh() const { return m_showHigh; }
    // Weight of each new spectrum in the shown trace (1: no averaging).
    void setAverage(float alpha);
    float average() const { return m_alpha; }
    // Added to every value before it is drawn (dB).
    void setReferenceLevel(float db);
    float referenceLevel() const { return m_ref; }

    // Markers: a vertical line with its name at the top. Setting a name
    // that exists moves it.
    void setMarkers(const QList<QPair<QString, float>> &markers);
    void setMarker(const QString &name, float hz, const QColor &color = QColor());
    void removeMarker(const QString &name);
    void clearMarkers();
    QList<Marker> markers() const { return m_markers; }

    // One spectrum (dB per bin); averaged into the trace.
    void setSamples(const QVector<float> &spectrum);
    const QVector<float> &trace() const { return m_trace; }
    void replot();

    // Screen mapping of the plot area.
    float xOf(float hz) const;
    float yOf(float db) const;
    QRectF plotArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor defaultColor(int index) const;

    int m_divisions = 8;
    float m_dbPerDiv = 5.0f;
    float m_floor = -20.0f;
    float m_span = 16000.0f;
    float m_showLow = 0.0f;
    float m_showHigh = 8000.0f;
    bool m_rangeSet = false;
    float m_alpha = 1.0f;
    float m_ref = 0.0f;
    QVector<float> m_trace;
    QList<Marker> m_markers;
};

#endif
