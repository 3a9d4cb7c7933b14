// koru-screen-grab FILE: saves the whole screen of the current display as PNG, e.g. to look at
// the window of a demo run under a virtual display.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: koru-screen-grab FILE\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "koru-screen-grab: could not grab the screen into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
