// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "links/transceiverlink.h"
#include "settings/dopplersettings.h"
#include "station/dopplercontrol.h"
#include "station/dopplermethod.h"
#include "station/portsession.h"
#include "station/radiofollow.h"
#include "station/stationcontext.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <optional>

class QTimer;

// The radio's last frequency readout and whether it was transmitting then.
struct FrequencyReading {
    double mhz = 0.0;
    bool transmitting = false;
};

// The radio on port B: the readouts, the specified Doppler rule and the
// methods around a sked frequency (transverter, split, the operator's dial,
// the held transmit frequency), and the radio's alarms. doppler.cfg's values
// are kept here and written here.
class RadioControl : public QObject
{
    Q_OBJECT

public:
    RadioControl(PortSession &port, StationContext &context, QObject *parent = nullptr);

    // The link while port B is open.
    void attach(TransceiverLink *transceiver);
    void detach();
    TransceiverLink *link() const { return m_transceiver; }

    // Port B in Auto and open: the radio is followed; and no longer.
    void start();
    void stop();
    void readout();
    // Each repetition's record.
    void step(const TrackingRecord &record);

    // A lost radio: what to take up again when it is back.
    void keepForResume();
    void resume();
    // Opened or closed by the operator: nothing of an earlier loss is taken up.
    void dropResume() { m_resume.reset(); }

    void setFrequencyTracking(bool on);
    void setShift(DopplerShift shift) { m_doppler.shift = shift; }
    // "PTT" is the operator's choice, kept in doppler.cfg and ticked again
    // whenever port B starts following the radio (at a restart too).
    void setPtt(bool on);
    // Transmitting as another program says (WSJT-X), taken only from a radio
    // that has not reported its own transmit state since it was attached.
    void setTransmittingHeard(bool on);
    // Keys the radio for another program: the transmit frequency is written
    // before the key goes down, the receive one after it comes up. False
    // when the link cannot key.
    bool key(bool on, const std::optional<TrackingRecord> &record);
    // Once a second: a key held past the transmit time limit is let go, with
    // an alarm. True when that changed anything shown.
    bool checkKeying();
    // The program whose "transmitting" the station heard is gone (closed, or
    // silent): a key the station holds is let go, with an alarm, and a
    // transmit state taken from it dropped.
    void keyerGone(const QString &why);
    bool keyHeld() const { return m_keyHeld; }
    // A client's dial (rigctl "F") under the radio's own frequency: taken once
    // it has stood for dialSettleMs, so that a dial set and set back at once
    // (WSJT-X's probe when it connects) moves nothing.
    void setClientDial(double hz);
    static constexpr int dialSettleMs = 1000;
    void resetShifts() { m_doppler.resetShifts(); }
    void tune(const QString &mhzText);
    std::optional<QString> tuneRefusal(double mhz) const;
    // False, with the reason in the log, for a sked the radio cannot take.
    bool setSettings(const DopplerSettings &settings);
    std::optional<QString> skedRefusal(const DopplerSettings &settings) const;

    const DopplerSettings &settings() const { return m_settings; }
    const DopplerControl &doppler() const { return m_doppler; }
    bool transmitting() const { return m_doppler.transmitting; }
    bool isRunning() const { return m_running; }
    bool isFrequencyKnown() const { return m_frequencyKnown; }
    std::optional<FrequencyReading> shownFrequency() const { return m_shownFrequency; }
    std::optional<SkyFrequencies> methodFrequencies() const { return m_methodSky; }
    bool isSplitActive() const { return m_split.active; }
    double dialOffsetHz() const { return m_dial.offsetHz; }
    QString trouble() const;

signals:
    void changed();

private:
    void methodStep(const TrackingRecord &record);
    void release(const QString &why);
    void retune(double hz, const QString &door, bool dial);
    void settled();
    void restartMethod();
    bool reaches(double radioHz) const;
    bool sendSplit(const SkyFrequencies &sky, bool transmitWritable);
    void leaveMethod();
    void endSplit();
    void watchDial(double mhz);
    void wroteForDial(double radioHz, bool receive);
    double recordAgeSeconds(const TrackingRecord &record) const;
    bool sendFrequency(double hz, const QString &refusal);
    void frequencyReceived(double mhz);
    void answered();
    void checkBand(const TrackingRecord &record);
    double dialToleranceHz() const;
    RadioFollowCheck::Verdict checkFollowing(double mhz);

    PortSession &m_port;
    StationContext &m_context;
    TransceiverLink *m_transceiver = nullptr;
    DopplerSettings m_settings;
    DopplerControl m_doppler;
    QTimer *m_readoutTimer;
    int m_unansweredReadouts = 0;
    bool m_running = false;
    bool m_frequencyKnown = false;
    bool m_statusReported = false;
    std::optional<FrequencyReading> m_shownFrequency;
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
    std::optional<quint32> m_heldTransmitHz;  // one VFO, held while transmitting
    std::optional<TrackingRecord> m_lastRecord;
    // A key the station holds for a client, since when by the station's clock
    // and by the monotonic one (whichever says longer counts).
    bool m_keyHeld = false;
    QDateTime m_keyedAt;
    QElapsedTimer m_keyedFor;
    // A dial or sked set lately waits here until it has stood for dialSettleMs.
    QTimer *m_settle;
    std::optional<double> m_clientDialHz;
    std::optional<double> m_skedInForceMHz;  // the sked the method keeps meanwhile
    // Taken up again when a lost radio is back.
    struct Resume {
        bool tracking = false;
        double workingMHz = 0.0;
        bool ptt = false;
        double dialOffsetHz = 0.0;  // the operator's tuning under a method
    };
    std::optional<Resume> m_resume;
};
