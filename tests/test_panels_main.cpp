// The panel test program: the on-screen keyboard first, then the panels
// that use it.
#include <QApplication>

int runKeyboardTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int rc = runKeyboardTests(argc, argv);
    return rc;
}
