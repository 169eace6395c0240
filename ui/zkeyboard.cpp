#include "ui/zkeyboard.h"
#include "app/zlog.h"
#include "app/zqrc.h"
#include "ui/zfonts.h"
#include "ui/zpanel.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QValidator>
#include <QWheelEvent>

namespace {

// Key rows. Control characters stand for the keys that do not type
// themselves: 1 switches letters and symbols, 2 and 3 move the cursor, 4 is
// a new line (multi-line targets only); a space is an unused place (space
// has its own function button).
const char *const kLetterRows[] = {
    "1234567890-_",
    "qwertyuiop/?",
    "asdfghjkl:.@",
    "\001zxcvbnm,\002\003\004",
};
// Every printable ASCII symbol, with the digits kept on top for passwords.
const char *const kSymbolRows[] = {
    "1234567890-_",
    "!\"#$%&'()*+=",
    ",./:;<>?@[\\]",
    "\001^`{|}~  \002\003\004",
};
const char *const kNumericRows[] = {
    "789.",
    "456:",
    "123-",
    "\0020\003/",
};

const QString kKeyStyle = QStringLiteral(
    "QPushButton{color:white;background-color:rgb(40,44,56);border:1px solid rgb(90,98,120);"
    "border-radius:4px;padding:0px;}"
    "QPushButton:pressed{background-color:rgb(0,90,200);border:1px solid rgb(120,170,255);}"
    "QPushButton:disabled{color:rgb(60,60,60);background-color:rgb(24,26,32);"
    "border:1px solid rgb(40,44,52);}");
const QString kControlKeyStyle = QStringLiteral(
    "QPushButton{color:rgb(255,220,120);background-color:rgb(30,36,72);border:1px solid rgb(90,98,150);"
    "border-radius:4px;padding:0px;}"
    "QPushButton:pressed{background-color:rgb(0,90,200);border:1px solid rgb(120,170,255);}"
    "QPushButton:disabled{color:rgb(60,60,60);background-color:rgb(24,26,32);"
    "border:1px solid rgb(40,44,52);}");
// The highlighted key: bright green face with the yellow focus frame, the
// brightest thing on the keyboard, so it is found at a glance.
const QString kHighlightStyle = QStringLiteral(
    "QPushButton{color:white;background-color:rgb(0,150,75);border:3px solid rgb(255,200,0);"
    "border-radius:4px;padding:0px;}"
    "QPushButton:pressed{background-color:rgb(0,90,200);border:3px solid rgb(255,200,0);}");

const int kBorder = 3;
const int kPreviewHeight = 28;
const int kFunctionHeight = 46;
const int kGap = 3;

} // namespace

// The edited line with its cursor, drawn in a monospace font and scrolled
// so the cursor always stays in view, however long the text.
class ZKeyboardPreview : public QWidget
{
public:
    explicit ZKeyboardPreview(QWidget *parent)
        : QWidget(parent)
    {
        QFont f(QStringLiteral("DejaVu Sans Mono"), 14);
        f.setBold(true);
        setFont(f);
    }
    void set(const QString &text, int cursor, bool refused)
    {
        m_text = text;
        m_cursor = qBound(0, cursor, text.size());
        m_refused = refused;
        update();
    }
    QString text() const { return m_text; }
    int cursor() const { return m_cursor; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(0, 0, 0));
        p.setPen(QPen(m_refused ? QColor(255, 60, 60) : QColor(90, 98, 120), m_refused ? 2 : 1));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        const QFontMetrics fm(font());
        const int pad = 6;
        const int room = width() - 2 * pad;
        const int caretX = fm.horizontalAdvance(m_text.left(m_cursor));
        // Scroll the text left just enough to keep the cursor in view.
        const int shift = qMax(0, caretX - room + fm.averageCharWidth());
        p.setClipRect(rect().adjusted(2, 2, -2, -2));
        p.setPen(Qt::white);
        const int base = (height() + fm.ascent() - fm.descent()) / 2;
        p.drawText(pad - shift, base, m_text);
        const int x = pad - shift + caretX;
        p.fillRect(QRect(x, 4, 2, height() - 8), QColor(255, 200, 0));
    }

private:
    QString m_text;
    int m_cursor = 0;
    bool m_refused = false;
};

ZKeyboard::ZKeyboard(QWidget *parent, QWidget *target, int type)
    : QDialog(parent)
    , m_type(type == Numeric ? Numeric : Text)
    , m_target(target)
{
    ZFonts::install();
    setObjectName(QStringLiteral("ZKeyboard"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zframe_style01.qss")));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
    f.setBold(true);
    setFont(f);
    // Below the upper half of the screen, where the edited fields are, and
    // never past the bottom edge.
    setGeometry(kLeft, kTop, kWidth, kScreenHeight - kTop);

    m_line = qobject_cast<QLineEdit *>(target);
    m_plain = qobject_cast<QPlainTextEdit *>(target);
    m_rich = qobject_cast<QTextEdit *>(target);
    if (target && !m_line && !m_plain && !m_rich)
        qCWarning(logGui) << "keyboard: cannot edit a" << target->metaObject()->className();
    if (m_type == Numeric) {
        m_cols = 4;
        m_rows = 4;
    }

    m_preview = new ZKeyboardPreview(this);
    m_preview->setGeometry(kBorder + 2, kBorder + 2, width() - 2 * (kBorder + 2), kPreviewHeight);
    buildKeys();
    buildFunctionButtons();
    saveOriginal();
    relabel();
    setHighlight(0);

    // Something else may change the text while the keyboard is up; the
    // preview follows. A target that goes away ends the edit.
    if (m_line)
        connect(m_line, &QLineEdit::textChanged, this, &ZKeyboard::refreshPreview);
    else if (m_plain)
        connect(m_plain, &QPlainTextEdit::textChanged, this, &ZKeyboard::refreshPreview);
    else if (m_rich)
        connect(m_rich, &QTextEdit::textChanged, this, &ZKeyboard::refreshPreview);
    if (target)
        connect(target, &QObject::destroyed, this, [this]() {
            m_line = nullptr;
            m_plain = nullptr;
            m_rich = nullptr;
            QDialog::reject();
        });
    refreshPreview();
}

ZKeyboard::~ZKeyboard() = default;

int ZKeyboard::edit(QWidget *parent, QWidget *target, int type)
{
    if (!qobject_cast<QLineEdit *>(target) && !qobject_cast<QPlainTextEdit *>(target)
        && !qobject_cast<QTextEdit *>(target)) {
        qCWarning(logGui) << "keyboard: nothing to edit";
        return QDialog::Rejected;
    }
    // On the heap and watched: the parent may be deleted while the modal
    // loop runs, and it then deletes the keyboard with it.
    QPointer<ZKeyboard> kb = new ZKeyboard(parent, target, type);
    const int result = kb->exec();
    delete kb.data();
    return result == QDialog::Accepted ? QDialog::Accepted : QDialog::Rejected;
}

void ZKeyboard::buildKeys()
{
    const int left = kBorder + 2;
    const int areaW = width() - 2 * left;
    const int top = kBorder + 2 + kPreviewHeight + 4;
    const int bottom = height() - kBorder - 2 - kFunctionHeight - 4;
    const int areaH = bottom - top;
    // Large bold glyphs: punctuation must read as clearly as letters.
    QFont keyFont(QStringLiteral("DejaVu Sans Mono"), 18);
    keyFont.setBold(true);
    for (int r = 0; r < m_rows; ++r) {
        const int y0 = top + r * (areaH + kGap) / m_rows;
        const int y1 = top + (r + 1) * (areaH + kGap) / m_rows - kGap;
        for (int c = 0; c < m_cols; ++c) {
            const int x0 = left + c * (areaW + kGap) / m_cols;
            const int x1 = left + (c + 1) * (areaW + kGap) / m_cols - kGap;
            auto *b = new QPushButton(this);
            b->setObjectName(QStringLiteral("Key_%1_%2").arg(r).arg(c));
            b->setGeometry(x0, y0, x1 - x0, y1 - y0);
            b->setFocusPolicy(Qt::NoFocus);
            b->setAutoDefault(false);
            b->setFont(keyFont);
            const int i = m_keys.size();
            connect(b, &QPushButton::clicked, this, [this, i]() {
                setHighlight(i);
                pressKey(i);
            });
            m_keys.append(b);
        }
    }
}

void ZKeyboard::buildFunctionButtons()
{
    const QStringList labels = m_type == Numeric
        ? QStringList{QStringLiteral("CLEAR"), QStringLiteral("BACKSPACE"), QString(),
                      QStringLiteral("OK"), QStringLiteral("CANCEL")}
        : QStringList{QStringLiteral("SHIFT"), QStringLiteral("BACKSPACE"), QStringLiteral("SPACE"),
                      QStringLiteral("OK"), QStringLiteral("CANCEL")};
    const int left = kBorder + 2;
    const int areaW = width() - 2 * left;
    const int gap = 6;
    const int y = height() - kBorder - 2 - kFunctionHeight;
    for (int i = 0; i < labels.size(); ++i) {
        const int x0 = left + i * (areaW + gap) / labels.size();
        const int x1 = left + (i + 1) * (areaW + gap) / labels.size() - gap;
        auto *b = new QPushButton(labels.at(i), this);
        b->setObjectName(QStringLiteral("Button_F%1").arg(i + 1));
        b->setGeometry(x0, y, x1 - x0, kFunctionHeight);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setFont(font());
        b->setStyleSheet(ZPanel::buttonStyle(false));
        b->setEnabled(!labels.at(i).isEmpty());
        // Backspace keeps deleting while the touch is held.
        b->setAutoRepeat(i == 1);
        connect(b, &QPushButton::clicked, this, [this, i]() { pressFunction(i); });
        m_funcButtons.append(b);
    }
}

ZKeyboard::KeyDef ZKeyboard::keyDef(int i) const
{
    if (i < 0 || i >= m_keys.size())
        return {BlankKey, QChar()};
    const char *const *rows = m_type == Numeric ? kNumericRows : (m_symbols ? kSymbolRows : kLetterRows);
    const char c = rows[i / m_cols][i % m_cols];
    switch (c) {
    case '\001':
        return {LayerKey, QChar()};
    case '\002':
        return {LeftKey, QChar()};
    case '\003':
        return {RightKey, QChar()};
    case '\004':
        return {NewLineKey, QChar()};
    case ' ':
        return {BlankKey, QChar()};
    default:
        break;
    }
    QChar ch = QLatin1Char(c);
    if (m_shift && ch.isLetter())
        ch = ch.toUpper();
    return {CharKey, ch};
}

bool ZKeyboard::keyUsable(int i) const
{
    const KeyDef d = keyDef(i);
    if (d.kind == BlankKey)
        return false;
    if (d.kind == NewLineKey)
        return m_plain || m_rich;
    return true;
}

void ZKeyboard::relabel()
{
    for (int i = 0; i < m_keys.size(); ++i) {
        QPushButton *b = m_keys.at(i);
        const KeyDef d = keyDef(i);
        QString label;
        switch (d.kind) {
        case CharKey:
            // '&' would be taken for a mnemonic marker.
            label = d.ch == QLatin1Char('&') ? QStringLiteral("&&") : QString(d.ch);
            break;
        case LayerKey:
            label = m_symbols ? QStringLiteral("ABC") : QStringLiteral("SYM");
            break;
        case LeftKey:
            label = QString(QChar(0x25C0));
            break;
        case RightKey:
            label = QString(QChar(0x25B6));
            break;
        case NewLineKey:
            label = keyUsable(i) ? QString(QChar(0x21B5)) : QString();
            break;
        case BlankKey:
            break;
        }
        b->setText(label);
        b->setEnabled(keyUsable(i));
        b->setProperty("controlKey", d.kind != CharKey);
    }
    if (QPushButton *shift = functionButton(0))
        if (m_type == Text)
            shift->setStyleSheet(ZPanel::buttonStyle(m_shift));
    // A layer switch may leave the highlight on a place without a key.
    if (!keyUsable(m_highlight))
        moveHighlight(1);
    else
        setHighlight(m_highlight);
}

QPushButton *ZKeyboard::keyButton(int i) const
{
    return i >= 0 && i < m_keys.size() ? m_keys.at(i) : nullptr;
}

QPushButton *ZKeyboard::functionButton(int i) const
{
    return i >= 0 && i < m_funcButtons.size() ? m_funcButtons.at(i) : nullptr;
}

int ZKeyboard::keyIndexOf(QChar c) const
{
    for (int i = 0; i < m_keys.size(); ++i) {
        const KeyDef d = keyDef(i);
        if (d.kind == CharKey && d.ch == c)
            return i;
    }
    return -1;
}

void ZKeyboard::setHighlight(int i)
{
    if (i < 0 || i >= m_keys.size())
        return;
    m_highlight = i;
    for (int k = 0; k < m_keys.size(); ++k) {
        const bool control = m_keys.at(k)->property("controlKey").toBool();
        m_keys.at(k)->setStyleSheet(k == i && keyUsable(k) ? kHighlightStyle
                                                           : (control ? kControlKeyStyle : kKeyStyle));
    }
}

void ZKeyboard::moveHighlight(int steps)
{
    const int n = m_keys.size();
    if (n == 0 || steps == 0)
        return;
    int i = m_highlight;
    const int dir = steps > 0 ? 1 : -1;
    for (int s = 0; s < qAbs(steps); ++s) {
        // Unused places are skipped; after the last key comes the first.
        for (int guard = 0; guard < n; ++guard) {
            i = (i + dir + n) % n;
            if (keyUsable(i))
                break;
        }
    }
    setHighlight(i);
}

void ZKeyboard::moveHighlightRows(int rows)
{
    if (rows == 0 || m_cols <= 0)
        return;
    const int col = m_highlight % m_cols;
    int row = m_highlight / m_cols;
    const int dir = rows > 0 ? 1 : -1;
    for (int s = 0; s < qAbs(rows); ++s) {
        row = (row + dir + m_rows) % m_rows;
        // In a row without a key in this column, the nearest key of the row.
        int best = -1;
        for (int d = 0; d < m_cols && best < 0; ++d) {
            if (col - d >= 0 && keyUsable(row * m_cols + col - d))
                best = row * m_cols + col - d;
            else if (col + d < m_cols && keyUsable(row * m_cols + col + d))
                best = row * m_cols + col + d;
        }
        if (best >= 0)
            m_highlight = best;
    }
    setHighlight(m_highlight);
}

void ZKeyboard::pressKey(int i)
{
    if (!keyUsable(i))
        return;
    const KeyDef d = keyDef(i);
    switch (d.kind) {
    case CharKey:
        insertText(QString(d.ch));
        break;
    case LayerKey:
        m_symbols = !m_symbols;
        relabel();
        break;
    case LeftKey:
        moveCursor(-1);
        break;
    case RightKey:
        moveCursor(+1);
        break;
    case NewLineKey:
        insertText(QStringLiteral("\n"));
        break;
    case BlankKey:
        break;
    }
}

void ZKeyboard::pressFunction(int i)
{
    switch (i) {
    case 0:
        if (m_type == Numeric) {
            clearText();
        } else {
            m_shift = !m_shift;
            relabel();
        }
        break;
    case 1:
        backspace();
        break;
    case 2:
        if (m_type == Text)
            insertText(QStringLiteral(" "));
        break;
    case 3:
        accept();
        break;
    case 4:
        reject();
        break;
    default:
        break;
    }
}

bool ZKeyboard::readOnlyTarget() const
{
    if (m_line)
        return m_line->isReadOnly();
    if (m_plain)
        return m_plain->isReadOnly();
    if (m_rich)
        return m_rich->isReadOnly();
    return true;
}

void ZKeyboard::insertText(const QString &s)
{
    if (readOnlyTarget()) {
        setRefused(true);
        return;
    }
    if (m_line) {
        // QLineEdit::insert applies the validator and the length limit and
        // leaves the text as it was when they refuse it.
        const QString before = m_line->text();
        m_line->insert(s);
        setRefused(m_line->text() == before);
    } else {
        QTextCursor c = m_plain ? m_plain->textCursor() : m_rich->textCursor();
        c.insertText(s);
        if (m_plain) {
            m_plain->setTextCursor(c);
            m_plain->ensureCursorVisible();
        } else {
            m_rich->setTextCursor(c);
            m_rich->ensureCursorVisible();
        }
        setRefused(false);
    }
    refreshPreview();
}

void ZKeyboard::backspace()
{
    if (readOnlyTarget())
        return;
    if (m_line) {
        m_line->backspace();
    } else {
        QTextCursor c = m_plain ? m_plain->textCursor() : m_rich->textCursor();
        c.deletePreviousChar();
        if (m_plain)
            m_plain->setTextCursor(c);
        else
            m_rich->setTextCursor(c);
    }
    setRefused(false);
    refreshPreview();
}

void ZKeyboard::moveCursor(int d)
{
    if (m_line) {
        if (d < 0)
            m_line->cursorBackward(false, 1);
        else
            m_line->cursorForward(false, 1);
    } else if (m_plain || m_rich) {
        QTextCursor c = m_plain ? m_plain->textCursor() : m_rich->textCursor();
        c.movePosition(d < 0 ? QTextCursor::PreviousCharacter : QTextCursor::NextCharacter);
        if (m_plain) {
            m_plain->setTextCursor(c);
            m_plain->ensureCursorVisible();
        } else {
            m_rich->setTextCursor(c);
            m_rich->ensureCursorVisible();
        }
    }
    refreshPreview();
}

void ZKeyboard::clearText()
{
    if (readOnlyTarget())
        return;
    if (m_line)
        m_line->clear();
    else if (m_plain)
        m_plain->clear();
    else if (m_rich)
        m_rich->clear();
    setRefused(false);
    refreshPreview();
}

void ZKeyboard::saveOriginal()
{
    if (m_line) {
        m_origText = m_line->text();
        m_origCursor = m_line->cursorPosition();
    } else if (m_plain) {
        m_origText = m_plain->toPlainText();
        m_origCursor = m_plain->textCursor().position();
    } else if (m_rich) {
        // The whole document, formats included.
        m_origText = m_rich->toHtml();
        m_origCursor = m_rich->textCursor().position();
    }
}

void ZKeyboard::restoreOriginal()
{
    m_restoring = true;
    if (m_line) {
        m_line->setText(m_origText);
        m_line->setCursorPosition(m_origCursor);
    } else if (m_plain || m_rich) {
        if (m_plain)
            m_plain->setPlainText(m_origText);
        else
            m_rich->setHtml(m_origText);
        QTextCursor c = m_plain ? m_plain->textCursor() : m_rich->textCursor();
        c.setPosition(qBound(0, m_origCursor, c.document()->characterCount() - 1));
        if (m_plain)
            m_plain->setTextCursor(c);
        else
            m_rich->setTextCursor(c);
    }
    m_restoring = false;
    refreshPreview();
}

void ZKeyboard::setRefused(bool refused)
{
    if (m_refused == refused)
        return;
    m_refused = refused;
    refreshPreview();
}

void ZKeyboard::refreshPreview()
{
    if (m_restoring)
        return;
    QString text;
    int cursor = 0;
    if (m_line) {
        // The displayed text: password fields show their mask characters.
        text = m_line->displayText();
        cursor = m_line->cursorPosition();
    } else if (m_plain || m_rich) {
        const QTextCursor c = m_plain ? m_plain->textCursor() : m_rich->textCursor();
        text = c.block().text();
        cursor = c.positionInBlock();
    }
    m_preview->set(text, cursor, m_refused);
}

QString ZKeyboard::previewText() const
{
    return m_preview->text();
}

int ZKeyboard::previewCursor() const
{
    return m_preview->cursor();
}

void ZKeyboard::accept()
{
    if (m_line && !m_line->hasAcceptableInput()) {
        // Not yet a complete value (a port of 0, half an address): let the
        // validator repair it, else stay open on it.
        if (const QValidator *v = m_line->validator()) {
            QString s = m_line->text();
            v->fixup(s);
            int pos = 0;
            if (v->validate(s, pos) == QValidator::Acceptable)
                m_line->setText(s);
        }
        if (!m_line->hasAcceptableInput()) {
            setRefused(true);
            return;
        }
    }
    QDialog::accept();
}

void ZKeyboard::reject()
{
    if (m_line || m_plain || m_rich)
        restoreOriginal();
    QDialog::reject();
}

void ZKeyboard::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
        if (key >= Qt::Key_F1 && key <= Qt::Key_F5) {
            if (!event->isAutoRepeat()) {
                m_pressed.insert(key);
                if (QPushButton *b = functionButton(key - Qt::Key_F1))
                    b->setDown(true);
            }
            event->accept();
            return;
        }
        if (key == Qt::Key_Enter || key == Qt::Key_Return) {
            if (!event->isAutoRepeat()) {
                m_pressed.insert(key);
                m_enterKey = m_highlight;
                if (QPushButton *b = keyButton(m_enterKey))
                    b->setDown(true);
            }
            event->accept();
            return;
        }
        if (key == Qt::Key_Backspace) {
            backspace();
            event->accept();
            return;
        }
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            moveCursor(key == Qt::Key_Left ? -1 : +1);
            event->accept();
            return;
        }
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            moveHighlightRows(key == Qt::Key_Up ? -1 : +1);
            event->accept();
            return;
        }
        // The hand microphone's keypad, and a desktop keyboard off the
        // radio: a single printable character that this keyboard offers.
        const QString t = event->text();
        if (t.size() == 1 && t.at(0).isPrint()) {
            if (m_type == Text || keyIndexOf(t.at(0)) >= 0)
                insertText(t);
            else
                setRefused(true);
            event->accept();
            return;
        }
    }
    // Keys the keyboard does not use go on to the window behind it.
    zui_repost_key(parentWidget(), event);
    event->accept();
}

void ZKeyboard::keyReleaseEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (event->isAutoRepeat()) {
        event->accept();
        return;
    }
    if ((key >= Qt::Key_F1 && key <= Qt::Key_F5) || key == Qt::Key_Enter || key == Qt::Key_Return) {
        if (m_pressed.remove(key)) {
            if (key == Qt::Key_Enter || key == Qt::Key_Return) {
                if (QPushButton *b = keyButton(m_enterKey))
                    b->setDown(false);
                pressKey(m_highlight);
            } else if (QPushButton *b = functionButton(key - Qt::Key_F1)) {
                b->setDown(false);
                if (b->isEnabled())
                    pressFunction(key - Qt::Key_F1);
            }
        }
        event->accept();
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const QString t = event->text();
    const bool typed = mods == Qt::NoModifier
        && (key == Qt::Key_Backspace || key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up
            || key == Qt::Key_Down || (t.size() == 1 && t.at(0).isPrint()));
    if (!typed)
        zui_repost_key(parentWidget(), event);
    event->accept();
}

void ZKeyboard::wheelEvent(QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    // A desktop wheel reports 120 per notch, the radio's knobs one per step.
    if (qAbs(delta) >= 120)
        delta /= 120;
    delta = qBound(-int(m_keys.size()), delta, int(m_keys.size()));
    if (event->modifiers() == Qt::AltModifier)
        moveHighlightRows(-delta);
    else if (event->modifiers() == Qt::NoModifier)
        moveHighlight(-delta);
    event->accept();
}

void ZKeyboard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPen pen(QColor(64, 64, 96));
    pen.setWidth(kBorder);
    p.setPen(pen);
    p.drawRect(rect().adjusted(kBorder / 2, kBorder / 2, -kBorder / 2 - 1, -kBorder / 2 - 1));
    p.fillRect(rect().adjusted(kBorder, kBorder, -kBorder, -kBorder), QColor(0, 32, 64));
}
