// The panel test program: the on-screen keyboard first, then the panels
// that use it, then the filter panel.
#include <QApplication>

int runKeyboardTests(int argc, char **argv);
int runEditorTests(int argc, char **argv);
int runFilterTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int rc = runKeyboardTests(argc, argv);
    rc |= runEditorTests(argc, argv);
    rc |= runFilterTests(argc, argv);
    return rc;
}
