#ifndef ZR_UI_ZTEXTEDITOR_H
#define ZR_UI_ZTEXTEDITOR_H

#include "ui/zpanel.h"

class QLabel;
class QPlainTextEdit;

// A full-screen editor for one plain text (the CW message texts): the
// title names the text, the text is typed through the on-screen keyboard.
// F1 (or Enter) opens the keyboard, F2 clears, F3 puts the cursor at the
// start or end, F4 accepts, F5 cancels. The multi-function knob moves the
// cursor by characters, the tuning dial by lines; a touch on the text
// places the cursor.
class ZTextEditor : public ZPanel
{
    Q_OBJECT

public:
    ZTextEditor(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZTextEditor() override;

    void setTitle(const QString &title);
    // Replaces the text and puts the cursor at its end.
    void setText(const QString &text);
    // The plain text as it stands.
    QString text() const;
    QPlainTextEdit *editor() const { return m_edit; }
    QString statusText() const;

    // Runs the on-screen keyboard on the text; its result.
    int openKeyboard();

signals:
    // The text when the editor is accepted.
    void sig_textAccepted(const QString &text);

public slots:
    void accept() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void customEvent(QEvent *event) override;

private:
    void moveCursor(int op, int count);
    void updateStatus();

    QPlainTextEdit *m_edit = nullptr;
    QLabel *m_status = nullptr;
    QRect m_editRect;
    bool m_keyboardOpen = false;
};

#endif
