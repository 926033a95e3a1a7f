// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/stationpanel.h"

#include "calibration/calibrator.h"
#include "ephemeris/locator.h"
#include "station/trackingcontrol.h"
#include "ui/calibrationdialog.h"
#include "ui/dopplermethoddialog.h"
#include "ui/rotatorgeometrydialog.h"
#include "ui/sourcedialog.h"
#include "ui_StationPanel.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

QString degrees(double value)
{
    return QString::number(value, 'f', 2);
}

QString utcText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm")) : QStringLiteral("now");
}

// Angles the other way round the circle count as the shorter way.
double angleBetween(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

} // namespace

StationPanel::StationPanel(TrackingControl &station, QWidget *parent)
    : QWidget(parent)
    , m_station(station)
    , m_ui(new Ui::StationPanelClass)
{
    m_ui->setupUi(this);
    m_ui->checkReconnect->setChecked(station.autoReconnect());
    connect(m_ui->checkReconnect, &QCheckBox::toggled, &station, &TrackingControl::setAutoReconnect);
    m_ui->checkFollowWsjtx->setChecked(station.wsjtx().settings().follow);
    connect(m_ui->checkFollowWsjtx, &QCheckBox::toggled, &station, &TrackingControl::setFollowWsjtx);
    for (QCheckBox *box : {m_ui->checkRigServer, m_ui->checkRotServer}) {
        const bool rig = box == m_ui->checkRigServer;
        box->setChecked(rig ? station.serverSettings().rigServer : station.serverSettings().rotServer);
        connect(box, &QCheckBox::toggled, &station, [&station, rig](bool on) {
            ServerSettings settings = station.serverSettings();
            (rig ? settings.rigServer : settings.rotServer) = on;
            station.setServerSettings(settings);
        });
    }
    m_sourceDialog = new SourceDialog(this);
    connect(m_ui->buttonSource, &QPushButton::clicked, this,
            [this] { m_sourceDialog->show(m_station.sourceSettings()); });
    connect(m_sourceDialog, &SourceDialog::sourceConfirmed, &station, &TrackingControl::setSource);
    m_methodDialog = new DopplerMethodDialog(this);
    m_methodDialog->setCheck([&station](const DopplerSettings &settings) { return station.skedRefusal(settings); });
    connect(m_ui->buttonDopplerMethod, &QPushButton::clicked, this, [this] {
        m_methodDialog->show(m_station.dopplerSettings());
        m_methodDialog->showFrequencies(m_station.dopplerSettings(), m_station.lastRecord());
    });
    connect(m_methodDialog, &DopplerMethodDialog::methodConfirmed, &station, &TrackingControl::setDopplerSettings);
    m_geometryDialog = new RotatorGeometryDialog(this);
    connect(m_ui->buttonRotatorGeometry, &QPushButton::clicked, this, [this] {
        const PointingPlanner &planner = m_station.planner();
        const auto az = planner.azimuthStops();
        const auto el = planner.elevationStops();
        const auto stops = [](const std::optional<std::pair<double, double>> &s) {
            return s ? QStringLiteral("%1 to %2").arg(s->first).arg(s->second) : QStringLiteral("none");
        };
        m_geometryDialog->show(m_station.rotatorGeometry(),
                               tr("Stops in force: azimuth %1, elevation %2").arg(stops(az), stops(el)));
    });
    connect(m_geometryDialog, &RotatorGeometryDialog::geometryConfirmed, &station,
            &TrackingControl::setRotatorGeometry);
    m_calibrator = new Calibrator(station, this);
    m_calibrationDialog = new CalibrationDialog(*m_calibrator, this);
    connect(m_ui->buttonCalibrate, &QPushButton::clicked, this, [this] {
        m_calibrationDialog->refresh();
        m_calibrationDialog->show();
        m_calibrationDialog->raise();
    });
    refresh();
}

StationPanel::~StationPanel() = default;

void StationPanel::refresh()
{
    const QDateTime now = m_station.now();
    m_ui->labelPanelUtc->setText(QStringLiteral("UTC %1").arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    const QDateTime read = m_station.lastRecordTime();
    const TrackingRecord &record = m_station.lastRecord();
    const Pointing &pointing = m_station.pointing();
    const QString name = QString::fromLatin1(targetName(m_station.target()));
    if (m_methodDialog->isVisible())
        m_methodDialog->showFrequencies(m_station.dopplerSettings(), record);
    if (read.isValid()) {
        m_ui->labelPanelTarget->setText(
            QStringLiteral("%1: az %2, el %3").arg(name, degrees(record.azimuth), degrees(record.elevation)));
        m_ui->labelPanelDoppler->setText(QStringLiteral("Doppler: own echo %1 Hz (%2 Hz/min), DX %3 Hz (%4 Hz/min)")
                                             .arg(record.dopplerHome, 0, 'f', 0)
                                             .arg(record.dopplerHomeRate, 0, 'f', 1)
                                             .arg(record.dopplerDx, 0, 'f', 0)
                                             .arg(record.relativeSpeed, 0, 'f', 1));
        m_ui->labelPanelData->setText(QStringLiteral("Data: read %1 s ago%2")
                                          .arg(read.secsTo(QDateTime::currentDateTimeUtc()))
                                          .arg(m_station.health().active(Alarm::DataStale)
                                                   ? QStringLiteral(", stale")
                                                   : QString()));
        m_ui->labelPanelHorizon->setText(record.elevation < 0 ? QStringLiteral("below horizon") : QString());
    } else {
        // Nothing read for this target (yet): no place is shown for it.
        m_ui->labelPanelTarget->setText(QStringLiteral("%1: ---").arg(name));
        m_ui->labelPanelHorizon->setText(QString());
    }
    const auto axis = [](const std::optional<double> &value) {
        return value ? degrees(*value) : QStringLiteral("---");
    };
    m_ui->labelPanelCommanded->setText(QStringLiteral("Commanded: az %1, el %2")
                                           .arg(axis(pointing.commandedAzimuth), axis(pointing.commandedElevation)));
    if (pointing.actualAzimuth && pointing.actualElevation) {
        QString error;
        if (pointing.commandedAzimuth && pointing.commandedElevation)
            error = QStringLiteral(", off by az %1, el %2")
                        .arg(degrees(angleBetween(*pointing.actualAzimuth, *pointing.commandedAzimuth)),
                             degrees(std::fabs(*pointing.actualElevation - *pointing.commandedElevation)));
        m_ui->labelPanelActual->setText(QStringLiteral("Antenna: az %1, el %2%3")
                                            .arg(degrees(*pointing.actualAzimuth), degrees(*pointing.actualElevation),
                                                 error));
    } else {
        m_ui->labelPanelActual->setText(QStringLiteral("Antenna: position not reported"));
    }
    refreshFrequencies();
    const WsjtxFollow &wsjtx = m_station.wsjtx();
    m_ui->checkFollowWsjtx->setChecked(wsjtx.settings().follow);
    m_ui->checkRigServer->setChecked(m_station.serverSettings().rigServer);
    m_ui->checkRotServer->setChecked(m_station.serverSettings().rotServer);
    m_ui->labelPanelWsjtx->setText(wsjtx.line(now));
    m_ui->labelPanelPointing->setText(m_station.pointingNote().isEmpty()
                                          ? QString()
                                          : QStringLiteral("Rotator: %1").arg(m_station.pointingNote()));
    m_ui->skyPlot->setTarget(read.isValid() ? name : QString(), record.azimuth, record.elevation);
    const auto direction = [](const std::optional<double> &azimuth, const std::optional<double> &elevation) {
        return azimuth && elevation ? std::optional(Direction {*azimuth, *elevation}) : std::nullopt;
    };
    const auto commanded = direction(pointing.commandedAzimuth, pointing.commandedElevation);
    const auto actual = direction(pointing.actualAzimuth, pointing.actualElevation);
    // A rotator that does not say where it is: the antenna is where it was sent.
    m_ui->skyPlot->setAntenna(actual ? actual : commanded, commanded);
    refreshPasses(now);
}

// The method and what it asks for, and the radio's readout beside the sky
// frequency it stands for behind a transverter (the main window's readout
// stays what the radio itself shows).
void StationPanel::refreshFrequencies()
{
    const DopplerSettings settings = m_station.dopplerSettings();
    const auto mhz = [](double hz, int decimals) { return QString::number(hz / 1e6, 'f', decimals); };
    if (settings.method == DopplerMethod::Specified) {
        m_ui->labelPanelMethod->setText(
            QStringLiteral("Doppler method: %1").arg(tr(dopplerMethodName(settings.method))));
        // Not clear(), which repaints the label (and the panel behind it) even when it is empty.
        m_ui->labelPanelMethodFrequencies->setText(QString());
    } else {
        const double dial = m_station.dialOffsetHz();
        m_ui->labelPanelMethod->setText(QStringLiteral("Doppler method: %1, sked %2 MHz%3")
                                            .arg(tr(dopplerMethodName(settings.method)), mhz(settings.skedMHz * 1e6, 6),
                                                 dial == 0.0 ? QString()
                                                             : QStringLiteral(", tuned %1%2 Hz by hand")
                                                                   .arg(dial > 0 ? QStringLiteral("+") : QString())
                                                                   .arg(dial, 0, 'f', 0)));
        const auto sky = m_station.methodFrequencies();
        m_ui->labelPanelMethodFrequencies->setText(
            sky ? QStringLiteral("Receive %1 MHz, transmit %2 MHz%3")
                      .arg(mhz(sky->receiveHz, 6), mhz(sky->transmitHz, 6),
                           m_station.isSplitActive() ? QStringLiteral(", split") : QString())
                : QStringLiteral("Receive and transmit: when Track frequency is ticked"));
    }
    const auto reading = m_station.shownFrequency();
    if (!reading) {
        m_ui->labelPanelRadio->setText(QStringLiteral("Radio: ---"));
        return;
    }
    const double radioHz = reading->mhz * 1e6;
    QString text = QStringLiteral("Radio %1 %2 MHz")
                       .arg(reading->transmitting ? QLatin1Char('T') : QLatin1Char('R'))
                       .arg(mhz(radioHz, 5));
    if (settings.transverter.on)
        text += QStringLiteral(", sky %1 MHz").arg(mhz(settings.transverter.skyHz(radioHz), 5));
    m_ui->labelPanelRadio->setText(text);
}

void StationPanel::refreshPasses(const QDateTime &now)
{
    const SourceSettings settings = m_station.sourceSettings();
    const auto home = positionOfLocator(settings.homeLocator);
    const TrackingTarget target = m_station.target();
    const QString key = settings.homeLocator + QLatin1Char('/') + settings.dxLocator + QLatin1Char('/')
        + QString::number(int(target));
    if (key == m_passesKey && m_passesComputed.isValid() && m_passesComputed.secsTo(now) < 60)
        return;
    m_passesKey = key;
    m_passesComputed = now;
    if (!home || target == TrackingTarget::Source) {
        m_ui->labelPanelRiseSet->setText(home ? QString() : QStringLiteral("Rise and set: set a station locator"));
        m_ui->labelPanelCommon->setText(QString());
        return;
    }
    const passes::Body body = target == TrackingTarget::Moon ? passes::Body::Moon : passes::Body::Sun;
    const auto rise = passes::nextCrossing(body, *home, now, true);
    const auto set = passes::nextCrossing(body, *home, now, false);
    m_ui->labelPanelRiseSet->setText(QStringLiteral("Rises %1, sets %2 UTC")
                                         .arg(rise ? utcText(*rise) : QStringLiteral("---"),
                                              set ? utcText(*set) : QStringLiteral("---")));
    const auto dx = positionOfLocator(settings.dxLocator);
    if (!dx) {
        m_ui->labelPanelCommon->setText(QString());
        return;
    }
    const auto window = passes::nextCommonWindow(body, *home, *dx, now);
    m_ui->labelPanelCommon->setText(window ? QStringLiteral("Both see it: %1 to %2 UTC")
                                                 .arg(utcText(window->start),
                                                      window->end.isValid() ? utcText(window->end) : QStringLiteral("---"))
                                           : QStringLiteral("Both see it: not within two days"));
}
