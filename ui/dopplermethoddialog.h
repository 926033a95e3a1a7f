#pragma once

#include "settings/dopplersettings.h"
#include "station/trackingdata.h"

#include <QDialog>

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
    // What the confirmed settings give for the last tracking record.
    void showFrequencies(const DopplerSettings &settings, const TrackingRecord &record);

signals:
    void methodConfirmed(const DopplerSettings &settings);

private:
    std::unique_ptr<Ui::DopplerMethodDialogClass> m_ui;
};
