// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ParkingDialogClass;
}

// Parking position of the rotator and the command to go there. The main
// window parks from parkingConfirmed() until parkingClosed().
class ParkingDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ParkingDialog(QWidget *parent = nullptr);
    ~ParkingDialog() override;

    void setAzimuthParking(double degrees);
    void setElevationParking(double degrees);

    double azimuthParking = 90.0;
    double elevationParking = 10.0;

public slots:
    // Escape (and any other way of closing) acts as Close, so that the main
    // window always learns that parking has ended.
    void reject() override;

signals:
    void parkingConfirmed();
    void parkingClosed();

private slots:
    void on_buttonParkPark_clicked();
    void on_buttonParkClose_clicked();

private:
    void showValues();

    std::unique_ptr<Ui::ParkingDialogClass> m_ui;
};
