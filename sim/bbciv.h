#ifndef BBCIV_H
#define BBCIV_H

#include <QString>
#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

// The radio's CI-V serial ports: for each name a pair of pseudo-terminals
// joined back to back, like a null-modem cable. The radio's end is
// published as dev/NAME, the controller's (a CAT program's) as
// dev/NAME.host. Bytes for an end that nobody holds open are lost, as on a
// wire with nothing plugged in.
class BbCiv
{
public:
    BbCiv() = default;
    ~BbCiv();
    BbCiv(const BbCiv &) = delete;
    BbCiv &operator=(const BbCiv &) = delete;

    // Creates the pairs under devDir and starts relaying.
    bool start(const QString &devDir, const QStringList &names);
    void stop();

private:
    struct End
    {
        int master = -1;
        bool present = false; // someone holds the published end open
        QString link;
    };
    struct Pair
    {
        End radio;
        End host;
    };

    bool openEnd(End &end, const QString &link);
    void run();
    void pump(End &from, End &to);

    std::vector<Pair> m_pairs;
    std::atomic<bool> m_stop{ false };
    std::thread m_thread;
};

#endif
