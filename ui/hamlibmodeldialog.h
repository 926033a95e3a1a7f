// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/networksettings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class HamlibModelDialog;
}
class QSortFilterProxyModel;
class QStandardItemModel;

// Chooses the radio or rotator model Hamlib drives, from Hamlib's own list
// (searched as the operator types), with the line's baud rate and the
// model's own settings.
class HamlibModelDialog : public QDialog
{
    Q_OBJECT

public:
    HamlibModelDialog(bool rotator, const HamlibDevice &current, QWidget *parent = nullptr);
    ~HamlibModelDialog() override;

    // What was chosen; meaningful once accepted.
    HamlibDevice device() const { return m_device; }
    // Every word typed must appear in the model's line, in any order.
    void search(const QString &text);
    // The model shown chosen in the list, 0 for none.
    int chosenModel() const;

private:
    void choose(int model);
    void accept() override;

    bool m_rotator;
    HamlibDevice m_device;
    std::unique_ptr<Ui::HamlibModelDialog> m_ui;
    QStandardItemModel *m_models;
    QSortFilterProxyModel *m_shown;
};
