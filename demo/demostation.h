// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/direction.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class EphemerisWriter;
class PtyPeer;
class QTemporaryDir;
class SimReceiver;
class SimRotator;
class SimTransceiver;
class TrackingControl;

// A whole station without hardware: the simulated rotator controller and
// transceiver on pseudo-terminals, a tracking data file kept up to date by the
// ephemeris writer, and a scratch working directory holding a store.cfg that
// points at it. The ptys are offered in the port lists under links named
// "rotator" and "transceiver" in the scratch directory, so the operator can
// tell them apart and a replugged device keeps its name. The operator's own
// store.cfg is never touched: the working directory is the scratch one while
// the station runs, and the previous one again afterwards.
class DemoStation : public QObject
{
    Q_OBJECT

public:
    enum Device { Rotator, Transceiver };

    struct Settings {
        QString home = QStringLiteral("JO70FD");
        QString dx = QStringLiteral("FN31pr");
        double frequencyMHz = 432.065;
        // The one clock of the station: the tracking data and the antenna's
        // motion follow it (see DemoClock).
        QDateTime startUtc;  // invalid: the real time
        double clockRate = 1.0;
    };

    explicit DemoStation(QObject *parent = nullptr);
    ~DemoStation() override;

    // Sets everything up and changes into the scratch directory. Call before
    // the main window is built (it reads store.cfg and the port list then).
    bool start(const Settings &settings);
    bool start() { return start(Settings()); }
    QString errorString() const { return m_error; }

    QString workingDirectory() const;
    QString dataFilePath() const;
    // The name the port lists show for the device; stays the same across a replug.
    QString portName(Device device) const;
    // The pty behind it now; empty while its cable is pulled.
    QString linePath(Device device) const;

    // The station core runs on the demo's clock too: its data age against
    // the file's time stamps, its built-in sky and the views' UTC.
    void shareClock(TrackingControl &control) const;
    // The simulated receiver hears the target the station tracks, through
    // the simulated antenna's beam; a calibration reads it as a level source.
    void hearTargetOf(const TrackingControl &control);

    // How far the simulated antenna really points off its readout; a cross-scan finds it.
    static constexpr double hiddenAzimuthOffset = 1.2;
    static constexpr double hiddenElevationOffset = -0.7;

    SimRotator &rotator() { return *m_rotator; }
    SimTransceiver &transceiver() { return *m_transceiver; }
    SimReceiver &receiver() { return *m_receiver; }
    EphemerisWriter &ephemeris() { return *m_writer; }

    // The transceiver's PTT: it transmits, and the tracking file says so.
    void setPtt(bool on);
    bool ptt() const { return m_ptt; }

    // Pulling a cable closes the pty, so the program sees the port vanish;
    // plugging it back makes a new pty behind the same name.
    void setCablePulled(Device device, bool pulled);
    bool isCablePulled(Device device) const;

signals:
    void cableChanged(DemoStation::Device device);
    void pttChanged(bool on);

private:
    PtyPeer &peer(Device device) const;
    bool link(Device device);
    std::optional<Direction> targetNow() const;

    QString m_error;
    QString m_previousDirectory;
    std::unique_ptr<QTemporaryDir> m_directory;
    SimRotator *m_rotator = nullptr;
    SimTransceiver *m_transceiver = nullptr;
    EphemerisWriter *m_writer = nullptr;
    SimReceiver *m_receiver = nullptr;
    QPointer<const TrackingControl> m_station;
    bool m_ptt = false;
};
