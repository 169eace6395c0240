#ifndef ZRADIOSYSTEMSETTING_H
#define ZRADIOSYSTEMSETTING_H

#include "ui/zpanel.h"

#include <QList>
#include <QStringList>

#include <functional>

class QFrame;
class QGridLayout;
class QPushButton;

// " SYSTEM SETTING": the full-screen menu of the system-level screens
// (time and date, system information, firmware upgrade, WLAN, Bluetooth,
// the network server, factory reset). Its entries are buttons in rows of
// five, dispatched by their text; the multi-function knob moves the
// selection and Enter presses the selected entry.
//
// Screens built elsewhere (firmware upgrade, WLAN, Bluetooth) are plugged in
// with setOpener(); an entry without an opener does nothing.
class ZRadioSystemSetting : public ZPanel
{
    Q_OBJECT

public:
    enum Screen { FirmwareUpgrade, Wlan, Bluetooth };
    // Opens the screen over the menu (its parent) and returns when it has
    // closed; area is the menu's own rectangle, in the coordinates a
    // dialog child of the menu is placed with.
    using Opener = std::function<void(ZRadioSystemSetting *menu, const QRect &area)>;

    ZRadioSystemSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~ZRadioSystemSetting() override;

    // The main window's menu: function keys " ", " ", " ", " ", "EXIT",
    // the eleven entries below, F5 (and a touch on EXIT) closes it.
    void setupMainMenu();
    static QStringList mainMenuEntries();
    static QStringList mainMenuFunctionLabels();

    void setOpener(Screen screen, Opener opener);

    // One button per entry, in rows of five; an empty list hides the menu.
    void createMenu(const QStringList &entries);
    void cleanMenuButtons();

    const QList<QPushButton *> &menuButtons() const { return m_menuButtons; }
    int selectedIndex() const { return m_selected; }
    QFrame *menuFrame() const { return m_menuFrame; }
    QGridLayout *menuLayout() const { return m_menuLayout; }

public slots:
    void slot_menuButtonClicked(bool checked);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeMenuFrame();
    void selectMenuButton(int index);
    void openTimeSetting();
    void openPanel(const char *kind);
    void open(Screen screen);

    QFrame *m_menuFrame = nullptr;
    QGridLayout *m_menuLayout = nullptr;
    QList<QPushButton *> m_menuButtons;
    int m_selected = 0;
    Opener m_openers[3];
};

#endif
