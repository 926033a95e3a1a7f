// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class QCoreApplication;

namespace startup {

// How fast the demo's clock runs while the Moon is down, unless --demo-rate
// says otherwise, and the most --demo-rate takes.
constexpr double defaultDemoRate = 10.0;
constexpr double highestDemoRate = 100.0;

// The program's name, version and desktop entry; set before any application
// object exists, so that help, version and the data folder use them.
void setIdentity();

// The program's options: --help, --version, --menu, --demo, --demo-auto,
// --demo-rate, --demo-sun, --headless, --attach, --token-file.
// Declared once here so that every option lives in one list.
class CommandLine
{
public:
    CommandLine();

    // Parses arguments, the program's own name first. False, with
    // errorText(), on an unknown option or a stray argument.
    bool parse(const QStringList &arguments);
    QString errorText() const { return m_error; }

    bool helpWanted() const;
    bool versionWanted() const;
    // Started from the desktop menu: work in a folder of the user's own.
    bool fromMenu() const;
    // Run on a simulated station; the automatic one also does the first steps.
    bool demo() const;
    bool demoAuto() const;
    // The station without a window, for a service (no display needed).
    bool headless() const;
    // The window of a station that runs elsewhere, reached through its API.
    bool attach() const;
    // The station's API address (--attach's argument, or localhost's).
    QUrl attachUrl() const { return m_attachUrl; }
    // The file holding the station's token: --token-file, or remote.token
    // in the working folder when the station is not on this machine; empty
    // when none is to be given.
    QString tokenFile() const;
    // How fast the demo's clock runs, when given (a demo option only).
    std::optional<double> demoRate() const { return m_demoRateValue; }
    // The demo with the Sun up, for a calibration on it (a demo option only).
    bool demoSun() const;

    QString helpText() const { return m_parser.helpText(); }
    static QString versionText();

    // Parses the application's arguments (Qt's own taken out) and answers
    // --help, --help-all, --version and wrong options as QCommandLineParser
    // does, exiting the process then.
    void process(const QCoreApplication &application);

private:
    QCommandLineParser m_parser;
    QCommandLineOption m_help;
    QCommandLineOption m_version;
    QCommandLineOption m_menu;
    QCommandLineOption m_demo;
    QCommandLineOption m_demoAuto;
    QCommandLineOption m_demoRate;
    QCommandLineOption m_demoSun;
    QCommandLineOption m_headless;
    QCommandLineOption m_attach;
    QCommandLineOption m_tokenFile;
    QUrl m_attachUrl;
    std::optional<double> m_demoRateValue;
    QString m_error;
};

// A station's API address as given to --attach: "host", "host:port" or a
// ws:// or wss:// URL; the port defaults to 8473 and the path to /api.
std::optional<QUrl> stationUrl(const QString &text);

// Answers --help and --version before the window system is reached, so that
// both work without a display. Returns the exit code when it answered.
std::optional<int> answerHelpOrVersion(int argc, char *argv[]);

// Whether --headless is among the arguments, looked at before any
// application object exists: the headless station must not need a display.
bool headlessWanted(int argc, char *argv[]);

} // namespace startup
