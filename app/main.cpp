#include "demo/demo.h"
#include "tracking/qt_vestrel.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    QCommandLineParser parser;
    const QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Run on a simulated station."));
    const QCommandLineOption demoAuto(QStringLiteral("demo-auto"),
                                      QStringLiteral("Run on a simulated station and do the first steps."));
    parser.addOptions({demo, demoAuto});
    parser.process(application);
    if (parser.isSet(demo) || parser.isSet(demoAuto))
        return runDemo(application, parser.isSet(demoAuto));

    Qt_Vestrel window;
    window.show();
    return application.exec();
}
