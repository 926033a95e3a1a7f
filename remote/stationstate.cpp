// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/stationstate.h"

#include "calibration/calibrator.h"
#include "linkedhamlib/hamlibmodels.h"
#include "links/showntext.h"
#include "station/dopplermethod.h"
#include "station/trackingcontrol.h"

#include <QJsonArray>

namespace remote {

namespace {

QJsonValue number(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue position(const std::optional<double> &azimuth, const std::optional<double> &elevation)
{
    if (!azimuth && !elevation)
        return QJsonValue::Null;
    return QJsonObject {{QStringLiteral("az"), number(azimuth)}, {QStringLiteral("el"), number(elevation)}};
}

QString shown(const QString &text)
{
    return shownText(text.toUtf8());
}

// The model Hamlib linked in drives on the port: "Yaesu FT-817".
QString hamlibModel(const TrackingControl &station, StationPort which)
{
    const NetworkSettings settings = station.networkSettings();
    const bool rotator = which == StationPort::A;
    return hamlibmodels::name(rotator, (rotator ? settings.hamlibRotator : settings.hamlibRadio).model);
}

QJsonObject port(const TrackingControl &station, StationPort which)
{
    const PortSession &record = station.portSession(which);
    return {{QStringLiteral("open"), record.open},
            {QStringLiteral("connecting"), record.connecting},
            {QStringLiteral("reconnecting"), station.isReconnecting(which)},
            {QStringLiteral("network"), record.network},
            {QStringLiteral("hamlib"), record.linked ? hamlibModel(station, which) : QString()},
            {QStringLiteral("auto"), record.automatic},
            {QStringLiteral("device"), shown(record.open || record.connecting ? record.target() : record.openedName)},
            {QStringLiteral("trouble"), station.trouble(which).mid(2)}};  // without its ", "
}

const char *targetKey(TrackingTarget target)
{
    switch (target) {
    case TrackingTarget::Moon:
        return "moon";
    case TrackingTarget::Sun:
        return "sun";
    case TrackingTarget::Source:
        return "source";
    }
    return "moon";
}

const char *alarmKey(Alarm alarm)
{
    switch (alarm) {
    case Alarm::RotatorSilent:
        return "rotatorSilent";
    case Alarm::RotatorRefused:
        return "rotatorRefused";
    case Alarm::RadioSilent:
        return "radioSilent";
    case Alarm::DataStale:
        return "dataStale";
    case Alarm::BelowHorizon:
        return "belowHorizon";
    case Alarm::RotatorUnreachable:
        return "rotatorUnreachable";
    case Alarm::RadioUnreachable:
        return "radioUnreachable";
    case Alarm::RadioNotFollowing:
        return "radioNotFollowing";
    case Alarm::BandMismatch:
        return "bandMismatch";
    case Alarm::SkedOutOfRange:
        return "skedOutOfRange";
    case Alarm::RotatorLimitsUnknown:
        return "rotatorLimitsUnknown";
    case Alarm::WsjtxSilent:
        return "wsjtxSilent";
    case Alarm::KeyReleased:
        return "keyReleased";
    case Alarm::RadioRangesUnknown:
        return "radioRangesUnknown";
    }
    return "";
}

QJsonObject wsjtx(const WsjtxFollow &follow, const QDateTime &now)
{
    const auto &heard = follow.heard();
    const bool spoke = follow.isListening() && heard.at.isValid();
    return {{QStringLiteral("follow"), follow.settings().follow},
            {QStringLiteral("listening"), follow.isListening()},
            {QStringLiteral("line"), follow.line(now)},
            {QStringLiteral("ageS"), spoke ? QJsonValue(double(heard.at.secsTo(now))) : QJsonValue(QJsonValue::Null)}};
}

QString methodKey(DopplerMethod method)
{
    for (const DopplerMethodName &name : dopplerMethodNames)
        if (name.method == method)
            return QString::fromLatin1(name.key);
    return {};
}

} // namespace

QJsonObject stationState(const TrackingControl &station, bool manualTerminal)
{
    const Pointing &pointing = station.pointing();
    const bool haveRecord = station.lastRecordTime().isValid();
    const TrackingRecord &record = station.lastRecord();

    QJsonArray alarms;
    for (int i = 0; i < alarmCount; ++i) {
        const auto alarm = Alarm(i);
        if (station.health().active(alarm))
            alarms.append(QJsonObject {{QStringLiteral("alarm"), QLatin1String(alarmKey(alarm))},
                                       {QStringLiteral("why"), shown(station.health().why(alarm))}});
    }

    QJsonArray available;
    for (const QString &name : station.ports())
        available.append(shown(name));

    const auto frequency = station.shownFrequency();
    const DopplerControl &doppler = station.doppler();
    const DopplerSettings settings = station.dopplerSettings();
    const auto sky = station.methodFrequencies();
    QJsonObject radio {
        {QStringLiteral("mhz"), frequency ? QJsonValue(frequency->mhz) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("transmitting"), frequency && frequency->transmitting},
        {QStringLiteral("known"), station.isFrequencyKnown()},
        {QStringLiteral("dopplerRunning"), station.isDopplerRunning()},
        {QStringLiteral("frequencyTracking"), doppler.tracking()},
        {QStringLiteral("workingMHz"), doppler.workingMHz()},
        {QStringLiteral("shift"), doppler.shift == DopplerShift::Dx ? QStringLiteral("dx") : QStringLiteral("home")},
        {QStringLiteral("ptt"), doppler.ptt},
        {QStringLiteral("method"), methodKey(settings.method)},
        {QStringLiteral("skedMHz"), settings.skedMHz},
        {QStringLiteral("transmitLimitS"), settings.transmitLimitSeconds},
        {QStringLiteral("split"), station.isSplitActive()},
        {QStringLiteral("receiveHz"), sky ? QJsonValue(sky->receiveHz) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("transmitHz"), sky ? QJsonValue(sky->transmitHz) : QJsonValue(QJsonValue::Null)},
    };

    QJsonValue data = QJsonValue::Null;
    if (haveRecord)
        data = QJsonObject {{QStringLiteral("az"), record.azimuth},
                            {QStringLiteral("el"), record.elevation},
                            {QStringLiteral("dopplerHome"), record.dopplerHome},
                            {QStringLiteral("dopplerDx"), record.dopplerDx},
                            {QStringLiteral("read"), station.lastRecordTime().toString(Qt::ISODate)},
                            {QStringLiteral("ageS"), double(station.dataAgeSeconds().value_or(0))}};

    return {
        {QStringLiteral("type"), QStringLiteral("state")},
        {QStringLiteral("version"), protocolVersion},
        {QStringLiteral("time"), station.now().toUTC().toString(Qt::ISODate)},
        {QStringLiteral("target"), QLatin1String(targetKey(station.target()))},
        {QStringLiteral("tracking"), station.isTrackingActive()},
        {QStringLiteral("record"), data},
        {QStringLiteral("commanded"), position(pointing.commandedAzimuth, pointing.commandedElevation)},
        {QStringLiteral("actual"), position(pointing.actualAzimuth, pointing.actualElevation)},
        {QStringLiteral("offsets"),
         QJsonObject {{QStringLiteral("az"), station.azimuthOffset()},
                      {QStringLiteral("el"), station.elevationOffset()}}},
        {QStringLiteral("parking"), QJsonObject {{QStringLiteral("az"), station.azimuthParking()},
                                                 {QStringLiteral("el"), station.elevationParking()},
                                                 {QStringLiteral("active"), station.steering().parkingActive()}}},
        {QStringLiteral("ports"), QJsonObject {{QStringLiteral("A"), port(station, StationPort::A)},
                                               {QStringLiteral("B"), port(station, StationPort::B)}}},
        {QStringLiteral("available"), available},
        {QStringLiteral("radio"), radio},
        {QStringLiteral("alarms"), alarms},
        {QStringLiteral("manualTerminal"), manualTerminal},
        {QStringLiteral("wsjtx"), wsjtx(station.wsjtx(), station.now())},
        {QStringLiteral("external"), station.externalAim() ? position(station.externalAim()->first,
                                                                       station.externalAim()->second)
                                                           : QJsonValue(QJsonValue::Null)},
    };
}

QJsonObject calibrationState(const Calibrator &calibrator)
{
    QJsonArray sources;
    for (const QString &name : calibrator.sourceNames())
        sources.append(shown(name));
    QJsonArray history;
    for (const QString &line : calibrator.history())
        history.append(shown(line));
    // The band the Y expected is worked out for: the run's while one runs.
    const CalibrationRun *run = calibrator.run();
    const Calibrator::Frequency frequency = run && calibrator.isRunning()
        ? Calibrator::Frequency {run->settings().station.frequencyMHz, run->settings().frequencyFrom}
        : calibrator.workingFrequency();
    QJsonObject state {{QStringLiteral("sources"), sources},
                       {QStringLiteral("running"), calibrator.isRunning()},
                       {QStringLiteral("canApply"), calibrator.canApply()},
                       {QStringLiteral("result"), calibrator.resultText()},
                       {QStringLiteral("history"), history},
                       {QStringLiteral("frequency"), QJsonObject {{QStringLiteral("mhz"), frequency.mhz},
                                                                  {QStringLiteral("from"), frequency.from}}}};
    if (!run)
        return state;
    const bool scan = run->settings().kind == CalibrationRun::Kind::CrossScan;
    QJsonArray points;
    for (const Calibrator::Point &point : calibrator.points())
        points.append(QJsonArray {point.cut, point.acrossDeg, point.level});
    state.insert(QStringLiteral("kind"), scan ? QStringLiteral("crossScan") : QStringLiteral("sunNoise"));
    state.insert(QStringLiteral("target"), QLatin1String(targetKey(run->settings().target)));
    state.insert(QStringLiteral("status"), run->status());
    state.insert(QStringLiteral("progress"), run->progress());
    state.insert(QStringLiteral("points"), points);
    if (run->succeeded() && scan)
        state.insert(QStringLiteral("found"), QJsonObject {{QStringLiteral("az"), run->scan().correction().azimuth},
                                                           {QStringLiteral("el"), run->scan().correction().elevation}});
    if (run->succeeded() && run->yFactor())
        state.insert(QStringLiteral("y"), QJsonObject {{QStringLiteral("db"), run->yFactor()->db},
                                                       {QStringLiteral("errorDb"), run->yFactor()->errorDb},
                                                       {QStringLiteral("expectedDb"), number(run->expectedYDb())}});
    return state;
}

} // namespace remote
