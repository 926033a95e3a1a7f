#pragma once

#include "links/rotatorlink.h"
#include "log/loghistory.h"
#include "serial/serialtypes.h"
#include "settings/dopplersettings.h"
#include "settings/networksettings.h"
#include "settings/sourcesettings.h"
#include "station/dopplercontrol.h"
#include "station/pointingplanner.h"
#include "station/radiofollow.h"
#include "station/rotatorsteering.h"
#include "station/stationhealth.h"
#include "station/trackingsource.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class FileLog;
class QFileSystemWatcher;
class QTimer;
class SettingsFile;
class TransceiverLink;

enum class StationPort { A, B };

// The radio's last frequency readout and whether it was transmitting then.
struct FrequencyReading {
    double mhz = 0.0;
    bool transmitting = false;
};

// One port as the station holds it: the link to its device while open (a
// serial line or a Hamlib daemon) and the operator's choices for it.
struct PortSession {
    QString name;                 // "Port A", "Port B"
    bool open = false;
    bool connecting = false;      // a daemon link is being connected
    bool network = false;         // the device is reached through a Hamlib daemon
    bool automatic = false;       // Auto rather than Manual
    DeviceLink *link = nullptr;   // from a successful open (or the start of a connection) to the close
    QString target() const { return link ? link->target() : QString(); }
    // How it was opened last, so that it can be opened again the same way.
    QString openedName;
    QString openedDevice;  // the device file the name led to then
    QString openedLink;    // the link's own identity then, when the name is a link
    SerialParameters parameters;
    bool ft847 = false;
};

// Where the antenna is meant to point and where it does, as far as known.
struct Pointing {
    std::optional<double> commandedAzimuth;
    std::optional<double> commandedElevation;
    std::optional<double> actualAzimuth;  // from a rotator that reports it
    std::optional<double> actualElevation;
};

// The station's settings of store.cfg as the core uses them.
struct StationTimes {
    quint32 repetitionTime = 1;   // seconds
    quint32 messageDelay = 0;     // milliseconds
};

// The station itself, with no window: the two ports and their links, the
// repetition and readout timers, the tracking cycle with its rotator commands
// and parking, the Doppler rule and the settings files. Views (the main window,
// later others) call its operations and show what its signals report.
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
    void openWith(StationPort port, DeviceLink *link, const QString &shownName);
    void close(StationPort port);
    // Ports closed without a word to the views: the station is shutting down.
    void closeAll();
    void setNetwork(StationPort port, bool network) { session(port).network = network; }
    // A device that went away is opened again when it comes back (on by default).
    void setAutoReconnect(bool on);
    bool autoReconnect() const { return m_network.reconnect; }
    bool isReconnecting(StationPort port) const { return m_reconnect[int(port)].wanted; }
    void setAuto(StationPort port, bool automatic);
    void sendManual(StationPort port, const QString &line);

    void setTarget(TrackingTarget target);
    void setDopplerShift(DopplerShift shift) { m_doppler.shift = shift; }
    // An offset typed by the operator; "debug" in the elevation switches debug mode on.
    void enterAzimuthOffset(const QString &text);
    void enterElevationOffset(const QString &text);
    void setFrequencyTracking(bool on);
    void setPtt(bool on) { m_doppler.ptt = on; }
    void tune(const QString &mhzText);
    void park(double azimuth, double elevation);
    void parkAndHold(double azimuth, double elevation);
    // The offsets in force into store.cfg, as the window keeps them when it closes.
    void saveOffsets();
    std::optional<QString> tuneRefusal(double mhz) const;
    void endParking() { m_steering.parkingEnded(); }

    // Settings the dialogs confirm; each is written to store.cfg at once.
    void setTimes(quint32 repetitionSeconds, quint32 messageDelayMs);
    void setRounding(double azimuth, double elevation);
    void setNetworkSettings(const NetworkSettings &settings);
    // The tracking data file (an empty path: none chosen); its folder is kept.
    void setDataFile(const QString &path);
    void setSource(const SourceSettings &settings);
    // The Doppler method, sked frequency, transverter and split; kept in doppler.cfg.
    // False, with the reason in the log, for a sked the radio cannot take.
    bool setDopplerSettings(const DopplerSettings &settings);
    std::optional<QString> skedRefusal(const DopplerSettings &settings) const;
    // The rotator's stops, mask and manners of moving; kept in geometry.cfg.
    void setRotatorGeometry(const RotatorGeometry &geometry);
    // A source made elsewhere (tests, demos); the settings choose again at the next change.
    void setTrackingSource(std::unique_ptr<TrackingSource> source) { m_source = std::move(source); }

    // The timers' work, callable directly.
    void repetition();
    void readout();

    const PortSession &portSession(StationPort port) const;
    const StationHealth &health() const { return m_health; }
    // The device's trouble as a port's status line adds it (", not answering");
    // empty while it is well.
    QString trouble(StationPort port) const;
    // The last record read, and when (invalid before the first).
    const TrackingRecord &lastRecord() const { return m_lastRecord; }
    QDateTime lastRecordTime() const { return m_lastRecordTime; }
    // How old the shown position is: behind the clock by the file's time
    // stamp, or since the built-in sky computed it.
    std::optional<qint64> dataAgeSeconds() const;
    const Pointing &pointing() const { return m_pointing; }
    bool isTrackingActive() const { return m_trackingActive; }
    bool isDebugMode() const { return m_debugMode; }
    bool isDopplerRunning() const { return m_dopplerRunning; }
    bool isFrequencyKnown() const { return m_frequencyKnown; }
    const DopplerControl &doppler() const { return m_doppler; }
    const RotatorSteering &steering() const { return m_steering; }
    TrackingTarget target() const { return m_target; }
    std::optional<FrequencyReading> shownFrequency() const { return m_shownFrequency; }
    double azimuthOffset() const { return m_azimuthOffset; }
    double elevationOffset() const { return m_elevationOffset; }
    StationTimes times() const { return m_times; }
    double azimuthRounding() const { return m_azimuthRounding; }
    double elevationRounding() const { return m_elevationRounding; }
    double azimuthParking() const { return m_azimuthParking; }
    double elevationParking() const { return m_elevationParking; }
    QString dataFolder() const;
    NetworkSettings networkSettings() const { return m_network; }
    SourceSettings sourceSettings() const { return m_sourceSettings; }
    DopplerSettings dopplerSettings() const { return m_dopplerSettings; }
    RotatorGeometry rotatorGeometry() const { return m_planner.geometry(); }
    const PointingPlanner &planner() const { return m_planner; }
    // Why the antenna is held or off the target, for the views; empty while it follows.
    QString pointingNote() const { return m_pointingNote; }
    // The sky frequencies the method asked for at the last repetition, and
    // whether they went out as split.
    std::optional<SkyFrequencies> methodFrequencies() const { return m_methodSky; }
    bool isSplitActive() const { return m_split.active; }
    // The operator's own tuning while a method tracks: kept as an offset to
    // the sked frequency (sky hertz) until tracking is unticked or the sked
    // frequency changes.
    double dialOffsetHz() const { return m_dial.offsetHz; }
    SettingsFile &settingsFile() { return *m_settings; }
    QString logPath() const;  // vestrel.log, where every message is kept
    // The last messages, for a view that connects late; the newest is the one
    // message() reports as it is emitted.
    const LogHistory &recentLog() const { return m_recentLog; }
    // The time of the sky: the system clock, or a demo's own (which the
    // built-in source, the data's age against its time stamps and the views'
    // UTC then follow).
    void setClock(std::function<QDateTime()> now) { m_clock = std::move(now); }
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    // A view's own word for the operator (the first start's advice), logged
    // as the station's messages are: in every view and in vestrel.log.
    void say(const QString &text) { logMessage(text); }

signals:
    void message(const QString &text);  // for the log, already worded and filtered
    void logFileFailed();  // vestrel.log lacks messages from now on
    // Something a view shows changed: ports, modes, frequencies, tracking.
    void changed();
    void antennaPosition(double azimuth, double elevation);
    // Once a second, for views that show the time and ages.
    void ticked();

private:
    PortSession &session(StationPort port) { return port == StationPort::A ? m_portA : m_portB; }
    void logMessage(const QString &text);
    void logDebug(const QString &text);
    bool portOpened(StationPort port, DeviceLink *link, const QString &shownName);
    void afterOpen(StationPort port);
    void wireLink(StationPort port);
    void closePort(StationPort port);
    void portLost(StationPort port);
    void dropLink(StationPort port);
    void setTrackingActive(bool on);
    void resetLastValues();
    void runTrackingCycle();
    void dopplerStep(const TrackingRecord &record);
    void methodStep(const TrackingRecord &record);
    bool sendSplit(const SkyFrequencies &sky, bool transmitWritable);
    void leaveMethod();
    void endSplit();
    void watchDial(double mhz);
    void wroteForDial(double radioHz, bool receive);
    double recordAgeSeconds(const TrackingRecord &record) const;
    bool sendFrequency(double hz, const QString &refusal);
    void sendOnPort(PortSession &record, const QByteArray &bytes);
    QByteArray rotatorCommand(RotatorAxis axis, double azimuth, double elevation) const;
    void rotatorReceived(const QByteArray &bytes);
    void startDoppler();
    void stopDoppler();
    void frequencyReceived(double mhz);
    void radioAnswered();
    static Alarm unreachableAlarm(StationPort port);
    void endParkingTaken();
    void steerRotator(const TrackingRecord &record);
    void awaitRotator(const QByteArray &command);
    void rotatorAnswered();
    void checkBand(const TrackingRecord &record);
    double dialToleranceHz() const;
    RadioFollowCheck::Verdict checkFollowing(double mhz);
    void useSource();
    bool openPort(StationPort port, const QString &nameOrAddress, const SerialParameters &parameters, bool ft847,
                  bool quiet);
    void commandRotator(RotatorAxis axis, double azimuth, double elevation);
    PointingPlanner::Command planPointing(const Direction &target);
    void checkHealth();
    qint64 silentRotatorMs() const;
    void checkDataAge();
    void planReconnect(StationPort port);
    void tryReconnect(StationPort port);
    void cancelReconnect(StationPort port);
    void reconnected(StationPort port);
    std::unique_ptr<FileLog> m_fileLog;
    LogHistory m_recentLog;
    bool m_fileLogFailed = false;
    std::unique_ptr<SettingsFile> m_settings;
    PortSession m_portA;
    PortSession m_portB;
    RotatorLink *m_rotator = nullptr;
    TransceiverLink *m_transceiver = nullptr;
    QTimer *m_repetitionTimer;
    QTimer *m_readoutTimer;
    QTimer *m_positionTimer;
    QStringList m_ports;
    StationTimes m_times;
    double m_azimuthRounding = 0.1;
    double m_elevationRounding = 0.1;
    double m_azimuthParking = 90.0;
    double m_elevationParking = 10.0;
    double m_azimuthOffset = 0.0;
    double m_elevationOffset = 0.0;
    NetworkSettings m_network;
    SourceSettings m_sourceSettings;
    DopplerSettings m_dopplerSettings;
    std::optional<SkyFrequencies> m_methodSky;
    // Receive on one VFO and transmit on the other: each written when it
    // moved by the radio's step, at most once a second.
    struct Split {
        bool active = false;
        std::optional<quint32> receiveHz;
        std::optional<quint32> transmitHz;
        QElapsedTimer receiveWritten;
        QElapsedTimer transmitWritten;
    };
    Split m_split;
    struct Dial {
        double offsetHz = 0;
        // Radio hertz lately written to the VFO the readout shows: a readout
        // near one of them is the station's own.
        std::deque<double> written;
        std::optional<double> receiveHz;   // the last of them meant for receiving
        std::optional<double> candidateHz; // off every one of them once; a second alike is the dial
        double candidateFromHz = 0;        // where the radio was before it
        std::optional<double> takenHz;     // the dial as taken, until the method moves on
        QElapsedTimer candidateSince;
    };
    Dial m_dial;
    RadioFollowCheck m_follow;
    std::optional<quint32> m_heldTransmitHz;
    bool m_parkEndsWhenTaken = false;  // one VFO, held while transmitting
    std::optional<QString> m_dataPath;  // none until the operator first chose (or cancelled)
    std::unique_ptr<TrackingSource> m_source;
    TrackingTarget m_target = TrackingTarget::Moon;
    bool m_trackingActive = false;
    bool m_debugMode = false;
    bool m_dopplerRunning = false;
    bool m_frequencyKnown = false;
    std::optional<FrequencyReading> m_shownFrequency;
    RotatorSteering m_steering;
    PointingPlanner m_planner;
    QString m_pointingNote;
    DopplerControl m_doppler;
    StationHealth m_health;
    QTimer *m_healthTimer;
    QTimer *m_answerTimer;
    QElapsedTimer m_pendingSince;
    QElapsedTimer m_rotatorQuietSince;  // since the first thing it has not answered
    QByteArray m_rotatorAwaited;
    QString m_pendingPosition;  // the waiting command's position, as the log says it
    int m_unansweredReadouts = 0;
    TrackingRecord m_lastRecord;
    QDateTime m_lastRecordTime;
    QDateTime m_lastRecordClock;  // the sky's time at that read
    std::function<QDateTime()> m_clock;
    Pointing m_pointing;

    // A lost device waits here until it is back.
    struct Reconnect {
        bool wanted = false;
        int backoffSeconds = 1;
        QElapsedTimer since;  // the last return; a device lost soon after waits longer
        bool resumeTracking = false;  // frequency tracking, for port B
        double workingMHz = 0.0;
        bool ptt = false;
        double dialOffsetHz = 0.0;  // the operator's tuning under a method
        int shortLives = 0;  // connections in a row lost soon after they were made
    };
    std::array<Reconnect, 2> m_reconnect;
    std::array<QTimer *, 2> m_reconnectTimers {};
    QFileSystemWatcher *m_watcher;
};
