// The start-up reference: a Qt Widgets program that maps one window of the updater's size and
// does nothing else, so the updater's own start-up work is what the ratio shows.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal Window"));
    window.setFixedSize(489, 385);
    window.show();
    return QApplication::exec();
}
