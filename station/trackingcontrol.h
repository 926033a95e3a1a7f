// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlibserver/rigserver.h"
#include "hamlibserver/rotserver.h"
#include "log/stationlog.h"
#include "settings/dopplersettings.h"
#include "settings/networksettings.h"
#include "settings/sourcesettings.h"
#include "station/portsession.h"
#include "station/radiocontrol.h"
#include "station/rotatorcontrol.h"
#include "station/stationcontext.h"
#include "station/trackingfeed.h"
#include "station/trackingsource.h"
#include "wsjtx/wsjtxfollow.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QTimer;
class SettingsFile;

// The station itself, with no window, as the views (the main window, the
// web page and its API, an attached window) see it: it composes each port's
// session, the rotator's and the radio's controls, owns the tracking source
// and the last record, the log and the settings files, and runs the
// repetition. Views call its operations and show what its signals report.
class TrackingControl : public QObject
{
    Q_OBJECT

public:
    explicit TrackingControl(QObject *parent = nullptr);
    ~TrackingControl() override;

    // The serial ports there are, said in the log; views offer them.
    QStringList enumeratePorts();
    QStringList ports() const { return m_ports; }

    // Ports. open() on a serial line opens at once; on a daemon it starts the
    // connection and the port opens when the daemon answers. True when the
    // port is open or connecting afterwards.
    bool open(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters, bool ft847);
    // The same on a link made elsewhere (tests, other transports).
    void openWith(StationPort port, DeviceLink *link, const QString &shownName)
    {
        session(port).openWith(link, shownName);
    }
    void close(StationPort port);
    // Ports closed without a word to the views: the station is shutting down.
    void closeAll();
    void setNetwork(StationPort port, bool network) { session(port).network = network; }
    void setLinked(StationPort port, bool linked) { session(port).linked = linked; }
    // A device that went away is opened again when it comes back (on by default).
    void setAutoReconnect(bool on);
    bool autoReconnect() const { return m_context.network.reconnect; }
    bool isReconnecting(StationPort port) const { return portSession(port).isReconnecting(); }
    void setAuto(StationPort port, bool automatic);
    void sendManual(StationPort port, const QString &line);

    // A target the source cannot place is refused, with the reason in the log.
    void setTarget(TrackingTarget target);
    QString targetRefusal(TrackingTarget target) const { return m_feed.targetRefusal(target); }
    void setDopplerShift(DopplerShift shift) { m_radio.setShift(shift); }
    // An offset typed by the operator; "debug" in the elevation switches debug mode on.
    void enterAzimuthOffset(const QString &text) { m_rotator.enterOffset(RotatorAxis::Azimuth, text); }
    void enterElevationOffset(const QString &text);
    void setFrequencyTracking(bool on) { m_radio.setFrequencyTracking(on); }
    void setPtt(bool on) { m_radio.setPtt(on); }
    void tune(const QString &mhzText) { m_radio.tune(mhzText); }
    // A rigctl client's dial under the radio's own frequency, taken once it stood.
    void setClientDial(double hz) { m_radio.setClientDial(hz); }
    void park(double azimuth, double elevation)
    {
        endExternal(QStringLiteral("parking"));
        m_rotator.park(azimuth, elevation);
    }
    // From a client: tracking leaves the rotator (Manual, as the window parks
    // only in Manual), the antenna stays at the park position, and parking
    // ends by itself once the rotator has taken it.
    void parkAndHold(double azimuth, double elevation);
    // The offsets in force into store.cfg, as the window keeps them when it closes.
    void saveOffsets() { m_rotator.saveOffsets(); }
    // A calibration aims off the target by these, on top of the operator's
    // offsets, steered at once; a zero offset ends it.
    void setScanOffset(const Direction &offset)
    {
        m_rotator.setScanOffset(offset);
        if (m_trackingActive && lastRecordTime().isValid())
            m_rotator.steer(lastRecord(), m_radio.transmitting());
    }
    Direction scanOffset() const { return m_rotator.scanOffset(); }
    // What a calibration found, added to the operator's offsets and kept in store.cfg.
    void addOffsets(double azimuth, double elevation)
    {
        m_rotator.addOffsets(azimuth, elevation);
        emit offsetsChanged();
    }
    std::optional<QString> tuneRefusal(double mhz) const { return m_radio.tuneRefusal(mhz); }
    void endParking() { m_rotator.endParking(); }

    // Settings the dialogs confirm; each is written to store.cfg at once.
    void setTimes(quint32 repetitionSeconds, quint32 messageDelayMs);
    void setRounding(double azimuth, double elevation) { m_rotator.setRounding(azimuth, elevation); }
    void setNetworkSettings(const NetworkSettings &settings) { m_context.setNetwork(settings); }
    // The tracking data file (an empty path: none chosen); its folder is kept.
    void setDataFile(const QString &path);
    void setSource(const SourceSettings &settings);
    // The Doppler method, sked frequency, transverter and split; kept in doppler.cfg.
    // False, with the reason in the log, for a sked the radio cannot take.
    bool setDopplerSettings(const DopplerSettings &settings);
    std::optional<QString> skedRefusal(const DopplerSettings &settings) const { return m_radio.skedRefusal(settings); }
    // The rotator's stops, mask and manners of moving; kept in geometry.cfg.
    void setRotatorGeometry(const RotatorGeometry &geometry);
    // Following WSJT-X (kept in wsjtx.cfg): false, with the reason in the
    // log, when its address cannot be listened on.
    bool setWsjtxSettings(const WsjtxSettings &settings);
    bool setFollowWsjtx(bool on);
    // Keys the radio for a program working it through the station (false:
    // the link cannot key, or port B is closed).
    bool key(bool on);
    // The rigctld- and rotctld-compatible servers (kept in servers.cfg):
    // false, with the reason in the log, when an address cannot be had.
    bool setServerSettings(const ServerSettings &settings);
    const ServerSettings &serverSettings() const { return m_servers; }
    const RigServer &rigServer() const { return m_rigServer; }
    const RotServer &rotServer() const { return m_rotServer; }
    // A rotctl client's aim: the antenna follows it through the planner in
    // place of the target until the operator chooses a target, or the client
    // is silent for externalSilentSeconds. Hamlib's code: 0, -9 (rejected)
    // while parking or in Manual, -11 without a rotator.
    static constexpr int externalSilentSeconds = 60;
    int aimExternal(double azimuth, double elevation);
    // A rotctl client's park: the parking position becomes its aim, sent as
    // a park that ends once the rotator has taken it; the codes as above.
    int parkExternal();
    std::optional<std::pair<double, double>> externalAim() const;
    // A source made elsewhere (tests, demos); the settings choose again at the next change.
    void setTrackingSource(std::unique_ptr<TrackingSource> source);

    // The timers' work, callable directly.
    void repetition();
    void readout() { m_radio.readout(); }

    const PortSession &portSession(StationPort port) const { return port == StationPort::A ? m_portA : m_portB; }
    const StationHealth &health() const { return m_context.health; }
    // The device's trouble as a port's status line adds it (", not answering");
    // empty while it is well.
    QString trouble(StationPort port) const;
    // The last record read, and when (invalid before the first).
    const TrackingRecord &lastRecord() const { return m_feed.lastRecord(); }
    QDateTime lastRecordTime() const { return m_feed.lastRecordTime(); }
    // How old the shown position is: behind the clock by the file's time
    // stamp, or since the built-in sky computed it.
    std::optional<qint64> dataAgeSeconds() const { return m_feed.dataAgeSeconds(); }
    const Pointing &pointing() const { return m_rotator.pointing(); }
    bool isTrackingActive() const { return m_trackingActive; }
    bool isDebugMode() const { return m_context.debugMode; }
    bool isDopplerRunning() const { return m_radio.isRunning(); }
    bool isFrequencyKnown() const { return m_radio.isFrequencyKnown(); }
    const DopplerControl &doppler() const { return m_radio.doppler(); }
    const RotatorSteering &steering() const { return m_rotator.steering(); }
    TrackingTarget target() const { return m_target; }
    std::optional<FrequencyReading> shownFrequency() const { return m_radio.shownFrequency(); }
    double azimuthOffset() const { return m_rotator.azimuthOffset(); }
    double elevationOffset() const { return m_rotator.elevationOffset(); }
    StationTimes times() const { return m_context.times; }
    double azimuthRounding() const { return m_rotator.azimuthRounding(); }
    double elevationRounding() const { return m_rotator.elevationRounding(); }
    double azimuthParking() const { return m_rotator.azimuthParking(); }
    double elevationParking() const { return m_rotator.elevationParking(); }
    QString dataFolder() const { return m_feed.dataFolder(); }
    NetworkSettings networkSettings() const { return m_context.network; }
    SourceSettings sourceSettings() const { return m_feed.settings(); }
    DopplerSettings dopplerSettings() const { return m_radio.settings(); }
    RotatorGeometry rotatorGeometry() const { return m_rotator.planner().geometry(); }
    const PointingPlanner &planner() const { return m_rotator.planner(); }
    // Where the source puts a target now, or at utc where it computes the
    // pass ahead (sourceLooksAhead()); read quietly, the last record kept: a
    // calibration looks at its target before it turns to it.
    std::optional<Direction> targetDirection(TrackingTarget target, const QDateTime &utc = {});
    bool sourceLooksAhead() const { return m_feed.looksAhead(); }
    const WsjtxFollow &wsjtx() const { return m_wsjtx; }
    // The radio's link while port B is open.
    const TransceiverLink *transceiver() const { return m_radio.link(); }
    // Why the antenna is held or off the target, for the views; empty while it follows.
    QString pointingNote() const;
    // The sky frequencies the method asked for at the last repetition, and
    // whether they went out as split.
    std::optional<SkyFrequencies> methodFrequencies() const { return m_radio.methodFrequencies(); }
    bool isSplitActive() const { return m_radio.isSplitActive(); }
    // The operator's own tuning while a method tracks: kept as an offset to
    // the sked frequency (sky hertz) until tracking is unticked or the sked
    // frequency changes.
    double dialOffsetHz() const { return m_radio.dialOffsetHz(); }
    SettingsFile &settingsFile() { return *m_settings; }
    QString logPath() const { return m_log.path(); }  // vestrel.log, where every message is kept
    // The last messages, for a view that connects late; the newest is the one
    // message() reports as it is emitted.
    const LogHistory &recentLog() const { return m_log.recent(); }
    // The time of the sky: the system clock, or a demo's own (which the
    // built-in source, the data's age against its time stamps and the views'
    // UTC then follow).
    void setClock(std::function<QDateTime()> now) { m_context.clock = std::move(now); }
    QDateTime now() const { return m_context.now(); }
    // A view's own word for the operator (the first start's advice), logged
    // as the station's messages are: in every view and in vestrel.log.
    void say(const QString &text) { logMessage(text); }

signals:
    void message(const QString &text);  // for the log, already worded and filtered
    void logFileFailed();  // vestrel.log lacks messages from now on
    // Something a view shows changed: ports, modes, frequencies, tracking.
    void changed();
    void antennaPosition(double azimuth, double elevation);
    // The operator's offsets changed other than by the operator's typing.
    void offsetsChanged();
    // Once a second, for views that show the time and ages.
    void ticked();

private:
    PortSession &session(StationPort port) { return port == StationPort::A ? m_portA : m_portB; }
    void logMessage(const QString &text) { m_log.say(text); }
    void opened(StationPort port);
    void closePort(StationPort port);
    void portLost(StationPort port);
    void setTrackingActive(bool on);
    void resetLastValues();
    void runTrackingCycle();
    double skyMHz() const;
    void sourceChanged();
    void checkHealth();
    void shareWithOtherPrograms();  // once, at construction
    bool checkSharing();  // true when an alarm began or ended
    TrackingRecord aimed(const TrackingRecord &record) const;
    void endExternal(const QString &why);

    StationLog m_log;
    StationContext m_context;
    std::unique_ptr<SettingsFile> m_settings;
    PortSession m_portA;
    PortSession m_portB;
    RotatorControl m_rotator;
    RadioControl m_radio;
    TrackingFeed m_feed;
    WsjtxFollow m_wsjtx;
    ServerSettings m_servers;
    RigServer m_rigServer;
    RotServer m_rotServer;
    struct External {
        double azimuth = 0;
        double elevation = 0;
        QDateTime heard;
    };
    std::optional<External> m_external;
    QTimer *m_repetitionTimer;
    QTimer *m_healthTimer;
    QStringList m_ports;
    TrackingTarget m_target = TrackingTarget::Moon;
    bool m_trackingActive = false;
};
