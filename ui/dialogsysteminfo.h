#ifndef DIALOGSYSTEMINFO_H
#define DIALOGSYSTEMINFO_H

#include "ui/zpanel.h"

class QTextBrowser;

// "System/Network Information": the application's version and build, the
// base-band board's identification and the network interfaces, read-only.
class DialogSystemInfo : public ZPanel
{
    Q_OBJECT

public:
    DialogSystemInfo(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h);
    ~DialogSystemInfo() override;

    // Fills the text and runs the panel modally.
    int exec() override;
    // The text exec() shows (also for tests).
    void fill();

    QTextBrowser *browser() const { return m_browser; }
    // Version text from the resource bundle and the build stamp.
    static QString version();
    static QString buildStamp();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QTextBrowser *m_browser = nullptr;
};

#endif
