// bare_window: the reference of bench/startup, a Qt window with nothing in it, the size of the
// program's window, built with the same flags.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(700, 440);
    window.show();
    return app.exec();
}
