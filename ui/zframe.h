#ifndef ZR_UI_ZFRAME_H
#define ZR_UI_ZFRAME_H

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class ZParamAdmin;
class ZRichTextPushButton;

// Base of the parameter-grid panels. A grid of cells shows "wparam" items
// (label and value); the multi-function knob moves the selection, the
// tuning knob or F2/F3 step the selected value, F1 resets it, F4 (or Enter)
// puts it on the multi-function knob and F5 closes. The selection is
// remembered in a "menuidx_*" item, so the panel reopens on the same cell.
// Keys the panel does not use go on to the parent window.
class ZFrame : public QDialog
{
    Q_OBJECT

public:
    ZFrame(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZFrame() override;

    // Builds the grid once the subclass has set title, keys and menu-index key.
    void genLayout(int rows, int cols);

    void changeParam(int d);
    void resetParam();
    void changeIndex(int d);
    void moveDown();
    int moveToClickIndex(int column);
    void postPushButton(QPushButton *button);

    void setFrameTitle(const QString &title);
    QLabel *titleLabel() const { return m_title; }
    int selectedIndex() const { return m_selected; }
    QString selectedKey() const;
    int cellCount() const { return m_count; }
    ZRichTextPushButton *cell(int i) const;
    QPushButton *functionButton(int i) const;
    QStringList keys() const { return m_keys; }
    QString menuIndexKey() const { return m_menuIndexKey; }
    int txpwrIndex() const { return m_txpwrIndex; }

public slots:
    void slot_funcButtonClick();
    void slot_timeOut();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    // Cells take focus (the focused cell is the highlighted one) but must not
    // act on keys themselves: their key events go to the frame.
    bool eventFilter(QObject *watched, QEvent *event) override;

    QLabel *m_title = nullptr;
    QStringList m_keys;
    QGridLayout *m_grid = nullptr;
    int m_txpwrIndex = -1;
    QVariant m_txpwrValue;
    QTimer m_timer;
    int m_margin = 4;
    int m_selected = 0;
    int m_count = 0;
    QHBoxLayout *m_funcLayout = nullptr;
    QString m_menuIndexKey;
    QList<QPushButton *> m_funcButtons;
    ZParamAdmin *m_store = nullptr;

private:
    void refreshValue(int index);
    void focusSelected();
    void releaseAndClick(int button);
    bool selectable(int index) const;

    QList<ZRichTextPushButton *> m_cells;
    int m_rows = 0;
    int m_cols = 0;
    bool m_closing = false;
};

#endif
