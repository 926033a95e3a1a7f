// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/headless.h"

#include "calibration/calibrator.h"
#include "calibration/soundcardlevel.h"
#include "log/loghistory.h"
#include "remote/listenaddress.h"
#include "remote/remoteserver.h"
#include "remote/remotesettings.h"
#include "startup/quitonterminate.h"
#include "startup/workingfolder.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QFile>

#include <QFileInfo>
#include <QHostInfo>

#include <cstdio>

#include <unistd.h>

namespace remote {

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

// The devices the service opened last, in the modes they were left in.
void reopen(TrackingControl &station, const RemoteSettings &settings)
{
    const NetworkSettings network = station.networkSettings();
    station.setNetwork(StationPort::A, network.rotctld);
    station.setNetwork(StationPort::B, network.rigctld);
    station.setLinked(StationPort::A, network.rotLinked && !network.rotctld);
    station.setLinked(StationPort::B, network.rigLinked && !network.rigctld);
    station.setAuto(StationPort::A, settings.autoA);
    station.setAuto(StationPort::B, settings.autoB);
    const auto openPort = [&](StationPort port, bool wanted, const QString &device, BaudRateType baudRate,
                              bool daemon, const QString &address) {
        const QString name = daemon ? address : device;
        if (!wanted || name.isEmpty())
            return;
        SerialParameters parameters;
        parameters.baudRate = baudRate;
        station.open(port, name, parameters, settings.ft847);
    };
    station.setTarget(settings.target == QLatin1String("sun")      ? TrackingTarget::Sun
                      : settings.target == QLatin1String("source") ? TrackingTarget::Source
                                                                   : TrackingTarget::Moon);
    station.setDopplerShift(settings.dxShift ? DopplerShift::Dx : DopplerShift::Home);
    openPort(StationPort::A, settings.openAAtStart, settings.device(true), settings.portABaudRate, network.rotctld,
             network.rotctldAddress);
    openPort(StationPort::B, settings.openBAtStart, settings.device(false), settings.portBBaudRate, network.rigctld,
             network.rigctldAddress);
    // "Track frequency" engages again once the radio's frequency is read, as
    // a client could have engaged it only then.
    if (settings.trackFrequency) {
        auto *once = new QObject(&station);
        QObject::connect(&station, &TrackingControl::changed, once, [&station, once] {
            if (!station.isFrequencyKnown() || station.doppler().tracking())
                return;
            station.setFrequencyTracking(true);
            once->deleteLater();
        });
    }
}

} // namespace

int runHeadless(QCoreApplication &application, bool fromMenu)
{
    QString error;
    if (!startup::enterWorkingFolder(fromMenu, startup::menuWorkingFolder(), &error))
        say(error);

    const startup::QuitOnTerminate quitOnTerminate(application);
    TrackingControl station;
    // What it said while it was being made (its WSJT-X socket) reaches the journal too.
    for (const LogHistory::Entry &entry : station.recentLog().entries())
        say(entry.text);
    QObject::connect(&station, &TrackingControl::message, &station, &say);

    // A first start leaves the file to edit, with every setting at its default.
    if (!QFile::exists(RemoteSettings::defaultPath()))
        RemoteSettings().write();
    const RemoteSettings settings = RemoteSettings::read();
    // Before the server, gone after it: a run still going gives the antenna back.
    Calibrator calibrator(station);
    // systemd names each run of a service: there no session's sound server may be reached.
    if (qEnvironmentVariableIsSet("INVOCATION_ID") && SoundCardLevel::inputs().isEmpty())
        station.say(QStringLiteral("Calibrate: no sound card reached. A service reaches one only through the sound "
                                   "server of a login session: run it as that user's unit (systemctl --user), "
                                   "or calibrate with the S-meter through Hamlib"));
    RemoteServer server(station, settings);
    server.setCalibrator(&calibrator);
    const ListenAddresses listen = resolveListenAddress(settings.listenAddress);
    if (listen.addresses.isEmpty()) {
        station.say(QStringLiteral("web page and API not started: %1").arg(listen.error));
        return 1;
    }
    if (!listen.loopbackOnly()) {
        const RemoteToken token = remoteToken();
        if (token.value.isEmpty()) {
            station.say(QStringLiteral("remote.token can be neither read nor made: not listening on %1")
                            .arg(settings.listenAddress));
            return 1;
        }
        if (token.othersMayRead)
            station.say(QStringLiteral("remote.token can be read by users other than this one: anyone who can "
                                       "read it can steer the station (chmod 600 %1)")
                            .arg(QFileInfo(QStringLiteral("remote.token")).absoluteFilePath()));
        // Shown once, to a person at a terminal only: neither vestrel.log nor the
        // journal (which others may read) ever holds it.
        if (token.created && ::isatty(STDERR_FILENO))
            say(QStringLiteral("remote access token (kept in remote.token, shown only now): %1").arg(token.value));
        else if (token.created)
            station.say(QStringLiteral("remote access token made: it is in %1, readable by this user only")
                            .arg(QFileInfo(QStringLiteral("remote.token")).absoluteFilePath()));
        server.setToken(token.value);
    }
    if (!server.listen(listen.addresses, &error)) {
        station.say(QStringLiteral("web page and API cannot listen on %1 port %2: %3")
                        .arg(settings.listenAddress)
                        .arg(settings.listenPort)
                        .arg(error));
        return 1;
    }
    // "any" is no host name: the machine's own name reaches it from the LAN.
    const bool any = settings.address() == QHostAddress(QHostAddress::Any);
    const QString host = any ? QHostInfo::localHostName() : settings.listenAddress.trimmed();
    // A name is said with what it was found to be.
    const QString found = settings.address().isNull() ? QStringLiteral(" (%1)").arg(listen.shown()) : QString();
    station.say(QStringLiteral("headless station %1: web page and API on http://%2:%3/%4")
                    .arg(QCoreApplication::applicationVersion(), host)
                    .arg(server.port())
                    .arg(found));

    station.enumeratePorts();
    if (!settings.dataFile.isEmpty())
        station.setDataFile(settings.dataFile);
    reopen(station, settings);

    const int code = application.exec();
    station.closeAll();
    return code;
}

} // namespace remote
