// mailcart-icon FILE.png: writes the program's icon at 256 pixels, for installing.
#include <QGuiApplication>

#include <cstdio>

#include "app/icon/programicon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mailcart-icon FILE.png\n");
    return 2;
  }
  if (!ProgramImage(256).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "mailcart-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
