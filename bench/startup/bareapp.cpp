// The bare Qt widget program the client's start-up is compared with: an application object and one shown widget.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.show();
    return app.exec();
}
