// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/calibrator.h"

#include "calibration/hamlibstrength.h"
#include "calibration/levelsource.h"
#include "ephemeris/radiosource.h"
#include "hamlib/hamliblinks.h"
#include "station/trackingcontrol.h"

#include <QFile>
#include <QMediaDevices>

#include <cmath>

namespace {

// The longest line of the history shown; calibration.csv is ours, but a
// file is read as anyone may have left it.
constexpr int shownLineLength = 200;

RigctldLink *hamlibRadio(const TrackingControl &station)
{
    return qobject_cast<RigctldLink *>(const_cast<TransceiverLink *>(station.transceiver()));
}

} // namespace

Calibrator::Calibrator(TrackingControl &station, QObject *parent)
    : QObject(parent)
    , m_station(station)
    , m_soundCards(SoundCardLevel::inputs())
{
    connect(new QMediaDevices(this), &QMediaDevices::audioInputsChanged, this,
            [this] { m_soundCards = SoundCardLevel::inputs(); });
    readHistory();
}

// The run goes first: it gives the antenna back and stops its source.
Calibrator::~Calibrator()
{
    m_run.reset();
}

void Calibrator::addLevelSource(LevelSource *source)
{
    m_extraSources.append(source);
}

QStringList Calibrator::sourceNames() const
{
    QStringList names;
    for (const QPointer<LevelSource> &source : m_extraSources)
        if (source)
            names.append(source->name());
    for (const SoundCardLevel::Input &input : m_soundCards)
        names.append(SoundCardLevel::nameOf(input.description));
    if (hamlibRadio(m_station))
        names.append(strengthName());
    return names;
}

LevelSource *Calibrator::sourceNamed(const QString &name)
{
    for (const QPointer<LevelSource> &source : m_extraSources)
        if (source && source->name() == name)
            return source;
    for (const SoundCardLevel::Input &input : m_soundCards)
        if (SoundCardLevel::nameOf(input.description) == name) {
            m_soundCard = std::make_unique<SoundCardLevel>(input);
            return m_soundCard.get();
        }
    RigctldLink *radio = hamlibRadio(m_station);
    if (name != strengthName() || !radio)
        return nullptr;
    m_strength = std::make_unique<HamlibStrength>(radio);
    return m_strength.get();
}

Calibrator::Frequency Calibrator::workingFrequency() const
{
    const DopplerSettings doppler = m_station.dopplerSettings();
    if (doppler.method != DopplerMethod::Specified)
        return {doppler.skedMHz, QStringLiteral("the sked frequency")};
    const double recorded = m_station.lastRecord().frequency;
    // A field the file could not give is read as 0.
    if (m_station.lastRecordTime().isValid() && std::isfinite(recorded) && recorded > 0)
        return {recorded, m_station.sourceSettings().builtIn ? QStringLiteral("the built-in sky's")
                                                              : QStringLiteral("the tracking file's")};
    if (const auto radio = m_station.shownFrequency(); radio && radio->mhz > 0)
        return {doppler.transverter.skyHz(radio->mhz * 1e6) / 1e6, QStringLiteral("the radio's")};
    return {m_station.sourceSettings().frequencyMHz, QStringLiteral("Tracking source...'s")};
}

QString Calibrator::frequencyText(const Frequency &frequency)
{
    return QStringLiteral("%1 MHz, %2").arg(frequency.mhz, 0, 'f', 3).arg(frequency.from);
}

bool Calibrator::start(const CalibrationRun::Settings &settings, const QString &sourceName, QString *why)
{
    if (isRunning()) {
        *why = QStringLiteral("a calibration is running");
        return false;
    }
    m_run.reset();  // the last one's antenna is back on target already
    LevelSource *source = sourceNamed(sourceName);
    if (!source) {
        *why = QStringLiteral("no level source named '%1' at the station").arg(sourceName.left(64));
        return false;
    }
    CalibrationRun::Settings run = settings;
    const Frequency frequency = workingFrequency();
    run.station.frequencyMHz = frequency.mhz;
    run.frequencyFrom = frequency.from;
    if (const auto radio = radiosource::fromText(m_station.sourceSettings().radioSource))
        run.sourceName = radio->name;
    const QDate today = m_station.now().date();
    run.year = today.year() + (today.dayOfYear() - 0.5) / today.daysInYear();
    m_run = std::make_unique<CalibrationRun>(m_station, *source, run);
    m_applied = false;
    connect(m_run.get(), &CalibrationRun::progressed, this, &Calibrator::progressed);
    m_points.clear();
    connect(m_run.get(), &CalibrationRun::levelHeard, this, [this](double across, double level) {
        if (m_points.size() < mostPoints)
            m_points.append({m_run->scan().cut(), across, level});
        emit levelHeard(across, level);
    });
    connect(m_run.get(), &CalibrationRun::finished, this, [this](bool ok) {
        if (ok)
            readHistory();
        emit finished(ok);
    });
    emit started();
    if (!m_run->start()) {
        *why = m_run->failure();
        emit progressed();
        return false;
    }
    return true;
}

void Calibrator::abort()
{
    if (m_run)
        m_run->abort();
}

bool Calibrator::canApply() const
{
    return !m_applied && m_run && m_run->succeeded() && m_run->settings().kind == CalibrationRun::Kind::CrossScan;
}

bool Calibrator::apply()
{
    if (!canApply())
        return false;
    const Direction found = m_run->scan().correction();
    m_station.addOffsets(found.azimuth, found.elevation);
    m_station.say(QStringLiteral("calibration applied: azimuth offset now %1, elevation offset now %2")
                      .arg(m_station.azimuthOffset(), 0, 'f', 2)
                      .arg(m_station.elevationOffset(), 0, 'f', 2));
    m_applied = true;
    emit progressed();
    return true;
}

QString Calibrator::resultText() const
{
    if (!m_run || !m_run->succeeded())
        return {};
    if (m_run->settings().kind == CalibrationRun::Kind::CrossScan) {
        const Direction found = m_run->scan().correction();
        return QStringLiteral("Offsets found: azimuth %1, elevation %2; beam %3° wide")
            .arg(crossscan::signedDegrees(found.azimuth), crossscan::signedDegrees(found.elevation))
            .arg(m_run->scan().fit(CutAxis::Elevation)->halfPowerWidthDeg, 0, 'f', 2);
    }
    const auto expected = m_run->expectedYDb();
    const CalibrationRun::Settings &settings = m_run->settings();
    return QStringLiteral("Y = %1 ± %2 dB%3")
        .arg(m_run->yFactor()->db, 0, 'f', 2)
        .arg(m_run->yFactor()->errorDb, 0, 'f', 2)
        .arg(expected ? QStringLiteral(", %1 dB expected at %2")
                            .arg(*expected, 0, 'f', 1)
                            .arg(frequencyText({settings.station.frequencyMHz, settings.frequencyFrom}))
                      : QString());
}

// The newest first; only the file's last 64 kB are read, and a line cut
// short or not of our columns is passed over.
void Calibrator::readHistory()
{
    QStringList history;
    QFile file(CalibrationRun::defaultPath());
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        constexpr qint64 tail = 64 * 1024;
        if (file.size() > tail)
            file.seek(file.size() - tail);
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (qsizetype i = lines.size() - 1; i >= 0 && history.size() < historyLines; --i) {
            const QStringList f = lines.at(i).split(QLatin1Char(','));
            // A header, of this version or an older one, is no calibration.
            if (f.size() < 12 || f.at(0) == QLatin1String("time (UTC)"))
                continue;
            const bool scan = f.at(2) == QLatin1String("cross-scan");
            const QString what = scan ? QStringLiteral("offsets %1/%2°, beam %3°").arg(f.at(7), f.at(8), f.at(10))
                                      : QStringLiteral("Y %1 ± %2 dB").arg(f.at(4), f.at(5));
            // The column of where the frequency came from is newer than the file may be.
            const QString from = f.size() > 12 && !f.at(12).isEmpty() ? QStringLiteral(", ") + f.at(12) : QString();
            history.append(QStringLiteral("%1  %2 %3 at %4 MHz%5: %6")
                               .arg(f.at(0), f.at(1), scan ? f.at(2) : QStringLiteral("noise"), f.at(3), from, what)
                               .left(shownLineLength));
        }
    }
    if (history != m_history) {
        m_history = history;
        emit historyChanged();
    }
}
