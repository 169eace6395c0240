#ifndef ZBARMETER_H
#define ZBARMETER_H

#include <QColor>
#include <QList>
#include <QStringList>
#include <QWidget>

class QProgressBar;

// A horizontal bar meter over a value range (0..100 by default): a
// segmented bar of the given bar height with its scale under it, tick marks
// and labels at fractions of the bar length, each in its own colour. The
// bar is a style-sheet progress bar filled from ":/zprogbar_template.qss".
class ZBarMeter : public QWidget
{
    Q_OBJECT

public:
    // barHeight: height of the bar itself; the scale strip below it is
    // scaleHeight() high, so the widget is barHeight + scaleHeight() high.
    ZBarMeter(QWidget *parent, int width, int barHeight);

    void setRange(int min, int max);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    // Clamped to the range.
    void setValue(int value);
    int value() const { return m_value; }

    // Tick positions (fractions 0..1 of the bar length) and their labels;
    // a blank label draws the tick only.
    void setScale(const QList<float> &positions, const QStringList &labels);
    QList<float> tickPositions() const { return m_positions; }
    QStringList tickLabels() const { return m_labels; }
    // One colour per tick; missing ones are white.
    void setTickColors(const QList<QColor> &colors);
    QList<QColor> tickColors() const { return m_colors; }

    // Fills the bar template: the frame's top and bottom border widths, the
    // segments' top and bottom borders (which inset them in the frame),
    // the segment colour (a style-sheet colour such as "rgb(255,100,0)"),
    // the segment width and the gap after each segment, all in pixels.
    void setBarProps(int frameTop, int frameBottom, int segmentTop, int segmentBottom,
                     const QString &segmentColor, int segmentWidth, int margin);
    static QString barStyle(int frameTop, int frameBottom, int segmentTop, int segmentBottom,
                            const QString &segmentColor, int segmentWidth, int margin);

    QProgressBar *bar() const { return m_bar; }
    int barHeight() const { return m_barHeight; }
    static int scaleHeight() { return 13; }

    // Repaints the scale when it changed since the last paint (the bar
    // repaints itself when its value changes).
    void replot();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QProgressBar *m_bar = nullptr;
    int m_barHeight;
    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
    QList<float> m_positions;
    QStringList m_labels;
    QList<QColor> m_colors;
    QFont m_font;
    bool m_dirty = true;
};

#endif
