// decoder-ui: the appliance's local control program.
#include "gui/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(":/icons/appicon"));
    MainWindow window;
    window.setWindowTitle("Tarnvik");
    window.show();
    return app.exec();
}
