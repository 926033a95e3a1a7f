// SPDX-License-Identifier: GPL-3.0-or-later
#include "startup/commandline.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHostAddress>

#include <cstdio>
#include <cstdlib>

void startup::setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("vestrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VESTREL_VERSION));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.vestrel.vestrel"));
}

startup::CommandLine::CommandLine()
    : m_help(m_parser.addHelpOption())
    , m_version(m_parser.addVersionOption())
    , m_menu(QStringLiteral("menu"),
             QStringLiteral("Work in the folder vestrel in the user's data folder "
                            "(~/.local/share/vestrel), creating it when missing, instead of the "
                            "current folder. The desktop menu entry starts the program this way."))
    , m_demo(QStringLiteral("demo"), QStringLiteral("Run on a simulated station."))
    , m_demoAuto(QStringLiteral("demo-auto"), QStringLiteral("Run on a simulated station and do the first steps."))
    , m_demoRate(QStringLiteral("demo-rate"),
                 QStringLiteral("How many times faster than real time the demo's clock runs (above 0, up to %1). "
                                "While the Moon is down the demo starts where it has risen, at %2 times by "
                                "default; while it is up, on the real time.")
                     .arg(highestDemoRate)
                     .arg(defaultDemoRate),
                 QStringLiteral("factor"))
    , m_demoSun(QStringLiteral("demo-sun"),
                QStringLiteral("Run the demo with the Sun up, for calibrating on it (Calibrate... on the station "
                               "panel): while the Sun is under 10 degrees the demo starts where it has risen "
                               "there, at the real speed unless --demo-rate says otherwise. The simulated "
                               "antenna points off its readout by a hidden offset the calibration finds."))
    , m_headless(QStringLiteral("headless"),
                 QStringLiteral("Run the station without a window, as a service: open the devices named in "
                                "remote.cfg, serve the web page and its API (on localhost:8473 by default) and "
                                "log to standard error and vestrel.log until ended."))
    , m_attach(QStringLiteral("attach"),
               QStringLiteral("Show and steer a station that runs elsewhere (vestrel --headless) through its "
                              "API, opening no port here. The station's address may follow: host:port or "
                              "ws://host:port/api (default ws://localhost:8473/api)."))
    , m_tokenFile(QStringLiteral("token-file"),
                  QStringLiteral("With --attach: the file holding the station's token (default: remote.token "
                                 "in the working folder when the station is not this machine)."),
                  QStringLiteral("path"))
{
    // "-platform" is one of Qt's options, not seven letters.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.setApplicationDescription(
        QStringLiteral("Points a moonbounce (EME) antenna at the Moon, the Sun or a radio source and keeps the\n"
                       "radio on the Doppler-corrected frequency, by any of the five EME Doppler methods. The\n"
                       "target comes from a tracking program's data file or from the sky computed here. The\n"
                       "rotator is a controller taking short ASCII commands on a serial port, the radio a\n"
                       "Yaesu FT-817 or FT-847 on its CAT line; or any rotator and radio Hamlib supports,\n"
                       "through its daemons rotctld and rigctld or with Hamlib linked in (no daemon to start).\n"
                       "\"Calibrate...\" finds the antenna's pointing offsets by a cross-scan on the Sun, the\n"
                       "Moon or a radio source, and measures Sun noise; its runs are kept in calibration.csv.\n"
                       "Runs as a window, or headless as a service with a web page and a WebSocket API\n"
                       "(--headless), or as a window on such a station (--attach).\n"
                       "Settings are kept in store.cfg in the working folder."));
    m_parser.addOptions({m_menu, m_demo, m_demoAuto, m_demoRate, m_demoSun, m_headless, m_attach, m_tokenFile});
    m_parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("With --attach: the station's address."),
                                   QStringLiteral("[address]"));
}

bool startup::CommandLine::parse(const QStringList &arguments)
{
    m_error.clear();
    if (!m_parser.parse(arguments)) {
        m_error = m_parser.errorText();
        return false;
    }
    QStringList stray = m_parser.positionalArguments();
    m_attachUrl = QUrl(QStringLiteral("ws://localhost:8473/api"));
    if (attach() && !stray.isEmpty()) {
        const std::optional<QUrl> url = stationUrl(stray.takeFirst());
        if (!url) {
            m_error = QStringLiteral("--attach takes host:port or ws://host:port/api, not '%1'.")
                          .arg(m_parser.positionalArguments().first());
            return false;
        }
        m_attachUrl = *url;
    }
    if (!stray.isEmpty()) {
        m_error = QStringLiteral("Unexpected argument '%1'.").arg(stray.first());
        return false;
    }
    if (headless() && (demo() || demoAuto())) {
        m_error = QStringLiteral("--headless runs the real station, not a demo.");
        return false;
    }
    if (attach() && (headless() || demo() || demoAuto())) {
        m_error = QStringLiteral("--attach shows a station that runs elsewhere; it goes with neither --headless "
                                 "nor a demo.");
        return false;
    }
    if (m_parser.isSet(m_tokenFile) && !attach()) {
        m_error = QStringLiteral("--token-file goes with --attach.");
        return false;
    }
    if (demoSun() && !demo() && !demoAuto()) {
        m_error = QStringLiteral("--demo-sun goes with --demo or --demo-auto.");
        return false;
    }
    m_demoRateValue.reset();
    if (m_parser.isSet(m_demoRate)) {
        const QString text = m_parser.value(m_demoRate);
        bool ok = false;
        const double rate = text.toDouble(&ok);
        if (!ok || !(rate > 0.0) || rate > highestDemoRate) {
            m_error = QStringLiteral("--demo-rate takes a number above 0 and up to %1, not '%2'.")
                          .arg(highestDemoRate)
                          .arg(text);
            return false;
        }
        if (!demo() && !demoAuto()) {
            m_error = QStringLiteral("--demo-rate goes with --demo or --demo-auto.");
            return false;
        }
        m_demoRateValue = rate;
    }
    return true;
}

bool startup::CommandLine::helpWanted() const
{
    return m_parser.isSet(m_help);
}

bool startup::CommandLine::versionWanted() const
{
    return m_parser.isSet(m_version);
}

bool startup::CommandLine::fromMenu() const
{
    return m_parser.isSet(m_menu);
}

bool startup::CommandLine::demo() const
{
    return m_parser.isSet(m_demo);
}

bool startup::CommandLine::headless() const
{
    return m_parser.isSet(m_headless);
}

bool startup::CommandLine::attach() const
{
    return m_parser.isSet(m_attach);
}

QString startup::CommandLine::tokenFile() const
{
    if (m_parser.isSet(m_tokenFile))
        return m_parser.value(m_tokenFile);
    const QString host = m_attachUrl.host();
    const bool here = host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
    return here ? QString() : QStringLiteral("remote.token");
}

std::optional<QUrl> startup::stationUrl(const QString &text)
{
    QUrl url(text.contains(QLatin1String("://")) ? text : QStringLiteral("ws://") + text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty()
        || (url.scheme() != QLatin1String("ws") && url.scheme() != QLatin1String("wss")))
        return std::nullopt;
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/api"));
    if (url.port() < 0 && url.scheme() == QLatin1String("ws"))
        url.setPort(8473);
    return url;
}

bool startup::CommandLine::demoSun() const
{
    return m_parser.isSet(m_demoSun);
}

bool startup::CommandLine::demoAuto() const
{
    return m_parser.isSet(m_demoAuto);
}

QString startup::CommandLine::versionText()
{
    return QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
}

void startup::CommandLine::process(const QCoreApplication &application)
{
    // Unknown options, help and version: answered and exited by Qt's parser.
    m_parser.process(application);
    if (!parse(application.arguments())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(m_error));
        std::exit(EXIT_FAILURE);
    }
}

std::optional<int> startup::answerHelpOrVersion(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine commandLine;
    // Qt's own options (-platform, -style) are still in the list: wrong
    // options are left to the full parse once the application exists.
    commandLine.parse(arguments);
    if (commandLine.versionWanted()) {
        std::printf("%s\n", qPrintable(CommandLine::versionText()));
        return EXIT_SUCCESS;
    }
    if (commandLine.helpWanted()) {
        QCoreApplication application(argc, argv);  // names the program in the usage line
        std::printf("%s", qPrintable(commandLine.helpText()));
        return EXIT_SUCCESS;
    }
    return std::nullopt;
}

bool startup::headlessWanted(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    CommandLine commandLine;
    commandLine.parse(arguments);
    return commandLine.headless();
}
