// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The radios and rotators the linked Hamlib knows, as its own list gives them.
namespace hamlibmodels {

struct Model {
    int number = 0;
    QString maker;
    QString name;
    QString status;  // Hamlib's word for the backend: "Stable", "Beta", ...
};

// Sorted by maker, then model; loaded once.
const QList<Model> &radios();
const QList<Model> &rotators();
// "Yaesu FT-817"; "model 12345" for a number Hamlib does not know.
QString name(bool rotator, int number);
// The names of the model's settings (rig_set_conf's), Hamlib's port
// settings first; empty for a model it does not know.
QStringList settingNames(bool rotator, int number);
// "4.5.4"
QString hamlibVersion();

// Hamlib's own output goes through the links' trace, never to stderr.
void quietHamlib();

} // namespace hamlibmodels
