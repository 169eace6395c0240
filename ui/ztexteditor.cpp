#include "ui/ztexteditor.h"
#include "ui/zkeyboard.h"
#include "ui/zuievents.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QWheelEvent>

namespace {
const int kStatusHeight = 24;
}

ZTextEditor::ZTextEditor(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("ZTextEditor"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setPanelTitle(QStringLiteral("TEXT"));
    createFunctionButtons({QStringLiteral("KEYBOARD"), QStringLiteral("CLEAR"), QStringLiteral("START/END"),
                           QStringLiteral("OK"), QStringLiteral("CANCEL")});
    // The keyboard runs modally: started from the event loop, not inside
    // the button's click, which the panel base class still handles after
    // the slot returns (and the editor may be gone by the time the keyboard
    // closes).
    connect(functionButton(0), &QPushButton::clicked, this,
            [this]() { QTimer::singleShot(0, this, &ZTextEditor::openKeyboard); });
    connect(functionButton(1), &QPushButton::clicked, this, [this]() {
        m_edit->clear();
        updateStatus();
    });
    connect(functionButton(2), &QPushButton::clicked, this, [this]() {
        const bool atEnd = m_edit->textCursor().atEnd();
        moveCursor(atEnd ? QTextCursor::Start : QTextCursor::End, 1);
    });
    connect(functionButton(3), &QPushButton::clicked, this, &ZTextEditor::accept);
    connect(functionButton(4), &QPushButton::clicked, this, &ZTextEditor::reject);

    const QRect client = userGeometry();
    m_edit = new QPlainTextEdit(this);
    m_edit->setObjectName(QStringLiteral("textEdit"));
    m_editRect = QRect(client.left() + 2, client.top() + 2, client.width() - 4,
                       client.height() - kStatusHeight - 6);
    m_edit->setGeometry(m_editRect);
    QFont f(QStringLiteral("DejaVu Sans Mono"), 18);
    f.setBold(true);
    m_edit->setFont(f);
    m_edit->setStyleSheet(QStringLiteral(
        "QPlainTextEdit{color:white;background-color:black;border:1px solid rgb(90,98,120);"
        "selection-background-color:rgb(0,90,200);}"));
    m_edit->setCursorWidth(3);
    // Long lines wrap, so nothing hides to the right.
    m_edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_edit->setTabChangesFocus(true);
    m_edit->setContextMenuPolicy(Qt::NoContextMenu);
    connect(m_edit, &QPlainTextEdit::textChanged, this, &ZTextEditor::updateStatus);
    connect(m_edit, &QPlainTextEdit::cursorPositionChanged, this, &ZTextEditor::updateStatus);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("labelStatus"));
    m_status->setGeometry(client.left() + 2, client.bottom() - kStatusHeight - 1, client.width() - 4,
                          kStatusHeight);
    QFont sf(QStringLiteral("DejaVu Sans Mono"), 12);
    m_status->setFont(sf);
    m_status->setStyleSheet(QStringLiteral("QLabel{color:rgb(200,200,200);background:transparent;}"));
    updateStatus();
    m_edit->setFocus(Qt::OtherFocusReason);
}

ZTextEditor::~ZTextEditor() = default;

void ZTextEditor::setTitle(const QString &title)
{
    setPanelTitle(title);
}

void ZTextEditor::setText(const QString &text)
{
    m_edit->setPlainText(text);
    moveCursor(QTextCursor::End, 1);
}

QString ZTextEditor::text() const
{
    return m_edit->toPlainText();
}

QString ZTextEditor::statusText() const
{
    return m_status->text();
}

void ZTextEditor::updateStatus()
{
    const QTextCursor c = m_edit->textCursor();
    m_status->setText(QStringLiteral("%1 characters   line %2 col %3   KNOB: cursor  DIAL: line  ENTER: keyboard")
                          .arg(m_edit->toPlainText().size())
                          .arg(c.blockNumber() + 1)
                          .arg(c.positionInBlock() + 1));
}

void ZTextEditor::moveCursor(int op, int count)
{
    QTextCursor c = m_edit->textCursor();
    c.movePosition(QTextCursor::MoveOperation(op), QTextCursor::MoveAnchor, count);
    m_edit->setTextCursor(c);
    m_edit->ensureCursorVisible();
}

int ZTextEditor::openKeyboard()
{
    if (m_keyboardOpen)
        return QDialog::Rejected;
    m_keyboardOpen = true;
    // The keyboard covers the lower part of the screen: the text shrinks
    // above it for as long as it is open, so the cursor stays in view.
    const int keyboardTop = mapFromGlobal(QPoint(0, ZKeyboard::kTop)).y();
    QRect r = m_editRect;
    if (r.bottom() >= keyboardTop - 3)
        r.setBottom(qMax(r.top() + 40, keyboardTop - 4));
    m_edit->setGeometry(r);
    m_edit->ensureCursorVisible();
    QPointer<ZTextEditor> self(this);
    const int result = ZKeyboard::edit(this, m_edit, ZKeyboard::Text);
    if (!self)
        return QDialog::Rejected; // deleted while the keyboard was open
    m_edit->setGeometry(m_editRect);
    m_edit->ensureCursorVisible();
    m_edit->setFocus(Qt::OtherFocusReason);
    m_keyboardOpen = false;
    updateStatus();
    return result;
}

void ZTextEditor::accept()
{
    emit sig_textAccepted(text());
    ZPanel::accept();
}

void ZTextEditor::keyPressEvent(QKeyEvent *event)
{
    if (!takeEnterPress(event))
        ZPanel::keyPressEvent(event);
}

void ZTextEditor::keyReleaseEvent(QKeyEvent *event)
{
    // Only an Enter pressed here opens the keyboard: the release of the key
    // that opened the editor does not.
    bool act = false;
    if (!takeEnterRelease(event, &act))
        ZPanel::keyReleaseEvent(event);
    else if (act)
        QTimer::singleShot(0, this, &ZTextEditor::openKeyboard);
}

void ZTextEditor::wheelEvent(QWheelEvent *event)
{
    int delta = event->angleDelta().y();
    if (qAbs(delta) >= 120)
        delta /= 120;
    delta = qBound(-1000, delta, 1000);
    if (delta != 0) {
        const int n = qAbs(delta);
        if (event->modifiers() == Qt::AltModifier)
            moveCursor(delta < 0 ? QTextCursor::Down : QTextCursor::Up, n);
        else if (event->modifiers() == Qt::NoModifier)
            moveCursor(delta < 0 ? QTextCursor::NextCharacter : QTextCursor::PreviousCharacter, n);
    }
    event->accept();
}

void ZTextEditor::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPen pen(QColor(64, 64, 96));
    pen.setWidth(m_margin);
    p.setPen(pen);
    p.drawRect(rect().adjusted(m_margin / 2, m_margin / 2, -m_margin / 2, -m_margin / 2));
    p.fillRect(rect().adjusted(m_margin, m_margin, -m_margin, -m_margin), QColor(0, 32, 64));
}

void ZTextEditor::customEvent(QEvent *event)
{
    if (zui_repost_radio_event(parentWidget(), event))
        event->accept();
}
