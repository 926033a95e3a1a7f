// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/sourcesettings.h"

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class SourceDialogClass;
}

// Where the tracking record comes from: the file, or the sky computed from
// the two stations' locators. Refuses what it cannot use and says why.
class SourceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SourceDialog(QWidget *parent = nullptr);
    ~SourceDialog() override;

    void show(const SourceSettings &settings);
    // The entries as settings, or nothing with the reason shown.
    std::optional<SourceSettings> entered();

signals:
    void sourceConfirmed(const SourceSettings &settings);

private:
    std::unique_ptr<Ui::SourceDialogClass> m_ui;
};
