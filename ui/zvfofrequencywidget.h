#ifndef ZVFOFREQUENCYWIDGET_H
#define ZVFOFREQUENCYWIDGET_H

#include <QFont>
#include <QList>
#include <QPointer>
#include <QRect>
#include <cstdint>

class QLabel;
class QPushButton;
class QWidget;

// A VFO frequency as a row of large digits grouped by two dot separators
// (14.270.000), the digit that one tuning step changes shown inverted. It
// places child widgets on the parent it is given and is not itself a widget,
// so the main window can lay other widgets over the same area.
class ZVFOFrequencyWidget
{
public:
    ZVFOFrequencyWidget(QWidget *parent, int digits);
    ~ZVFOFrequencyWidget();

    ZVFOFrequencyWidget(const ZVFOFrequencyWidget &) = delete;
    ZVFOFrequencyWidget &operator=(const ZVFOFrequencyWidget &) = delete;

    void setFont(const QFont &font);
    QFont font() const { return m_font; }
    // Top-left corner of the row in the parent's coordinates.
    void move(int x, int y);
    void setSpacing(int px);

    void setFrequency(uint32_t hz);
    uint32_t frequency() const { return m_freq; }
    int significantDigits() const { return m_sigDigits; }

    // i < 0 clears the mark; an index beyond the last digit is ignored.
    void setTuneStep(int i);
    int tuneStep() const { return m_tuneStep; }

    void redraw();
    void hide();
    void show();
    void raise();
    bool isHidden() const { return m_hidden; }

    int digitCount() const { return m_digits; }
    // Digit 0 is the units of hertz.
    QPushButton *digitButton(int i) const;
    QLabel *separator(int i) const;
    // The area the row covers in the parent's coordinates.
    QRect geometry() const;

    static const char *normalStyle();
    static const char *invertedStyle();

private:
    void updateSize();
    void layoutRow();

    int m_digits;
    QList<QPointer<QPushButton>> m_buttons;
    QPointer<QLabel> m_dots[2];
    QFont m_font;
    int m_dotWidth = 0;
    int m_digitWidth = 0;
    int m_digitHeight = 0;
    int m_spacing = 0;
    int m_left = 0;
    int m_top = 0;
    int m_totalWidth = 0;
    uint32_t m_freq = 0;
    int m_sigDigits = 0;
    int m_tuneStep = -1;
    bool m_fontChanged = true;
    bool m_geometryChanged = true;
    bool m_hidden = false;
};

#endif
