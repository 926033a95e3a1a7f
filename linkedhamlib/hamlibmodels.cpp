// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkedhamlib/hamlibmodels.h"

#include <hamlib/rig.h>
#include <hamlib/rotator.h>

#include <algorithm>

namespace {

using hamlibmodels::Model;

QString statusText(rig_status_e status)
{
    const char *text = rig_strstatus(status);
    return QString::fromLatin1(text ? text : "");
}

template <typename Caps>
Model modelOf(const Caps &caps, int number)
{
    return {number, QString::fromLatin1(caps.mfg_name ? caps.mfg_name : "").trimmed(),
            QString::fromLatin1(caps.model_name ? caps.model_name : "").trimmed(), statusText(caps.status)};
}

void sortModels(QList<Model> &models)
{
    std::sort(models.begin(), models.end(), [](const Model &a, const Model &b) {
        const int maker = a.maker.compare(b.maker, Qt::CaseInsensitive);
        if (maker != 0)
            return maker < 0;
        const int name = a.name.compare(b.name, Qt::CaseInsensitive);
        return name != 0 ? name < 0 : a.number < b.number;
    });
}

QList<Model> loadRadios()
{
    hamlibmodels::quietHamlib();
    rig_load_all_backends();
    QList<Model> models;
    rig_list_foreach(
        [](const rig_caps *caps, rig_ptr_t data) {
            static_cast<QList<Model> *>(data)->append(modelOf(*caps, int(caps->rig_model)));
            return 1;
        },
        &models);
    sortModels(models);
    return models;
}

QList<Model> loadRotators()
{
    hamlibmodels::quietHamlib();
    rot_load_all_backends();
    QList<Model> models;
    rot_list_foreach(
        [](const rot_caps *caps, rig_ptr_t data) {
            static_cast<QList<Model> *>(data)->append(modelOf(*caps, int(caps->rot_model)));
            return 1;
        },
        &models);
    sortModels(models);
    return models;
}

} // namespace

const QList<Model> &hamlibmodels::radios()
{
    static const QList<Model> models = loadRadios();
    return models;
}

const QList<Model> &hamlibmodels::rotators()
{
    static const QList<Model> models = loadRotators();
    return models;
}

QString hamlibmodels::name(bool rotator, int number)
{
    for (const Model &model : rotator ? rotators() : radios())
        if (model.number == number)
            return model.maker.isEmpty() ? model.name : model.maker + QLatin1Char(' ') + model.name;
    return QStringLiteral("model %1").arg(number);
}

QStringList hamlibmodels::settingNames(bool rotator, int number)
{
    quietHamlib();
    QStringList names;
    const auto collect = [](const confparams *setting, rig_ptr_t data) {
        if (setting->name)
            static_cast<QStringList *>(data)->append(QString::fromLatin1(setting->name));
        return 1;
    };
    if (rotator) {
        if (ROT *rot = rot_init(number)) {
            rot_token_foreach(rot, collect, &names);
            rot_cleanup(rot);
        }
    } else if (RIG *rig = rig_init(number)) {
        rig_token_foreach(rig, collect, &names);
        rig_cleanup(rig);
    }
    names.removeDuplicates();
    return names;
}

QString hamlibmodels::hamlibVersion()
{
    return QString::fromLatin1(hamlib_version2 ? hamlib_version2 : "");
}
