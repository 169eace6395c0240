#ifndef ZRICHTEXTPUSHBUTTON_H
#define ZRICHTEXTPUSHBUTTON_H

#include <QPushButton>
#include <QString>

// A push button with two lines of text: text 1 (a parameter's label) on top
// in a smaller font, text 2 (its value) below. Each line is shrunk to fit
// the button's width.
class ZRichTextPushButton : public QPushButton
{
    Q_OBJECT

public:
    enum TextFlag { Text1 = 1, Text2 = 2 };

    explicit ZRichTextPushButton(QWidget *parent = nullptr);

    using QPushButton::setText;
    // Sets text 1 when bit 0 of flags is set and text 2 when bit 1 is set.
    void setText(int flags, const QString &s);
    QString text1() const { return m_text1; }
    QString text2() const { return m_text2; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text1;
    QString m_text2;
};

#endif
