#include "tracking/qt_vestrel.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    Qt_Vestrel window;
    window.show();
    return application.exec();
}
