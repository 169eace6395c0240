#ifndef ZR_UI_ZKEYBOARD_H
#define ZR_UI_ZKEYBOARD_H

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class ZKeyboardPreview;

// The on-screen keyboard: every text an operator types goes through it,
// since the radio has no keyboard of its own. It edits the text of its
// target (a QLineEdit, QPlainTextEdit or QTextEdit) live; Cancel restores
// the text and cursor the target had when the keyboard opened.
//
// Operation: a touch on a key types it; the multi-function knob moves the
// highlighted key through the keys in reading order, the tuning dial moves
// it a row up or down; Enter presses the highlighted key. F1 … F5 are the
// buttons of the bottom row: shift (text) or clear (numeric), backspace,
// space (text), OK and cancel. The hand-microphone keypad types its digits.
// A line at the top shows the edited line with the cursor, so the text
// stays visible even where the keyboard covers the target.
class ZKeyboard : public QDialog
{
    Q_OBJECT

public:
    enum Type { Text = 1, Numeric = 2 }; // numeric: digits, '.', ':', '-', '/'

    // Placed at (5, 239) in screen coordinates, 794 wide, as high as fits
    // the 800 x 480 screen.
    ZKeyboard(QWidget *parent, QWidget *target, int type);
    ~ZKeyboard() override;

    // Runs the keyboard modally on target; returns QDialog::Accepted or
    // QDialog::Rejected (at once when there is no target to edit).
    static int edit(QWidget *parent, QWidget *target, int type);

    static constexpr int kLeft = 5;
    static constexpr int kTop = 239;
    static constexpr int kWidth = 794;
    static constexpr int kScreenHeight = 480;

    int type() const { return m_type; }
    QWidget *target() const { return m_target; }

    // The keys of the grid in reading order, and the highlighted one.
    int keyCount() const { return m_keys.size(); }
    QPushButton *keyButton(int i) const;
    int highlightedKey() const { return m_highlight; }
    // Index of the key that types `c` in the layer shown, or -1.
    int keyIndexOf(QChar c) const;
    int columns() const { return m_cols; }
    QPushButton *functionButton(int i) const;

    bool isShifted() const { return m_shift; }
    bool showsSymbols() const { return m_symbols; }
    // The line shown at the top (masked for password fields) and where its
    // cursor stands.
    QString previewText() const;
    int previewCursor() const;
    // True after a typed key or OK was refused (validator, length limit);
    // cleared by the next key that is taken.
    bool lastInputRefused() const { return m_refused; }

public slots:
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    enum KeyKind { CharKey, LayerKey, LeftKey, RightKey, NewLineKey, BlankKey };
    struct KeyDef
    {
        KeyKind kind;
        QChar ch;
    };

    void buildKeys();
    void buildFunctionButtons();
    void relabel();
    KeyDef keyDef(int i) const;
    bool keyUsable(int i) const;
    void setHighlight(int i);
    void moveHighlight(int steps);
    void moveHighlightRows(int rows);
    void pressKey(int i);
    void pressFunction(int i);

    // Editing the target.
    void insertText(const QString &s);
    void backspace();
    void moveCursor(int d);
    void clearText();
    bool readOnlyTarget() const;
    void saveOriginal();
    void restoreOriginal();
    void refreshPreview();
    void setRefused(bool refused);

    int m_type = Text;
    QPointer<QWidget> m_target;
    QLineEdit *m_line = nullptr;
    QPlainTextEdit *m_plain = nullptr;
    QTextEdit *m_rich = nullptr;
    QString m_origText;
    int m_origCursor = 0;
    bool m_restoring = false;

    ZKeyboardPreview *m_preview = nullptr;
    QList<QPushButton *> m_keys;
    QList<QPushButton *> m_funcButtons;
    int m_cols = 12;
    int m_rows = 4;
    int m_highlight = 0;
    bool m_shift = false;
    bool m_symbols = false;
    bool m_refused = false;
    // Keys whose press this keyboard saw: only their release acts, so the
    // release of a key that opened the keyboard does not type.
    QSet<int> m_pressed;
    int m_enterKey = 0; // the key shown pressed while Enter is held
};

#endif
