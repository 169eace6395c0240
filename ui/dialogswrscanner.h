#ifndef DIALOGSWRSCANNER_H
#define DIALOGSWRSCANNER_H

#include "ui/zpanel.h"

#include <QPixmap>
#include <QPoint>
#include <QVector>

#include <cstdint>

class QLabel;
class QTimer;

// " SWR SCANNER": sweeps the transmitter at 5 W AM across a range around
// the operator's frequency and draws SWR (1 at the bottom, 11 at the top)
// against frequency, pass after pass, like an antenna analyser.
//
// The panel never talks to the radio itself: it asks for each measurement
// with sig_nextPoint() and gets the value back in slot_commUpdateSWR();
// sig_postTRX(1) asks for the SWR-scan transmission when the sweep starts
// and sig_postTRX(0) withdraws it when the panel goes. Frequency, mode and
// transmit power are the operator's again when the panel is destroyed.
//
// Each plot column is one frequency step (the span: 1, 2, 5 or 10 kHz); a
// point is measured every 2, 4, 8, 16 or 32 columns (the speed), once the
// radio has settled on its frequency. Columns the radio cannot transmit on
// (outside 0.5-30 MHz, or outside the transmit bands) are not measured and
// stay empty.
class DialogSwrScanner : public ZPanel
{
    Q_OBJECT

public:
    static constexpr int kLeftMargin = 20;
    static constexpr int kTopMargin = 0;
    static constexpr int kDivisions = 10;
    static constexpr int kPenWidth = 2;
    static constexpr int kPeriodMs = 25;
    // Ticks between tuning to a point and asking for its SWR: the register
    // push, a base-band frame and the window's next tick (150 ms).
    static constexpr int kSettleTicks = 6;
    static constexpr int kSweepMode = 6; // AM
    static constexpr float kSweepPower = 5.0f;
    static constexpr float kSmoothing = 0.7f;

    DialogSwrScanner(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogSwrScanner() override;

    // What exec() does before its modal loop: buttons, plot, init(), the
    // 25 ms timer and sig_postTRX(1).
    void startSweep();
    int exec() override;

    // Saves the operator's frequency, mode and power, switches to 5 W AM
    // and lays the plot out for a pixmap of the rectangle's size.
    void init(const QRect &rect);
    // Columns per measured point (at least 10 points per pass).
    void setScanInc(int inc);
    void updateButtons();

    static int spanHz(int spanIndex);
    static QString speedLabel(int speedIndex);

    int spanIndex() const { return m_span; }
    int speedIndex() const { return m_speed; }
    int hzPerColumn() const { return m_hzPerColumn; }
    int columns() const { return m_columns; }
    int column() const { return m_column; }
    int scanInc() const { return m_inc; }
    int centreFrequency() const { return m_centre; }
    int state() const { return m_state; }
    int plotHeight() const { return m_plotHeight; }
    QPoint lastPoint() const { return m_last; }
    // The smoothed SWR of every column, 0 where none has been measured.
    QVector<float> history() const { return m_history; }
    QPixmap pixmap() const { return m_pixmap; }
    // The frequency plot column c stands for.
    int frequencyAt(int c) const;
    // Whether the radio may transmit at f (and so can measure there).
    bool canMeasure(int f) const;
    // The frequency label under X grid line i (1..9), "MM.kkk".
    QString axisLabel(int i) const;
    bool isSweeping() const;

signals:
    void sig_postTRX(uint8_t trx);
    void sig_nextPoint();

public slots:
    void slot_commUpdateSWR(float swr);
    void slot_pushButtonClicked(bool checked);
    void slot_timerUpdate();

protected:
    void done(int result) override;

private:
    void drawPoint();
    void drawGrid(QPainter &p);
    void drawLabels();
    void advance();
    void clearStrip(QPainter &p, int column);
    // Moves past the columns that cannot be measured to the next one that
    // can and tunes there; false when no column of the pass can be.
    bool skipToMeasurable();
    void tuneTo(int f);

    QLabel *m_plot = nullptr;
    QTimer *m_timer = nullptr;
    QPixmap m_pixmap;

    bool m_initialised = false;
    int m_savedFreq = 0;
    int m_savedMode = 0;
    float m_savedPower = 0.0f;
    int m_centre = 14270000;

    int m_span = 0;
    int m_hzPerColumn = 1000;
    int m_speed = 0;

    int m_plotWidth = 0;
    int m_plotHeight = 0;
    int m_columns = 0;
    float m_xScale = 0.0f; // pixels per X division
    float m_yScale = 0.0f; // pixels per SWR unit

    int m_column = 0;
    int m_inc = 2;
    QPoint m_last;
    QVector<float> m_history;
    float m_swr = 0.0f;
    bool m_received = false;
    int m_state = 0;
    bool m_wrap = false; // the next point starts a new line where it is
    bool m_labels = true;
    int m_sinceTune = 0; // ticks since the last tune
};

#endif
