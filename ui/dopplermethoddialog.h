// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/dopplersettings.h"
#include "station/trackingdata.h"

#include <QDialog>

#include <functional>

#include <memory>
#include <optional>

namespace Ui {
class DopplerMethodDialogClass;
}

// The Doppler method, the sked frequency, the transverter and split, with the
// receive and transmit frequencies and the shifts they give now. Refuses what
// it cannot use and says why.
class DopplerMethodDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DopplerMethodDialog(QWidget *parent = nullptr);
    ~DopplerMethodDialog() override;

    void show(const DopplerSettings &settings);
    // The entries as settings, or nothing with the reason shown.
    std::optional<DopplerSettings> entered();
    // Asked last, with the entries that pass every other check: why the
    // station cannot use them, or nothing.
    void setCheck(std::function<std::optional<QString>(const DopplerSettings &)> check) { m_check = std::move(check); }
    // What the confirmed settings give for the last tracking record.
    void showFrequencies(const DopplerSettings &settings, const TrackingRecord &record);

signals:
    void methodConfirmed(const DopplerSettings &settings);

private:
    // The fields as settings; nothing when one does not read, with the reason in problem.
    std::optional<DopplerSettings> parsed(QString &problem) const;
    void paint(const DopplerSettings &settings, const TrackingRecord &record);
    std::optional<TrackingRecord> m_record;  // the last the station gave, for the preview
    std::unique_ptr<Ui::DopplerMethodDialogClass> m_ui;
    std::function<std::optional<QString>(const DopplerSettings &)> m_check;
};
