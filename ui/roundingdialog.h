// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class roundingDialogClass;
}

// Dead bands (degrees) by which the target must move before the rotator is
// commanded again.
class roundingDialog : public QDialog
{
    Q_OBJECT

public:
    explicit roundingDialog(QWidget *parent = nullptr);
    ~roundingDialog() override;

    void setAzimuthRounding(double degrees);
    void setElevationRounding(double degrees);

    double azimuthRounding = 0.1;
    double elevationRounding = 0.1;

signals:
    void roundingConfirmed();

private slots:
    void on_buttonRoundingDialogConfirm_clicked();
    void on_buttonRoundingDialogStorno_clicked();

private:
    void showValues();

    std::unique_ptr<Ui::roundingDialogClass> m_ui;
};
