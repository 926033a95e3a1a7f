// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "remote/remotesettings.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QTimer>

#include <memory>

class Calibrator;
class TrackingControl;

namespace remote {

struct CommandOutcome {
    bool ok = false;
    QString error;  // for the client, worded; empty when ok
};

// The API's commands, each checked as the widget that does the same would
// check it, and nothing a widget cannot do: a port opens on a device the
// operator configured or the machine lists, never on a path a client names;
// raw lines go to a port only when remote.cfg allows the manual terminal.
class CommandHandler
{
public:
    // settings: remote.cfg as the server holds it; a port opened or closed
    // here is written back there, so a restarted service opens it again.
    CommandHandler(TrackingControl &station, RemoteSettings &settings);
    // What waits to be written goes before the handler does.
    ~CommandHandler();

    CommandOutcome run(const QJsonObject &command);
    // The station's calibrations, when it has them; not owned.
    void setCalibrator(Calibrator *calibrator) { m_calibrator = calibrator; }

private:
    CommandOutcome open(const QJsonObject &command);
    CommandOutcome calibrate(const QJsonObject &command);
    CommandOutcome close(const QJsonObject &command);
    void remember();
    void writeSettings();

    TrackingControl &m_station;
    RemoteSettings &m_settings;
    Calibrator *m_calibrator = nullptr;
    QElapsedTimer m_lastListing;
    // remote.cfg is written at most once a second: clients toggling a port
    // as fast as they may would otherwise hold the event loop on the disk.
    QElapsedTimer m_lastWrite;
    std::unique_ptr<QTimer> m_writeTimer;
};

} // namespace remote
