#ifndef ZPANEL_H
#define ZPANEL_H

#include <QDialog>
#include <QList>
#include <QSet>
#include <QPalette>
#include <QRect>
#include <QStringList>

class QFrame;
class QHBoxLayout;
class QLabel;
class QPushButton;
class ZParamAdmin;

// Base of the pop-up screens: a title bar, a free client area for the
// subclass (userGeometry()) and a row of up to five function buttons that
// the front-panel keys F1 … F5 press. Keys the panel does not use go on to
// the parent window, so the main window keeps receiving front-panel keys.
class ZPanel : public QDialog
{
    Q_OBJECT

public:
    ZPanel(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZPanel() override;

    void setPanelTitle(const QString &title);
    QLabel *titleLabel() const { return m_title; }
    QRect userGeometry() const;

    void createFunctionButtons(const QStringList &labels);
    void cleanButtons();
    QPushButton *functionButton(int i) const;
    int functionButtonCount() const { return m_buttons.size(); }
    void selectFunctionButton(int i);
    int selectedFunctionButton() const { return m_selectedButton; }
    void setFunctionButtonText(int i, const QString &html);
    void setAllButtonsEnable(bool enable);

    // 1-based index of the function button that closes the panel (-1 none).
    void setExitButton(int number) { m_exitButton = number; }
    int exitButton() const { return m_exitButton; }
    // Qt key code whose release closes the panel (0 none).
    void setExitKey(int key) { m_exitKey = key; }
    int exitKey() const { return m_exitKey; }

    QFrame *buttonFrame() const { return m_buttonFrame; }
    ZParamAdmin *store() const { return m_store; }

    static QString buttonStyle(bool highlighted);

public slots:
    void slot_pushButtonClicked(bool checked);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void customEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    // Enter (or Return) that acts on its release, and only when it was also
    // pressed on this panel: the release of the key that opened the panel
    // does nothing. Each returns true when it took the event; a release
    // sets *act when it completes a press made here.
    bool takeEnterPress(QKeyEvent *event);
    bool takeEnterRelease(QKeyEvent *event, bool *act);

    int m_margin = 4;
    int m_buttonHeight = 49;
    QLabel *m_title = nullptr;
    ZParamAdmin *m_store = nullptr;
    QFrame *m_buttonFrame = nullptr;
    int m_exitButton = -1;
    int m_exitKey = 0;
    int m_selectedButton = -1;
    QHBoxLayout *m_buttonLayout = nullptr;
    QList<QPushButton *> m_buttons;
    QList<uint> m_buttonKeys;
    QPalette m_palette;

private:
    void placeButtonFrame();
    bool handleButtonKey(QKeyEvent *event);
    void forwardToParent(QKeyEvent *event);

    QSet<int> m_enterPressed;
};

// Re-posts a key event to `target` as a new event of the same type, key,
// modifiers and text (shared by the panel classes).
void zui_repost_key(QWidget *target, const QKeyEvent *event);

#endif
