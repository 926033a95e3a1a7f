// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/roundingdialog.h"

#include "settings/numbers.h"
#include "ui_roundingDialog.h"

roundingDialog::roundingDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::roundingDialogClass>())
{
    m_ui->setupUi(this);
    showValues();
}

roundingDialog::~roundingDialog() = default;

void roundingDialog::setAzimuthRounding(double degrees)
{
    azimuthRounding = degrees;
    m_ui->lineRoundingAzimuth->setText(numbers::general(azimuthRounding));
}

void roundingDialog::setElevationRounding(double degrees)
{
    elevationRounding = degrees;
    m_ui->lineRoundingElevation->setText(numbers::general(elevationRounding));
}

void roundingDialog::showValues()
{
    m_ui->lineRoundingAzimuth->setText(numbers::general(azimuthRounding));
    m_ui->lineRoundingElevation->setText(numbers::general(elevationRounding));
}

void roundingDialog::on_buttonRoundingDialogConfirm_clicked()
{
    const std::optional<float> azimuth = numbers::toSingle(m_ui->lineRoundingAzimuth->text());
    if (!azimuth)
        return;
    const std::optional<float> elevation = numbers::toSingle(m_ui->lineRoundingElevation->text());
    if (!elevation)
        return;
    azimuthRounding = *azimuth;
    elevationRounding = *elevation;
    emit roundingConfirmed();
    close();
}

void roundingDialog::on_buttonRoundingDialogStorno_clicked()
{
    showValues();
    close();
}
