// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/demo.h"
#include "remote/headless.h"
#include "remote/remoteclient.h"
#include "startup/commandline.h"
#include "startup/quitonterminate.h"
#include "startup/workingfolder.h"
#include "tracking/qt_vestrel.h"
#include "ui/remotestationwindow.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// vestrel --attach: the window of a station that runs elsewhere; no port opened here.
int runAttached(QApplication &application, const startup::CommandLine &commandLine)
{
    QString error;
    if (!startup::enterWorkingFolder(commandLine.fromMenu(), startup::menuWorkingFolder(), &error))
        qWarning("%s", qPrintable(error));
    QString token;
    if (const QString path = commandLine.tokenFile(); !path.isEmpty()) {
        const std::optional<QString> read = remote::readToken(path, &error);
        if (!read) {
            std::fprintf(stderr, "vestrel: %s\n", qPrintable(error));
            return EXIT_FAILURE;
        }
        token = *read;
    }
    const startup::QuitOnTerminate quitOnTerminate(application);
    RemoteClient client;
    RemoteStationWindow window(client);
    window.show();
    client.open(commandLine.attachUrl(), token);
    return application.exec();
}

} // namespace

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
        return runDemo(application, commandLine.demoAuto(), commandLine.demoRate(), commandLine.demoSun());
    if (commandLine.attach())
        return runAttached(application, commandLine);

    QString error;
    if (!startup::enterWorkingFolder(commandLine.fromMenu(), startup::menuWorkingFolder(), &error))
        qWarning("%s", qPrintable(error));

    const startup::QuitOnTerminate quitOnTerminate(application);
    Qt_Vestrel window;
    window.show();
    return application.exec();
}
