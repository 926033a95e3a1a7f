// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/parkingdialog.h"

#include "settings/numbers.h"
#include "ui_ParkingDialog.h"

#include <cmath>

namespace {

constexpr double elevationLimit = 90.0;
constexpr double azimuthLimit = 360.0;

} // namespace

ParkingDialog::ParkingDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ParkingDialogClass>())
{
    m_ui->setupUi(this);
    showValues();
}

ParkingDialog::~ParkingDialog() = default;

void ParkingDialog::setAzimuthParking(double degrees)
{
    azimuthParking = degrees;
    m_ui->lineParkAzimuth->setText(numbers::general(azimuthParking));
}

void ParkingDialog::setElevationParking(double degrees)
{
    elevationParking = degrees;
    m_ui->lineParkElevation->setText(numbers::general(elevationParking));
}

void ParkingDialog::showValues()
{
    m_ui->lineParkAzimuth->setText(numbers::general(azimuthParking));
    m_ui->lineParkElevation->setText(numbers::general(elevationParking));
}

void ParkingDialog::on_buttonParkPark_clicked()
{
    const std::optional<float> azimuth = numbers::toSingle(m_ui->lineParkAzimuth->text());
    if (!azimuth)
        return;
    const std::optional<float> elevation = numbers::toSingle(m_ui->lineParkElevation->text());
    if (!elevation)
        return;
    if (std::fabs(*elevation) > elevationLimit || std::fabs(*azimuth) > azimuthLimit)
        return;
    azimuthParking = *azimuth;
    elevationParking = *elevation;
    // Stays open: the operator may park again with other values.
    emit parkingConfirmed();
}

void ParkingDialog::on_buttonParkClose_clicked()
{
    reject();
}

void ParkingDialog::reject()
{
    showValues();
    QDialog::reject();
    emit parkingClosed();
}
