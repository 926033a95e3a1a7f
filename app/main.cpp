#include "demo/demo.h"
#include "remote/headless.h"
#include "startup/commandline.h"
#include "startup/quitonterminate.h"
#include "startup/workingfolder.h"
#include "tracking/qt_vestrel.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    startup::setIdentity();
    // Help and version need no display, so they are answered before the window system is reached.
    if (const std::optional<int> exitCode = startup::answerHelpOrVersion(argc, argv))
        return *exitCode;

    if (startup::headlessWanted(argc, argv)) {
        QCoreApplication application(argc, argv);
        startup::CommandLine commandLine;
        commandLine.process(application);
        return remote::runHeadless(application, commandLine.fromMenu());
    }

    QApplication application(argc, argv);
    startup::CommandLine commandLine;
    commandLine.process(application);
    if (commandLine.demo() || commandLine.demoAuto())
        return runDemo(application, commandLine.demoAuto(), commandLine.demoRate());

    QString error;
    if (!startup::enterWorkingFolder(commandLine.fromMenu(), startup::menuWorkingFolder(), &error))
        qWarning("%s", qPrintable(error));

    const startup::QuitOnTerminate quitOnTerminate(application);
    Qt_Vestrel window;
    window.show();
    return application.exec();
}
