// zr450-shot FILE: writes the whole screen of the current display to FILE (PNG).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: zr450-shot FILE.png\n";
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        QTextStream(stderr) << "zr450-shot: no screen\n";
        return 1;
    }
    const QPixmap pix = screen->grabWindow(0);
    if (pix.isNull() || !pix.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        QTextStream(stderr) << "zr450-shot: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
