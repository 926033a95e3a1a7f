// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/radiocontrol.h"

#include "links/showntext.h"
#include "transceiver/catframes.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

RadioControl::RadioControl(PortSession &port, StationContext &context, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_context(context)
    , m_settings(DopplerSettings::read())
    , m_readoutTimer(new QTimer(this))
    , m_settle(new QTimer(this))
{
    m_readoutTimer->setObjectName(QStringLiteral("readoutTimer"));
    connect(m_readoutTimer, &QTimer::timeout, this, &RadioControl::readout);
    m_settle->setSingleShot(true);
    m_settle->setInterval(dialSettleMs);
    connect(m_settle, &QTimer::timeout, this, &RadioControl::settled);
}

// ---- the link ------------------------------------------------------------------

namespace {

// Why no frequency may go yet: none is known to be one the radio takes.
QString rangesUnknownText()
{
    return QStringLiteral("the radio's ranges are not known yet");
}

} // namespace

void RadioControl::attach(TransceiverLink *transceiver)
{
    m_transceiver = transceiver;
    m_statusReported = false;
    connect(transceiver, &TransceiverLink::frequencyReceived, this, &RadioControl::frequencyReceived);
    connect(transceiver, &TransceiverLink::statusReceived, this, [this](bool transmitting) {
        m_statusReported = true;
        m_doppler.transmitting = transmitting;
        answered();
    });
    connect(transceiver, &TransceiverLink::answered, this, &RadioControl::answered);
    connect(transceiver, &TransceiverLink::rangesChanged, this, [this] {
        const QString problem = m_transceiver ? m_transceiver->rangesProblem() : QString();
        if (problem.isEmpty() ? m_context.health.clear(Alarm::RadioRangesUnknown)
                              : m_context.health.raise(Alarm::RadioRangesUnknown, problem))
            emit changed();
    });
    connect(transceiver, &DeviceLink::received, this, [this](const QByteArray &bytes) {
        m_context.log(QStringLiteral("Port B data received (%1 bytes): %2")
                          .arg(QString::number(bytes.size()), shownText(bytes)));
    });
}

void RadioControl::detach()
{
    if (m_transceiver)
        m_transceiver->disconnect(this);
    // A radio left in split would transmit where nobody listens once
    // the station is gone: the link's close puts it back to one VFO, once.
    m_split = Split();
    m_transceiver = nullptr;
    m_keyHeld = false;
    m_clientDialHz.reset();
    m_context.health.clear(Alarm::KeyReleased, false);
    m_context.health.clear(Alarm::RadioSilent, false);
    m_context.health.clear(Alarm::RadioRangesUnknown, false);
    m_unansweredReadouts = 0;
}

void RadioControl::setTransmittingHeard(bool on)
{
    if (m_statusReported || m_doppler.transmitting == on)
        return;
    m_doppler.transmitting = on;
    emit changed();
}

bool RadioControl::key(bool on, const std::optional<TrackingRecord> &record)
{
    if (!m_transceiver || !m_transceiver->canKey())
        return false;
    const bool method = m_port.automatic && record && m_settings.method != DopplerMethod::Specified;
    if (!on)
        m_transceiver->setPtt(false);
    m_doppler.transmitting = on;
    if (method)
        methodStep(*record);
    if (on)
        m_transceiver->setPtt(true);
    if (on && !m_keyHeld) {
        m_keyedAt = m_context.now();
        m_keyedFor.start();
        m_context.health.clear(Alarm::KeyReleased);
    }
    m_keyHeld = on;
    emit changed();
    return true;
}

bool RadioControl::checkKeying()
{
    const int limit = m_settings.transmitLimitSeconds;
    if (!m_keyHeld || limit <= 0)
        return false;
    // The station's clock may be a demo's or a test's; the monotonic one
    // still counts when the wall clock is set back.
    const qint64 heldMs = qMax(m_keyedFor.elapsed(), m_keyedAt.msecsTo(m_context.now()));
    if (heldMs < limit * 1000LL)
        return false;
    release(QStringLiteral("transmitting for %1 s, the transmit time limit").arg(heldMs / 1000));
    return true;
}

void RadioControl::keyerGone(const QString &why)
{
    if (m_keyHeld) {
        release(why);
    } else if (!m_statusReported && m_doppler.transmitting) {
        m_doppler.transmitting = false;
        m_context.log(why + QStringLiteral(": the radio taken as receiving"));
        emit changed();
    }
}

// The radio unkeyed by the station itself, said once as an alarm.
void RadioControl::release(const QString &why)
{
    if (!m_keyHeld || !key(false, m_lastRecord)) {
        m_keyHeld = false;
        return;
    }
    m_context.health.clear(Alarm::KeyReleased, false);  // each release is said
    m_context.health.raise(Alarm::KeyReleased, why + QStringLiteral(": the radio unkeyed"));
    emit changed();
}

void RadioControl::start()
{
    m_running = true;
    m_doppler.stop();
    m_doppler.ptt = m_settings.ptt;
    if (m_transceiver)
        m_transceiver->requestFrequency();
    m_readoutTimer->start(messageDelayMs(m_context.times.messageDelay));
}

void RadioControl::stop()
{
    m_readoutTimer->stop();
    m_follow.reset();
    m_context.health.clear(Alarm::RadioNotFollowing, false);
    m_running = false;
    m_frequencyKnown = false;
    m_shownFrequency.reset();
    m_doppler.stop();
    m_methodSky.reset();
    leaveMethod();
}

// Out of split, and nothing of the method's dial or held transmit frequency
// carried into the next time it engages.
void RadioControl::leaveMethod()
{
    endSplit();
    m_dial = Dial();
    m_heldTransmitHz.reset();
}

void RadioControl::keepForResume()
{
    m_resume = Resume {m_doppler.tracking(), m_doppler.workingMHz(), m_doppler.ptt, m_dial.offsetHz};
}

// Back where it was: the frequency tracking resumes on the same working frequency.
void RadioControl::resume()
{
    const auto kept = std::exchange(m_resume, std::nullopt);
    if (!kept || !kept->tracking || !m_running)
        return;
    m_doppler.resume(kept->workingMHz, kept->ptt);
    m_dial.offsetHz = kept->dialOffsetHz;
    m_frequencyKnown = true;
}

void RadioControl::setPtt(bool on)
{
    m_doppler.ptt = on;
    if (m_settings.ptt == on)
        return;
    m_settings.ptt = on;
    if (!m_settings.write())
        m_context.log(QStringLiteral("%1 cannot be written").arg(DopplerSettings::defaultPath()));
}

bool RadioControl::setSettings(const DopplerSettings &incoming)
{
    // "PTT" is not the method dialog's: it keeps what the operator ticked.
    DopplerSettings settings = incoming;
    settings.ptt = m_settings.ptt;
    DopplerSettings unlimited = settings;
    unlimited.transmitLimitSeconds = m_settings.transmitLimitSeconds;
    const bool onlyLimit = unlimited == m_settings;
    unlimited.skedMHz = m_settings.skedMHz;
    const bool onlySked = unlimited == m_settings;
    if (const auto refusal = onlyLimit ? std::nullopt : skedRefusal(settings)) {
        m_context.log(*refusal);
        return false;
    }
    const double skedBefore = m_skedInForceMHz.value_or(m_settings.skedMHz);
    m_settings = settings;
    if (!m_settings.write())
        m_context.log(QStringLiteral("%1 cannot be written").arg(DopplerSettings::defaultPath()));
    if (onlyLimit)
        return true;
    m_context.health.clear(Alarm::SkedOutOfRange, false);
    // A new sked while the method works waits until it stood: a client that
    // sets its dial and sets it back at once moves nothing.
    if (onlySked && m_methodSky && settings.method != DopplerMethod::Specified) {
        if (settings.skedMHz == skedBefore) {
            m_skedInForceMHz.reset();
        } else {
            m_skedInForceMHz = skedBefore;
            m_settle->start();
        }
        return true;
    }
    m_skedInForceMHz.reset();
    if (!settings.split || settings.method == DopplerMethod::Specified)
        endSplit();
    const double offset = m_dial.offsetHz;
    restartMethod();
    if (settings.skedMHz == skedBefore)
        m_dial.offsetHz = offset;  // the operator's tuning was an offset to this sked
    return true;
}

// Nothing of the method's last frequencies carried into the next step.
void RadioControl::restartMethod()
{
    m_methodSky.reset();
    m_heldTransmitHz.reset();
    // What was written before is no guide to the next readout.
    m_dial = Dial();
}

void RadioControl::setClientDial(double hz)
{
    m_clientDialHz = hz;
    m_settle->start();
}

// A dial or sked that stood: it reaches the radio now rather than at the next repetition.
void RadioControl::settled()
{
    if (m_skedInForceMHz) {
        m_skedInForceMHz.reset();
        restartMethod();
        if (m_port.automatic && m_lastRecord && m_settings.method != DopplerMethod::Specified)
            methodStep(*m_lastRecord);
    }
    if (const auto hz = std::exchange(m_clientDialHz, std::nullopt); hz && m_transceiver) {
        // Set back where it was: nothing to write, nothing to say.
        bool unmoved = false;
        if (m_doppler.tracking() && m_settings.method == DopplerMethod::Specified)
            unmoved = std::fabs(*hz - m_doppler.workingMHz() * 1e6) < 1;
        else if (m_shownFrequency)
            unmoved = std::fabs(*hz - m_shownFrequency->mhz * 1e6) < m_transceiver->tuningStepHz() / 2;
        if (!unmoved)
            retune(*hz, QStringLiteral("a rigctl client"), true);
    }
    emit changed();
}

QString RadioControl::trouble() const
{
    return m_context.health.active(Alarm::RadioSilent) ? QStringLiteral(", not answering") : QString();
}

// ---- readouts and the Doppler rule ---------------------------------------------

void RadioControl::readout()
{
    m_context.debug(QStringLiteral("--readout timer expired"));
    if (!m_transceiver)
        return;
    if (m_unansweredReadouts >= 3 && m_context.health.raise(Alarm::RadioSilent,
                                                   QStringLiteral("radio not answering: %1 readouts without an answer")
                                                       .arg(m_unansweredReadouts)))
        emit changed();
    // Only readouts that reached the radio count: a daemon's link asks at
    // its own pace, slower than this timer.
    if (m_transceiver->requestReadout()) {
        ++m_unansweredReadouts;
        m_follow.asked();
    }
}

void RadioControl::answered()
{
    m_unansweredReadouts = 0;
    if (m_context.health.clear(Alarm::RadioSilent))
        emit changed();
}

void RadioControl::frequencyReceived(double mhz)
{
    answered();
    m_context.health.success(StationHealth::Source::Radio);
    // A readout that shows what the last one showed is no news to the views,
    // five times a second.
    const bool news = !m_shownFrequency || m_shownFrequency->mhz != mhz
        || m_shownFrequency->transmitting != m_doppler.transmitting || !m_frequencyKnown;
    m_shownFrequency = FrequencyReading {mhz, m_doppler.transmitting};
    const double offset = m_dial.offsetHz;
    const RadioFollowCheck::Verdict verdict = checkFollowing(mhz);
    if (!m_doppler.tracking()) {
        m_doppler.frequencyRead(mhz);
        m_frequencyKnown = true;
    } else if (verdict != RadioFollowCheck::Verdict::NotFollowing) {
        watchDial(mhz);
    }
    if (news || m_dial.offsetHz != offset)
        emit changed();
}

// How far a readout may be from what was written and still be the radio's
// own rounding of it: a radio that rounds to a coarser step than it says
// must not look tuned elsewhere. Never less than 25 Hz.
double RadioControl::dialToleranceHz() const
{
    constexpr double dialSteps = 3;
    constexpr double leastTuneHz = 25;
    return qMax(leastTuneHz, dialSteps * (m_transceiver ? m_transceiver->tuningStepHz() : 10.0));
}

// A radio that answers but stays where it was (a daemon that says "RPRT 0"
// to every "F" of a radio it cannot set) would drift off unseen.
RadioFollowCheck::Verdict RadioControl::checkFollowing(double mhz)
{
    if (!std::isfinite(mhz))
        return RadioFollowCheck::Verdict::Unknown;
    const double readHz = std::round(mhz * 1e6);
    const auto verdict = m_follow.read(readHz, dialToleranceHz());
    // In split the readout may show the other VFO while transmitting.
    if (m_split.active && m_doppler.transmitting)
        return RadioFollowCheck::Verdict::Unknown;
    if (verdict == RadioFollowCheck::Verdict::Following) {
        if (m_context.health.clear(Alarm::RadioNotFollowing))
            emit changed();
    } else if (verdict == RadioFollowCheck::Verdict::NotFollowing && m_follow.behindReadouts() >= 2) {
        if (m_context.health.raise(Alarm::RadioNotFollowing,
                           QStringLiteral("radio not following: it stays on %1 MHz, %2 MHz was written")
                               .arg(readHz / 1e6, 0, 'f', 6)
                               .arg(m_follow.lastWrittenHz().value_or(0) / 1e6, 0, 'f', 6)))
            emit changed();
    }
    return verdict;
}

void RadioControl::setFrequencyTracking(bool on)
{
    m_doppler.setTracking(on);
    if (!on)
        leaveMethod();
    emit changed();
}

// False when the frequency cannot be sent; the refusal is logged unless empty.
bool RadioControl::sendFrequency(double hz, const QString &refusal)
{
    // Truncated toward zero; a value the frame cannot carry must never be sent
    // (the 32-bit conversion would wrap it to some other frequency).
    const double truncated = std::trunc(hz);
    const bool finite = std::isfinite(truncated) && std::fabs(truncated) < 1e15;
    const bool fits = finite && reaches(truncated) && (m_transceiver || cat::frameCanCarry(qint64(truncated)));
    if (!fits) {
        if (!refusal.isEmpty())
            m_context.log(refusal);
        return false;
    }
    if (m_transceiver) {
        m_transceiver->setFrequency(quint32(qint64(truncated)));
        m_follow.written(truncated);
    }
    return true;
}

void RadioControl::step(const TrackingRecord &record)
{
    m_lastRecord = record;
    if (!m_port.automatic)
        return;
    if (m_settings.method != DopplerMethod::Specified) {
        methodStep(record);
        return;
    }
    checkBand(record);
    if (const auto hz = m_doppler.correctedHz(record)) {
        if (sendFrequency(*hz, QString()))
            m_context.health.success(StationHealth::Source::Tuning);
        else
            m_context.health.error(StationHealth::Source::Tuning, m_transceiver && !m_transceiver->rangesKnown()
                                                                     ? rangesUnknownText()
                                                                     : QStringLiteral("frequency out of range"));
    }
    m_context.debug(QStringLiteral("--frequency = %1; doppler Home = %2; doppler Dx = %3")
                 .arg(m_doppler.workingMHz())
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    m_doppler.recordShifts(record);
}

// A method around the sked frequency, engaged by "Track frequency": the
// receive frequency while the radio receives, the transmit one while it
// transmits, or both at once on a radio that splits.
void RadioControl::methodStep(const TrackingRecord &record)
{
    if (!m_doppler.tracking()) {
        m_methodSky.reset();
        leaveMethod();
        return;
    }
    const DopplerSettings &settings = m_settings;
    m_context.health.clear(Alarm::BandMismatch, false);  // the method scales the shifts to the sked
    const double skedMHz = m_skedInForceMHz.value_or(settings.skedMHz);
    const double skedHz = skedMHz * 1e6 + m_dial.offsetHz;
    const double age = recordAgeSeconds(record);
    const double scale = bandScale(skedMHz * 1e6, record.frequency);
    const auto skyIn = [&](double seconds) {
        const Shifts shifts = shiftsAhead(record.dopplerHome, record.dopplerHomeRate, record.dopplerDx,
                                          record.relativeSpeed, age + seconds);
        return ::methodFrequencies(settings.method, skedHz, shifts.selfHz * scale, shifts.dxHz * scale);
    };
    // Meant for the middle of the time until the next repetition writes
    // again: the error swings as far either side rather than all one way.
    SkyFrequencies sky = skyIn(repetitionMs(m_context.times.repetitionTime) / 2000.0);
    const bool split = settings.split && m_transceiver && m_transceiver->canSplit();
    const bool transmitting = m_doppler.transmitting;
    if (settings.holdTransmit) {
        const double secondsOfDay = m_context.now().time().msecsSinceStartOfDay() / 1000.0;
        // On one VFO the period under way, once the key is down; with split
        // the coming one, written while receiving.
        sky.transmitHz
            = skyIn(secondsToTransmitMiddle(secondsOfDay, settings.transmitPeriodSeconds, transmitting && !split))
                  .transmitHz;
    }
    const bool engaging = !m_methodSky;
    m_methodSky = sky;
    const Transverter &transverter = settings.transverter;
    if (engaging) {
        const auto mhz = [](double hz) { return QString::number(hz / 1e6, 'f', 6); };
        QString line = QStringLiteral("Doppler method %1: sked %2 MHz, receive %3 MHz, transmit %4 MHz")
                           .arg(QLatin1String(dopplerMethodName(settings.method)), mhz(skedHz), mhz(sky.receiveHz),
                                mhz(sky.transmitHz));
        const auto receiveIf = transverter.radioHz(sky.receiveHz);
        const auto transmitIf = transverter.radioHz(sky.transmitHz);
        if (transverter.on && receiveIf && transmitIf)
            line += QStringLiteral(" (IF %1 and %2 MHz)").arg(mhz(*receiveIf), mhz(*transmitIf));
        if (split)
            line += QStringLiteral(", split");
        m_context.log(line);
    }
    bool sent = false;
    if (split) {
        sent = sendSplit(sky, !(settings.holdTransmit && transmitting));
    } else {
        endSplit();
        // To the nearest hertz: the sked frequency is typed to 1 Hz, the shifts are finer.
        const auto radioHz = transverter.radioHz(transmitting ? sky.transmitHz : sky.receiveHz);
        // Zero stands for none: no radio frequency is 0 Hz.
        const quint32 hz = radioHz ? quint32(qBound(0.0, std::round(*radioHz), 4294967295.0)) : 0;
        if (!transmitting)
            m_heldTransmitHz.reset();
        // A dial found moved is confirmed or refuted by the next readout; a
        // radio that stops answering does not hold the station for long.
        constexpr qint64 longestHoldMs = 5000;
        const bool dialMoved = !transmitting && m_dial.candidateHz && m_dial.candidateSince.isValid()
            && m_dial.candidateSince.elapsed() < longestHoldMs;
        const bool alreadyThere = !transmitting && hz && m_dial.takenHz
            && std::fabs(double(hz) - *m_dial.takenHz) < qMax(1.0, m_transceiver ? m_transceiver->tuningStepHz() : 1.0);
        if (!alreadyThere)
            m_dial.takenHz.reset();
        if (dialMoved || alreadyThere) {
            // Where the operator's hand left it: a write now would only race
            // a next turn of the dial.
            sent = true;
        } else if (transmitting && settings.holdTransmit && m_heldTransmitHz) {
            sent = true;  // this period's frequency went out when the key went down
        } else if (!transmitting && settings.method == DopplerMethod::CallDx && hz && m_dial.receiveHz
                   && *m_dial.receiveHz == hz && m_dial.written.back() == hz) {
            sent = true;  // the operator's own receive frequency: not written over again
        } else {
            // The unbounded value: one the link cannot carry is refused, never clamped.
            sent = radioHz && sendFrequency(std::round(*radioHz), QString());
            if (sent) {
                wroteForDial(hz, !transmitting);
                if (transmitting && settings.holdTransmit)
                    m_heldTransmitHz = hz;
            }
        }
    }
    if (sent) {
        m_context.health.success(StationHealth::Source::Tuning);
        m_context.health.clear(Alarm::SkedOutOfRange);
    } else if (m_transceiver && !m_transceiver->rangesKnown()) {
        // Not checked against ranges never read: held until they are.
        m_context.health.error(StationHealth::Source::Tuning, rangesUnknownText());
    } else {
        m_context.health.error(StationHealth::Source::Tuning, QStringLiteral("frequency out of range"));
        // Learned only now (a daemon's ranges): the radio stays where it was.
        m_context.health.raise(Alarm::SkedOutOfRange, skedRefusal(settings).value_or(QStringLiteral("frequency out of range")));
    }
    m_context.debug(QStringLiteral("--receive = %1 Hz; transmit = %2 Hz; doppler Home = %3; doppler Dx = %4")
                 .arg(sky.receiveHz, 0, 'f', 0)
                 .arg(sky.transmitHz, 0, 'f', 0)
                 .arg(record.dopplerHome)
                 .arg(record.dopplerDx));
    m_doppler.recordShifts(record);
}

// How long ago the record's shifts were right: a file says the second it was
// written for; the built-in sky is of this moment. A time that makes no sense
// against the clock (another day, a clock far off) counts as now.
double RadioControl::recordAgeSeconds(const TrackingRecord &record) const
{
    if (!record.fileTime)
        return 0;
    // Carried forward at most this far: a record older still is held there
    // rather than dropped, which would step the frequency back by rate × age.
    constexpr double furthestSeconds = 30;
    const double age = msBehind(*record.fileTime, m_context.now().time()) / 1000.0;
    return age >= 0 ? qMin(age, furthestSeconds) : 0;
}

// The specified rule adds the file's shift to the radio's own frequency as
// it is; shifts for another band are only said, never scaled.
void RadioControl::checkBand(const TrackingRecord &record)
{
    if (!m_doppler.tracking() || !(record.frequency > 0) || !std::isfinite(record.frequency)) {
        m_context.health.clear(Alarm::BandMismatch, false);
        return;
    }
    const double radioMHz = m_settings.transverter.skyHz(m_doppler.workingMHz() * 1e6) / 1e6;
    if (std::fabs(record.frequency - radioMHz) <= 0.01 * radioMHz) {
        m_context.health.clear(Alarm::BandMismatch);
        return;
    }
    m_context.health.raise(Alarm::BandMismatch,
                   QStringLiteral("tracking data for %1 MHz, radio on %2 MHz: its Doppler shifts are for another band")
                       .arg(record.frequency, 0, 'f', 3)
                       .arg(radioMHz, 0, 'f', 3));
}

// Why the radio cannot be on the sked's frequency; nothing while it can.
// With no radio open, what no radio reaches is refused.
std::optional<QString> RadioControl::skedRefusal(const DopplerSettings &settings) const
{
    if (settings.method == DopplerMethod::Specified)
        return std::nullopt;
    if (m_transceiver && !m_transceiver->rangesKnown())
        return rangesUnknownText();
    // The same check for every door the sked comes through, with or without a radio open.
    const auto radioHz = settings.transverter.radioHz(settings.skedMHz * 1e6);
    if (radioHz && reaches(std::round(*radioHz)))
        return std::nullopt;
    return QStringLiteral("the radio cannot be set to %1 MHz for the sked frequency %2 MHz")
        .arg((radioHz ? *radioHz : 0) / 1e6, 0, 'f', 6)
        .arg(settings.skedMHz, 0, 'f', 6);
}

// A frequency written to the VFO the readout shows, kept to know the
// station's own from the operator's.
void RadioControl::wroteForDial(double radioHz, bool receive)
{
    m_dial.written.push_back(radioHz);
    while (m_dial.written.size() > 4)
        m_dial.written.pop_front();
    if (receive)
        m_dial.receiveHz = radioHz;
}

// A readout while receiving that is more than a few steps from everything
// written lately is the operator's hand on the dial: the station follows it
// from then on instead of turning it back.
void RadioControl::watchDial(double mhz)
{
    if (m_settings.method == DopplerMethod::Specified || !m_methodSky || m_doppler.transmitting
        || !m_transceiver || !m_dial.receiveHz || !std::isfinite(mhz))
        return;
    const double readHz = std::round(mhz * 1e6);
    const double tolerance = dialToleranceHz();
    for (double hz : m_dial.written)
        if (std::fabs(readHz - hz) <= tolerance) {
            m_dial.candidateHz.reset();
            return;
        }
    // A readout asked for before the last write may still show the frequency
    // before it: only a second one alike is taken. Writes wait meanwhile, or
    // the next repetition would turn the dial back before it is confirmed.
    if (!m_dial.candidateHz || std::fabs(*m_dial.candidateHz - readHz) > tolerance) {
        m_dial.candidateHz = readHz;
        m_dial.candidateSince.start();
        // From where the radio showed itself, not from the unrounded value
        // written: +500 Hz on a 10 Hz radio is +500, whatever was written.
        const auto before = m_follow.previousReadHz();
        m_dial.candidateFromHz
            = before && std::fabs(*before - *m_dial.receiveHz) <= tolerance ? *before : *m_dial.receiveHz;
        return;
    }
    const Transverter &transverter = m_settings.transverter;
    const double tunedHz = transverter.skyHz(readHz) - transverter.skyHz(m_dial.candidateFromHz);
    m_dial.offsetHz += tunedHz;
    m_dial.candidateHz.reset();
    m_dial.takenHz = readHz;
    wroteForDial(readHz, true);
    m_context.log(QStringLiteral("Frequency tuned by hand %1%2 Hz: kept as an offset of %3%4 Hz to the sked frequency")
                   .arg(tunedHz >= 0 ? QStringLiteral("+") : QString())
                   .arg(tunedHz, 0, 'f', 0)
                   .arg(m_dial.offsetHz >= 0 ? QStringLiteral("+") : QString())
                   .arg(m_dial.offsetHz, 0, 'f', 0));
}

bool RadioControl::sendSplit(const SkyFrequencies &sky, bool transmitWritable)
{
    const Transverter &transverter = m_settings.transverter;
    const auto receive = transverter.radioHz(sky.receiveHz);
    const auto transmit = transverter.radioHz(sky.transmitHz);
    if (!receive || !transmit || !reaches(std::round(*receive)) || !reaches(std::round(*transmit)))
        return false;
    if (!m_split.active) {
        m_transceiver->setSplit(true);
        m_split = Split();
        m_split.active = true;
    }
    const double step = m_transceiver->tuningStepHz();
    // Written when it moved by a step, and not more than once a second.
    const auto due = [step](std::optional<quint32> last, const QElapsedTimer &written, quint32 hz) {
        return !last || (std::fabs(double(hz) - double(*last)) >= step && written.elapsed() >= 1000);
    };
    const auto receiveHz = quint32(std::round(*receive));
    const auto transmitHz = quint32(std::round(*transmit));
    if (due(m_split.receiveHz, m_split.receiveWritten, receiveHz)) {
        m_transceiver->setFrequency(receiveHz);
        m_follow.written(receiveHz);
        m_split.receiveHz = receiveHz;
        m_split.receiveWritten.start();
        wroteForDial(receiveHz, true);
    }
    if (transmitWritable && due(m_split.transmitHz, m_split.transmitWritten, transmitHz)) {
        m_transceiver->setTransmitFrequency(transmitHz);
        m_split.transmitHz = transmitHz;
        m_split.transmitWritten.start();
    }
    return true;
}

// Back to one VFO, for the specified rule or a method without split.
void RadioControl::endSplit()
{
    if (!m_split.active)
        return;
    if (m_transceiver)
        m_transceiver->setSplit(false);
    m_split = Split();
}

void RadioControl::tune(const QString &mhzText)
{
    bool ok = false;
    const double mhz = mhzText.toDouble(&ok);
    if (!ok || (m_transceiver && tuneRefusal(mhz))) {
        m_context.log(QStringLiteral("Frequency error"));
        return;
    }
    retune(mhz * 1000000.0, QStringLiteral("tune"), false);
}

// A frequency set through a door: while the radio's own frequency is
// tracked it becomes the one tracked from, or the next repetition would
// take the radio back. A tune puts the radio there, as ticking "Track
// frequency" on it would; a client's dial is Doppler-free, as its "f" reads
// the working frequency, and the radio goes there with the shift.
void RadioControl::retune(double hz, const QString &door, bool dial)
{
    if (!m_doppler.tracking() || m_settings.method != DopplerMethod::Specified) {
        sendFrequency(hz, QStringLiteral("Frequency error"));
        return;
    }
    if (tuneRefusal(hz / 1e6)) {
        m_context.log(QStringLiteral("Frequency error"));
        return;
    }
    const double shiftHz = m_doppler.lastShiftHz();
    const double radioHz = dial ? std::round(hz) + shiftHz : std::round(hz);
    const double before = m_doppler.workingMHz();
    m_doppler.setWorking(dial ? std::round(hz) / 1e6 : (radioHz - shiftHz) / 1e6);
    if (!sendFrequency(radioHz, QStringLiteral("Frequency error"))) {
        m_doppler.setWorking(before);
        return;
    }
    m_context.log(QStringLiteral("%1 MHz set by %2: Track frequency follows from there")
                      .arg(std::round(hz) / 1e6, 0, 'f', 6)
                      .arg(door));
    emit changed();
}

// Whether the radio reaches a frequency: within one of its ranges (100 kHz
// up to what a 32-bit frequency holds with no radio open) and one its link
// can carry.
bool RadioControl::reaches(double radioHz) const
{
    if (!std::isfinite(radioHz) || std::fabs(radioHz) >= 1e15)
        return false;
    const auto ranges = m_transceiver ? m_transceiver->frequencyRanges()
                                      : QList<std::pair<double, double>> {{100e3, 4294967295.0}};
    return std::any_of(ranges.begin(), ranges.end(),
                       [radioHz](const auto &range) { return radioHz >= range.first && radioHz <= range.second; })
        && (!m_transceiver || m_transceiver->canCarry(qint64(radioHz)));
}

// Why the radio cannot be tuned there; nothing when it can.
std::optional<QString> RadioControl::tuneRefusal(double mhz) const
{
    if (!m_transceiver)
        return QStringLiteral("port B is not open");
    if (!m_transceiver->rangesKnown())
        return rangesUnknownText();
    // Below the long-wave band no radio of a station tunes; a 5-byte frame
    // would carry it as 0 Hz.
    constexpr double lowestHz = 100000;
    const double hz = std::trunc(mhz * 1e6);
    if (!std::isfinite(hz) || hz < lowestHz || hz > 4294967295.0 || !reaches(hz))
        return QStringLiteral("the radio cannot be set to %1 MHz").arg(mhz, 0, 'f', 6);
    return std::nullopt;
}
