// Mailcart's entry point.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Mailcart");
  QMainWindow window;
  window.setWindowTitle("Mailcart");
  window.resize(498, 244);
  window.show();
  return QApplication::exec();
}
