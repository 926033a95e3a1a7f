// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/rotatorgeometry.h"

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class RotatorGeometryDialogClass;
}

// The rotator's stops, elevation travel, horizon mask, speeds and manners of
// moving. Refuses what it cannot use and says why.
class RotatorGeometryDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RotatorGeometryDialog(QWidget *parent = nullptr);
    ~RotatorGeometryDialog() override;

    // travel: what the rotator itself reports, shown beside the entries.
    void show(const RotatorGeometry &geometry, const QString &travel);
    // The entries as a geometry, or nothing with the reason shown.
    std::optional<RotatorGeometry> entered();

signals:
    void geometryConfirmed(const RotatorGeometry &geometry);

private:
    std::unique_ptr<Ui::RotatorGeometryDialogClass> m_ui;
};
