#ifndef DIALOGCOMMANDEXEC_H
#define DIALOGCOMMANDEXEC_H

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

class QLabel;
class QProgressBar;
class QTimer;

// "Please Wait": runs a list of shell commands one after another through
// the command runner (zsys::run) on a worker thread, so the screen keeps
// drawing while a service starts or a time server answers, and closes
// itself `closeTicks` ticks of its 100 ms timer after the last command has
// finished. It cannot be dismissed while commands run: the commands cannot
// be taken back half-way.
class DialogCommandExec : public QDialog
{
    Q_OBJECT

public:
    DialogCommandExec(QWidget *parent, const QStringList &commands, int closeTicks = 20);
    // Waits for a command still running.
    ~DialogCommandExec() override;

    // Runs the commands and the modal loop; QDialog::Accepted once the
    // dialog has closed itself.
    int exec() override;

    // Convenience: a modal dialog over parent, run and deleted.
    static int run(QWidget *parent, const QStringList &commands, int closeTicks = 20);

    const QStringList &commands() const { return m_commands; }
    // Exit status of each command that has run, in order (complete once
    // finished() is true).
    std::vector<int> results() const;
    bool finished() const { return m_done.load(std::memory_order_acquire); }

public slots:
    void reject() override;

private slots:
    void slot_timeOut();

private:
    void startWorker();
    void showProgress();

    QStringList m_commands;
    int m_closeTicks = 20;
    int m_ticksAfterDone = 0;
    QLabel *m_title = nullptr;
    QLabel *m_text = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer *m_timer = nullptr;

    // Written by the worker, read by the timer on the GUI thread: the
    // number of commands begun, and done (release) after the last result.
    std::thread m_worker;
    std::atomic<int> m_started{ 0 };
    std::atomic<bool> m_done{ false };
    std::vector<int> m_results;
};

#endif
