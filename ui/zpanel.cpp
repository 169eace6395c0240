#include "ui/zpanel.h"
#include "ui/zfonts.h"
#include "app/zlog.h"
#include "app/zqrc.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTextDocument>

static const char *kTitleStyle = "QLabel{border: 0px;color: white; background-color: rgb(0,0,255);}";

void zui_repost_key(QWidget *target, const QKeyEvent *event)
{
    if (!target)
        return;
    QCoreApplication::postEvent(target, new QKeyEvent(event->type(), event->key(),
                                                      event->modifiers(), event->text()));
}

ZPanel::ZPanel(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : QDialog(parent)
    , m_store(store)
{
    ZFonts::install();
    QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
    f.setBold(true);
    setFont(f);
    setGeometry(x, y, w, h);
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zframe_style01.qss")));
    m_palette = palette();

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("labelPanelTitle"));
    m_title->setStyleSheet(QString::fromLatin1(kTitleStyle));
    setPanelTitle(QStringLiteral("Untitled"));

    m_buttonFrame = new QFrame(this);
    m_buttonFrame->setObjectName(QStringLiteral("frameFunctionButtons"));
    m_buttonLayout = new QHBoxLayout(m_buttonFrame);
    m_buttonLayout->setSpacing(6);
    m_buttonLayout->setContentsMargins(3, 3, 3, 3);
    placeButtonFrame();
    m_buttonFrame->hide();
}

ZPanel::~ZPanel() = default;

void ZPanel::setPanelTitle(const QString &title)
{
    const int lineHeight = int(1.15 * QFontMetrics(m_title->font()).lineSpacing());
    m_title->setGeometry(m_margin, m_margin, width() - 2 * m_margin, lineHeight);
    m_title->setText(title);
}

QRect ZPanel::userGeometry() const
{
    const int top = m_title->geometry().bottom() + 2;
    const int bottom = (m_buttonFrame->isVisibleTo(this) ? m_buttonFrame->geometry().top()
                                                         : height() - m_margin) - 1;
    const int left = m_margin + 1;
    const int right = width() - m_margin - 1;
    return QRect(QPoint(left, top), QPoint(right, qMax(top, bottom)));
}

void ZPanel::placeButtonFrame()
{
    const int h = m_buttonHeight + 2 * 3;
    m_buttonFrame->setGeometry(m_margin, height() - m_margin - h, width() - 2 * m_margin, h);
}

void ZPanel::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placeButtonFrame();
    setPanelTitle(m_title->text());
}

void ZPanel::cleanButtons()
{
    while (QLayoutItem *item = m_buttonLayout->takeAt(0))
        delete item;
    qDeleteAll(m_buttons);
    m_buttons.clear();
}

void ZPanel::createFunctionButtons(const QStringList &labels)
{
    cleanButtons();
    // Button i always answers Key_F1 + i; rebuilding the list instead of
    // appending keeps it from growing with every call.
    m_buttonKeys.clear();
    if (labels.isEmpty()) {
        m_buttonFrame->hide();
        return;
    }
    m_buttonFrame->show();

    // Labels that start with a private-use glyph are icons: all buttons of
    // the row then use the icon font.
    const bool icons = !labels.first().isEmpty() && labels.first().at(0).unicode() >= 0xF000;
    const QFont buttonFont = icons ? QFont(QStringLiteral("FontAwesome"), 20) : font();
    for (int i = 0; i < labels.size(); ++i) {
        auto *b = new QPushButton(m_buttonFrame);
        b->setMinimumSize(49, m_buttonHeight);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setFont(buttonFont);
        b->setText(labels.at(i));
        b->setObjectName(QStringLiteral("Button_F%1").arg(i + 1));
        m_buttons.append(b);
        m_buttonKeys.append(uint(Qt::Key_F1 + i));
        m_buttonLayout->addWidget(b);
        connect(b, &QPushButton::clicked, this, &ZPanel::slot_pushButtonClicked);
    }
    placeButtonFrame();
}

QPushButton *ZPanel::functionButton(int i) const
{
    return i >= 0 && i < m_buttons.size() ? m_buttons.at(i) : nullptr;
}

QString ZPanel::buttonStyle(bool highlighted)
{
    static const QString base = QStringLiteral(
        "QPushButton{border-top-width:1px;border-top-color:rgb(50,50,50);border-bottom-width:2px;"
        "border-bottom-color:rgb(10,10,10);border-left-width:1px;border-left-color:rgb(50,50,50);"
        "border-right-width:2px;border-right-color:rgb(10,10,10);border-radius:2px;border-style: outset;"
        "background-color:%1;color:white;padding:0px;}"
        "QPushButton:pressed{border-top-width:2px;border-top-color:rgb(10,10,10);border-bottom-width:1px;"
        "border-bottom-color:rgb(50,50,50);border-left-width:2px;border-left-color:rgb(10,10,10);"
        "border-right-width:1px;border-right-color:rgb(50,50,50);border-radius:2px;border-style: inset;"
        "background-color:rgb(30,30,30);color:white;padding-top:2px;}"
        "QPushButton:focus{outline:3px dotted rgb(255,127,0);}"
        "QPushButton:disabled{color:rgb(50,50,50);}");
    return base.arg(highlighted ? QStringLiteral("rgba(0,255,100,100)") : QStringLiteral("rgb(30,30,30)"));
}

void ZPanel::selectFunctionButton(int i)
{
    m_selectedButton = i;
    for (int k = 0; k < m_buttons.size(); ++k)
        m_buttons.at(k)->setStyleSheet(buttonStyle(k == i));
}

void ZPanel::setFunctionButtonText(int i, const QString &html)
{
    QPushButton *b = functionButton(i);
    if (!b)
        return;
    QTextDocument doc;
    doc.setDefaultFont(b->font());
    doc.setDefaultStyleSheet(QStringLiteral("body{color:white;}"));
    doc.setHtml(html);
    doc.setTextWidth(doc.idealWidth());
    const QSize size = doc.size().toSize().expandedTo(QSize(1, 1));
    QPixmap pix(size);
    pix.fill(Qt::transparent);
    {
        QPainter p(&pix);
        QAbstractTextDocumentLayout::PaintContext ctx;
        ctx.palette.setColor(QPalette::Text, Qt::white);
        doc.documentLayout()->draw(&p, ctx);
    }
    b->setText(QString());
    b->setIcon(QIcon(pix));
    b->setIconSize(pix.size());
}

void ZPanel::setAllButtonsEnable(bool enable)
{
    for (QPushButton *b : qAsConst(m_buttons))
        b->setEnabled(enable);
}

void ZPanel::slot_pushButtonClicked(bool)
{
    auto *b = qobject_cast<QPushButton *>(sender());
    if (b && m_exitButton > 0 && m_buttons.indexOf(b) == m_exitButton - 1)
        close();
}

bool ZPanel::handleButtonKey(QKeyEvent *event)
{
    const int idx = m_buttonKeys.indexOf(uint(event->key()));
    if (idx < 0 || idx >= m_buttons.size())
        return false;
    QPushButton *b = m_buttons.at(idx);
    if (event->type() == QEvent::KeyPress) {
        if (!b->isDown())
            b->setDown(true);
    } else {
        b->setDown(false);
        b->click();
        selectFunctionButton(idx);
    }
    event->accept();
    return true;
}

void ZPanel::forwardToParent(QKeyEvent *event)
{
    qCDebug(logGui) << "panel" << objectName() << "passes key" << Qt::hex << event->key()
                    << "type" << Qt::dec << int(event->type()) << "to its parent";
    zui_repost_key(parentWidget(), event);
    event->accept();
}

void ZPanel::keyPressEvent(QKeyEvent *event)
{
    if (handleButtonKey(event))
        return;
    forwardToParent(event);
}

void ZPanel::keyReleaseEvent(QKeyEvent *event)
{
    if (m_exitKey != 0 && event->key() == m_exitKey) {
        close();
        // An exit key that is also a function key still clicks its button;
        // any other exit key ends here and does not reach the parent.
        if (!handleButtonKey(event))
            event->accept();
        return;
    }
    if (handleButtonKey(event))
        return;
    forwardToParent(event);
}

bool ZPanel::takeEnterPress(QKeyEvent *event)
{
    const int key = event->key();
    if ((key != Qt::Key_Enter && key != Qt::Key_Return) || event->modifiers() != Qt::NoModifier)
        return false;
    if (!event->isAutoRepeat())
        m_enterPressed.insert(key);
    event->accept();
    return true;
}

bool ZPanel::takeEnterRelease(QKeyEvent *event, bool *act)
{
    const int key = event->key();
    *act = false;
    if (key != Qt::Key_Enter && key != Qt::Key_Return)
        return false;
    *act = !event->isAutoRepeat() && m_enterPressed.remove(key);
    event->accept();
    return true;
}

void ZPanel::customEvent(QEvent *)
{
}
