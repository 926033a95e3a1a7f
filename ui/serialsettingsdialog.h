// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/serialtypes.h"

#include <QDialog>

#include <memory>

namespace Ui {
class serialSettingsDialogClass;
}

// Line parameters of port A (rotator) and port B (transceiver). The records
// change only on Confirm; the main window reads them when it opens a port.
class serialSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit serialSettingsDialog(QWidget *parent = nullptr);
    ~serialSettingsDialog() override;

    // Texts of the values as the lists and the log show them; empty for a
    // value the lists do not offer.
    static QString baudRateText(BaudRateType value);
    static QString dataBitsText(DataBitsType value);
    static QString flowControlText(FlowType value);
    static QString parityText(ParityType value);
    static QString stopBitsText(StopBitsType value);

    // Combo selections into the records, and back.
    void storeParameters();
    void showParameters();

    SerialParameters parametersA;
    SerialParameters parametersB;

private slots:
    void on_buttonSerialSettingsConfirm_clicked();
    void on_buttonSerialSettingsStorno_clicked();

private:
    std::unique_ptr<Ui::serialSettingsDialogClass> m_ui;
};
