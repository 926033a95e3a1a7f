// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/rotatorgeometrydialog.h"

#include "ui/spinboxrefusal.h"
#include "ui_RotatorGeometryDialog.h"

#include <cmath>

namespace {

using Geometry = RotatorGeometry;
const std::pair<Geometry::AzimuthRange, const char *> azimuthChoices[] = {
    {Geometry::AzimuthRange::AsGiven, "As the data gives it (no stops)"},
    {Geometry::AzimuthRange::From0To360, "0 to 360"},
    {Geometry::AzimuthRange::From0To450, "0 to 450 (90 of overlap)"},
    {Geometry::AzimuthRange::Minus180To180, "-180 to +180 (stop in the south)"},
    {Geometry::AzimuthRange::Custom, "Custom stops"}};
const std::pair<Geometry::ElevationRange, const char *> elevationChoices[] = {
    {Geometry::ElevationRange::AsGiven, "As the data gives it (no stops)"},
    {Geometry::ElevationRange::From0To90, "0 to 90"},
    {Geometry::ElevationRange::From0To180, "0 to 180 (over the top)"}};
const std::pair<Geometry::OutOfReach, const char *> reachChoices[] = {
    {Geometry::OutOfReach::Nearest, "Nearest allowed position"},
    {Geometry::OutOfReach::Hold, "Hold where it is"}};

std::optional<double> typed(const QString &text, double low, double high)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

RotatorGeometryDialog::RotatorGeometryDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::RotatorGeometryDialogClass)
{
    m_ui->setupUi(this);
    sayRefusedKeys(this);
    for (const auto &[range, shown] : azimuthChoices)
        m_ui->comboAzimuthRange->addItem(tr(shown), int(range));
    for (const auto &[range, shown] : elevationChoices)
        m_ui->comboElevationRange->addItem(tr(shown), int(range));
    for (const auto &[reach, shown] : reachChoices)
        m_ui->comboOutOfReach->addItem(tr(shown), int(reach));
    const auto customStops = [this] {
        const bool custom = m_ui->comboAzimuthRange->currentData().toInt() == int(Geometry::AzimuthRange::Custom);
        m_ui->lineAzimuthLow->setEnabled(custom);
        m_ui->lineAzimuthHigh->setEnabled(custom);
    };
    connect(m_ui->comboAzimuthRange, &QComboBox::currentIndexChanged, this, customStops);
    connect(m_ui->checkQuietSeconds, &QCheckBox::toggled, m_ui->spinQuietFrom, &QWidget::setEnabled);
    connect(m_ui->checkQuietSeconds, &QCheckBox::toggled, m_ui->spinQuietTo, &QWidget::setEnabled);
    connect(m_ui->buttonsGeometry, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_ui->buttonsGeometry, &QDialogButtonBox::accepted, this, [this] {
        if (const auto geometry = entered()) {
            emit geometryConfirmed(*geometry);
            accept();
        }
    });
}

RotatorGeometryDialog::~RotatorGeometryDialog() = default;

void RotatorGeometryDialog::show(const RotatorGeometry &geometry, const QString &travel)
{
    m_ui->comboAzimuthRange->setCurrentIndex(m_ui->comboAzimuthRange->findData(int(geometry.azimuthRange)));
    m_ui->lineAzimuthLow->setText(QString::number(geometry.customMinAzimuth));
    m_ui->lineAzimuthHigh->setText(QString::number(geometry.customMaxAzimuth));
    m_ui->lineAzimuthLow->setEnabled(geometry.azimuthRange == Geometry::AzimuthRange::Custom);
    m_ui->lineAzimuthHigh->setEnabled(geometry.azimuthRange == Geometry::AzimuthRange::Custom);
    m_ui->comboElevationRange->setCurrentIndex(m_ui->comboElevationRange->findData(int(geometry.elevationRange)));
    m_ui->lineHorizonMask->setText(geometry.maskText());
    m_ui->lineAzimuthSpeed->setText(QString::number(geometry.azimuthSpeed));
    m_ui->lineElevationSpeed->setText(QString::number(geometry.elevationSpeed));
    m_ui->comboOutOfReach->setCurrentIndex(m_ui->comboOutOfReach->findData(int(geometry.outOfReach)));
    m_ui->checkLead->setChecked(geometry.lead);
    m_ui->checkQuietSeconds->setChecked(geometry.quietSeconds);
    m_ui->spinQuietFrom->setValue(geometry.quietFrom);
    m_ui->spinQuietTo->setValue(geometry.quietTo);
    m_ui->spinQuietFrom->setEnabled(geometry.quietSeconds);
    m_ui->spinQuietTo->setEnabled(geometry.quietSeconds);
    m_ui->checkStillWhileTransmitting->setChecked(geometry.stillWhileTransmitting);
    m_ui->labelRotatorTravel->setText(travel);
    m_ui->labelGeometryProblem->clear();
    QDialog::show();
}

std::optional<RotatorGeometry> RotatorGeometryDialog::entered()
{
    RotatorGeometry g;
    g.azimuthRange = Geometry::AzimuthRange(m_ui->comboAzimuthRange->currentData().toInt());
    g.elevationRange = Geometry::ElevationRange(m_ui->comboElevationRange->currentData().toInt());
    g.outOfReach = Geometry::OutOfReach(m_ui->comboOutOfReach->currentData().toInt());
    g.lead = m_ui->checkLead->isChecked();
    g.quietSeconds = m_ui->checkQuietSeconds->isChecked();
    g.quietFrom = m_ui->spinQuietFrom->value();
    g.quietTo = m_ui->spinQuietTo->value();
    g.stillWhileTransmitting = m_ui->checkStillWhileTransmitting->isChecked();
    const auto low = typed(m_ui->lineAzimuthLow->text(), -360, 720);
    const auto high = typed(m_ui->lineAzimuthHigh->text(), -360, 720);
    const auto azSpeed = typed(m_ui->lineAzimuthSpeed->text(), 0.01, 100);
    const auto elSpeed = typed(m_ui->lineElevationSpeed->text(), 0.01, 100);
    const auto mask = RotatorGeometry::parseMask(m_ui->lineHorizonMask->text());
    QString problem;
    if (g.azimuthRange == Geometry::AzimuthRange::Custom && (!low || !high || *high - *low < 1))
        problem = tr("The stops are not two azimuths from -360 to 720, the second above the first");
    else if (!azSpeed || !elSpeed)
        problem = tr("The speeds are not degrees per second from 0.01 to 100");
    else if (!mask)
        problem = tr("The mask is not a list of azimuth:elevation pairs (0-360:0-90): %1")
                      .arg(RotatorGeometry::maskProblem(m_ui->lineHorizonMask->text()));
    if (!problem.isEmpty()) {
        m_ui->labelGeometryProblem->setText(problem);
        return std::nullopt;
    }
    if (g.azimuthRange == Geometry::AzimuthRange::Custom) {
        g.customMinAzimuth = *low;
        g.customMaxAzimuth = *high;
    }
    g.azimuthSpeed = *azSpeed;
    g.elevationSpeed = *elSpeed;
    g.horizonMask = *mask;
    return g;
}
