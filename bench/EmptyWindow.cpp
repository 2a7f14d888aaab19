// An empty Qt Widgets window of Hushwell's size: the yardstick of the footprint benchmark.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Empty");
    window.setFixedSize(516, 195);
    window.show();
    return QApplication::exec();
}
