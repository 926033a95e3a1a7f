// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class timerSettingdialogClass;
}

// Repetition time of the tracking cycle (s) and transceiver readout time (ms).
class timerSettingdialog : public QDialog
{
    Q_OBJECT

public:
    explicit timerSettingdialog(QWidget *parent = nullptr);
    ~timerSettingdialog() override;

    void setRepetitionTime(quint16 seconds);
    void setMessageDelay(quint16 milliseconds);

    // The values in force: last confirmed, or last set by the main window.
    quint32 repetitionTime = 1;
    quint32 messageDelay = 0;

signals:
    void timeConfirmed();

private slots:
    void on_buttonTimerSettingConfirm_clicked();
    void on_buttonTimerSettingStorno_clicked();

private:
    void showValues();

    std::unique_ptr<Ui::timerSettingdialogClass> m_ui;
};
