// koru: the KORU programmer's control program with its window.

#include "window/programmer_app.h"

int main(int argc, char** argv) {
    koru::CProgrammerApp app;
    return app.Run(argc, argv);
}
