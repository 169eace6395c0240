#include "ui/zframe.h"
#include "ui/zfonts.h"
#include "app/zlog.h"
#include "ui/zpanel.h"
#include "params/zparamadmin.h"
#include "app/zqrc.h"
#include "ui/zrichtextpushbutton.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>

static const char *kTitleStyle = "QLabel{border: 0px;color: white; background-color: rgb(0,0,255);}";
static const QString kGroup = QStringLiteral("wparam");

ZFrame::ZFrame(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : QDialog(parent)
    , m_store(store)
{
    ZFonts::install();
    setFont(QFont(QStringLiteral("Ubuntu Mono"), 22));
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zframe_style01.qss")));
    setGeometry(x, y, w, h);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("labelFrameTitle"));
    m_title->setStyleSheet(QString::fromLatin1(kTitleStyle));
    const int titleHeight = int(1.15 * QFontMetrics(font()).lineSpacing());
    m_title->setGeometry(4, 4, w - 5, titleHeight);
    m_title->setText(QStringLiteral("Untitled Widget"));

    m_grid = new QGridLayout(this);
    m_grid->setSpacing(1);
    m_grid->setContentsMargins(6, titleHeight + 9, 6, 1);
    // The owner places the panel; the grid must not grow it past the screen.
    m_grid->setSizeConstraint(QLayout::SetNoConstraint);

    connect(&m_timer, &QTimer::timeout, this, &ZFrame::slot_timeOut);
}

ZFrame::~ZFrame()
{
    m_timer.stop();
    // Remember the selection so the panel reopens on the same cell.
    if (m_store && !m_menuIndexKey.isEmpty())
        m_store->setParamItem(kGroup, m_menuIndexKey, m_selected);
}

void ZFrame::setFrameTitle(const QString &title)
{
    m_title->setText(title);
}

void ZFrame::genLayout(int rows, int cols)
{
    if (m_timer.isActive())
        m_timer.stop();
    if (rows <= 0 || cols <= 0 || !m_cells.isEmpty())
        return;
    m_rows = rows;
    m_cols = cols;

    const int titleHeight = m_title->height();
    const QSize cellMin((width() - 8) / cols, qMax(1, (height() - titleHeight - 79) / rows));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int i = r * cols + c;
            auto *cell = new ZRichTextPushButton(this);
            cell->setObjectName(QString::asprintf("PushButton_%02d_%02d", r, c));
            cell->setMinimumSize(cellMin);
            cell->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
            cell->setFocusPolicy(Qt::StrongFocus);
            cell->installEventFilter(this);
            m_grid->addWidget(cell, r, c);
            m_cells.append(cell);
            if (i < m_keys.size() && !m_keys.at(i).isEmpty() && m_store) {
                const zparam_item_t item = m_store->paramItem(kGroup, m_keys.at(i));
                cell->setText(ZRichTextPushButton::Text1, item.tag);
                cell->setText(ZRichTextPushButton::Text2, item.valueForDisp());
            } else {
                cell->setText(ZRichTextPushButton::Text1 | ZRichTextPushButton::Text2, QString());
                cell->setEnabled(false);
            }
            // A touch on a cell selects it.
            connect(cell, &QPushButton::clicked, this, [this, i]() {
                if (selectable(i)) {
                    m_selected = i;
                    focusSelected();
                }
            });
        }
    }

    // Function row: reset, minus, plus, assign to knob, close. The labels
    // are icons; where the icon font is missing they are words instead,
    // which a first label below the private-use area selects.
    m_funcLayout = new QHBoxLayout;
    m_funcLayout->setSpacing(1);
    m_funcLayout->setContentsMargins(0, 0, 0, 0);
    const QStringList labels = ZFonts::iconFontAvailable()
        ? QStringList{QString(QChar(0xF021)), QString(QChar(0xF056)), QString(QChar(0xF055)),
                      QString(QChar(0xF046)), QString(QChar(0xF045))}
        : QStringList{QStringLiteral("RESET"), QStringLiteral("-"), QStringLiteral("+"),
                      QStringLiteral("KNOB"), QStringLiteral("CLOSE")};
    QFont buttonFont(ZFonts::iconFamily(), 20);
    if (labels.first().at(0).unicode() < 0xF000) {
        buttonFont = QFont(QStringLiteral("DejaVu Sans Mono"), 16);
        buttonFont.setBold(true);
    }
    for (int i = 0; i < labels.size(); ++i) {
        auto *b = new QPushButton(labels.at(i), this);
        b->setMinimumSize(157, 55);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setFont(buttonFont);
        b->setObjectName(QStringLiteral("Button_F%1").arg(i + 1));
        // F2 and F3 keep stepping while held.
        b->setAutoRepeat(i == 1 || i == 2);
        connect(b, &QPushButton::clicked, this, &ZFrame::slot_funcButtonClick);
        m_funcButtons.append(b);
        m_funcLayout->addWidget(b);
    }
    m_grid->addLayout(m_funcLayout, rows + 1, 0, 1, cols, Qt::AlignCenter);

    m_count = qMin(m_cells.size(), m_keys.size());
    int sel = 0;
    if (m_store && !m_menuIndexKey.isEmpty())
        sel = m_store->paramItem(kGroup, m_menuIndexKey).value.toInt();
    m_selected = qBound(0, sel, qMax(0, m_count - 1));
    focusSelected();

    m_txpwrIndex = m_keys.indexOf(QStringLiteral("txpwr"));
    if (m_txpwrIndex >= m_count)
        m_txpwrIndex = -1;
    if (m_txpwrIndex >= 0 && m_store) {
        m_txpwrValue = m_store->paramItem(kGroup, QStringLiteral("txpwr")).value;
        m_timer.start(100);
        qCDebug(logGui) << "found txpwr," << m_txpwrIndex;
    }
}

bool ZFrame::selectable(int index) const
{
    return index >= 0 && index < m_count && !m_keys.at(index).isEmpty();
}

QString ZFrame::selectedKey() const
{
    return selectable(m_selected) ? m_keys.at(m_selected) : QString();
}

ZRichTextPushButton *ZFrame::cell(int i) const
{
    return i >= 0 && i < m_cells.size() ? m_cells.at(i) : nullptr;
}

QPushButton *ZFrame::functionButton(int i) const
{
    return i >= 0 && i < m_funcButtons.size() ? m_funcButtons.at(i) : nullptr;
}

void ZFrame::focusSelected()
{
    if (ZRichTextPushButton *c = cell(m_selected))
        if (c->isEnabled())
            c->setFocus(Qt::OtherFocusReason);
}

void ZFrame::refreshValue(int index)
{
    if (!m_store || index < 0 || index >= m_keys.size() || m_keys.at(index).isEmpty())
        return;
    if (ZRichTextPushButton *c = cell(index))
        c->setText(ZRichTextPushButton::Text2, m_store->paramItem(kGroup, m_keys.at(index)).valueForDisp());
}

void ZFrame::changeParam(int d)
{
    const QString key = selectedKey();
    if (!m_store || key.isEmpty())
        return;
    m_store->modifyParamItem(kGroup, key, d, 0, zrnamespace::ModifyByItem);
    refreshValue(m_selected);
}

void ZFrame::resetParam()
{
    const QString key = selectedKey();
    if (!m_store || key.isEmpty())
        return;
    m_store->resetParamItem(kGroup, key);
    // A default may lie above a limit set since (the transmit power under a
    // lowered maximum): a zero step applies the limits again.
    m_store->modifyParamItem(kGroup, key, 0, 0, zrnamespace::ModifyByItem);
    refreshValue(m_selected);
}

void ZFrame::changeIndex(int d)
{
    if (d == 0 || m_count <= 0)
        return;
    // Cells without an item are skipped; after the last comes the first.
    int i = m_selected;
    for (int n = 0; n < m_count; ++n) {
        i = d > 0 ? (i + 1) % m_count : (i - 1 + m_count) % m_count;
        if (selectable(i))
            break;
    }
    m_selected = i;
    focusSelected();
}

void ZFrame::moveDown()
{
    if (m_cols <= 0 || m_count <= m_cols)
        return;
    m_selected += m_cols;
    if (m_selected >= m_count)
        m_selected %= m_cols;
    focusSelected();
}

int ZFrame::moveToClickIndex(int column)
{
    column = qMin(column, m_count - 1);
    if (column == m_selected % 5)
        return 1;
    m_selected += column - m_selected % 5;
    if (m_selected >= m_count)
        m_selected -= m_cols;
    m_selected = qMax(0, m_selected);
    focusSelected();
    return 0;
}

void ZFrame::postPushButton(QPushButton *button)
{
    if (button && !button->isDown())
        button->setDown(true);
}

void ZFrame::releaseAndClick(int button)
{
    QPushButton *b = functionButton(button);
    if (!b)
        return;
    b->setDown(false);
    b->click();
}

void ZFrame::slot_funcButtonClick()
{
    const QString name = sender() ? sender()->objectName() : QString();
    if (m_closing)
        return;
    if (name == QLatin1String("Button_F1")) {
        resetParam();
    } else if (name == QLatin1String("Button_F2")) {
        changeParam(-1);
    } else if (name == QLatin1String("Button_F3")) {
        changeParam(+1);
    } else if (name == QLatin1String("Button_F4")) {
        const QString key = selectedKey();
        if (m_store && !key.isEmpty())
            m_store->mfkKey = key;
        m_closing = true;
        deleteLater();
    } else if (name == QLatin1String("Button_F5")) {
        m_closing = true;
        deleteLater();
    }
}

void ZFrame::slot_timeOut()
{
    if (!m_store || m_txpwrIndex < 0)
        return;
    const QVariant v = m_store->paramItem(kGroup, QStringLiteral("txpwr")).value;
    if (v != m_txpwrValue) {
        m_txpwrValue = v;
        refreshValue(m_txpwrIndex);
    }
}

void ZFrame::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (event->modifiers() == Qt::AltModifier)
        changeParam(-delta);
    else if (event->modifiers() == Qt::NoModifier)
        changeIndex(-delta);
    event->accept();
}

void ZFrame::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key >= Qt::Key_F1 && key <= Qt::Key_F5) {
        postPushButton(functionButton(key - Qt::Key_F1));
    } else if (key == Qt::Key_Enter) {
        // Enter acts as F4 on release; its press stays here as well, so the
        // parent does not start an action of its own for the same key.
        postPushButton(functionButton(3));
    } else {
        zui_repost_key(parentWidget(), event);
    }
    event->accept();
}

void ZFrame::keyReleaseEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_F1:
    case Qt::Key_F2:
    case Qt::Key_F3:
        releaseAndClick(event->key() - Qt::Key_F1);
        break;
    case Qt::Key_F4:
    case Qt::Key_Enter:
        releaseAndClick(3);
        break;
    case Qt::Key_F5:
        releaseAndClick(4);
        break;
    case Qt::Key_Play: // the built-in PTT key closes the panel
        m_closing = true;
        deleteLater();
        break;
    default:
        zui_repost_key(parentWidget(), event);
        break;
    }
    event->accept();
}

bool ZFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (watched->isWidgetType() && static_cast<QWidget *>(watched)->parentWidget() == this) {
            auto *ke = static_cast<QKeyEvent *>(event);
            if (ke->type() == QEvent::KeyPress)
                keyPressEvent(ke);
            else
                keyReleaseEvent(ke);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ZFrame::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QPen pen(QColor(64, 64, 96));
    pen.setWidth(m_margin);
    p.setPen(pen);
    p.drawRect(rect().adjusted(m_margin / 2, m_margin / 2, -m_margin / 2, -m_margin / 2));
    p.fillRect(rect().adjusted(m_margin, m_margin, -m_margin, -m_margin), QColor(0, 32, 64));
}
