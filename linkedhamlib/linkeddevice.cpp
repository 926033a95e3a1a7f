// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkedhamlib/linkeddevice.h"

#include <hamlib/rig.h>
#include <hamlib/rotator.h>

#include <algorithm>
#include <cmath>

namespace {


const QList<HamlibServer::Command> rotatorCommands {
    {'p', "get_pos", 0, "Azimuth|Elevation"},
    {'P', "set_pos", 2, nullptr},
    {'S', "stop", 0, nullptr},
    {'K', "park", 0, nullptr},
    {'_', "get_info", 0, "Info"},
    {0, "dump_state", 0, nullptr},
};

std::optional<double> number(const QByteArray &text)
{
    bool parsed = false;
    const double value = text.toDouble(&parsed);
    return parsed && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

QByteArray hertzText(double hz)
{
    return QByteArray::number(qint64(std::llround(hz)));
}

} // namespace

LinkedDevice::LinkedDevice(const QString &kind, const HamlibDevice &device, const QString &path)
    : HamlibServer(kind)
    , m_device(device)
    , m_path(path)
{
}

int LinkedDevice::check(int result)
{
    if (result == -RIG_EIO)
        m_gone = true;
    return result;
}

template <typename SetConf>
QString LinkedDevice::configure(bool needsPort, SetConf setConf) const
{
    QList<std::pair<QByteArray, QByteArray>> settings;
    // A model with no port of its own (the dummies) would read a path as a
    // network address.
    if (needsPort && !m_path.isEmpty())
        settings.append({"pathname", m_path.toLocal8Bit()});
    if (m_device.baudRate > 0)
        settings.append({"serial_speed", QByteArray::number(m_device.baudRate)});
    for (const QString &item : m_device.config.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return QStringLiteral("not a name=value setting: %1").arg(item.trimmed());
        settings.append({item.left(equals).trimmed().toLatin1(), item.mid(equals + 1).trimmed().toLocal8Bit()});
    }
    for (const auto &[name, value] : settings) {
        if (!setConf(name, value))
            return QStringLiteral("the model has no setting %1").arg(QString::fromLatin1(name));
    }
    return {};
}

LinkedRig::LinkedRig(const HamlibDevice &device, const QString &path)
    : LinkedDevice(QStringLiteral("Hamlib radio"), device, path)
{
}

LinkedRig::~LinkedRig()
{
    if (m_open)
        rig_close(m_rig);
    if (m_rig)
        rig_cleanup(m_rig);
}

QString LinkedRig::open()
{
    m_rig = rig_init(m_device.model);
    if (!m_rig)
        return QStringLiteral("Hamlib has no radio model %1").arg(m_device.model);
    const QString refused = configure(m_rig->caps->port_type != RIG_PORT_NONE, [this](const QByteArray &name, const QByteArray &value) {
        const QByteArray token = name == "pathname" ? QByteArray("rig_pathname") : name;
        const token_t found = rig_token_lookup(m_rig, token.constData());
        return found != RIG_CONF_END && rig_set_conf(m_rig, found, value.constData()) == RIG_OK;
    });
    if (!refused.isEmpty())
        return refused;
    const int result = rig_open(m_rig);
    if (result != RIG_OK)
        return QString::fromLocal8Bit(rigerror2(result)).trimmed();
    m_open = true;
    return {};
}

const QList<HamlibServer::Command> &LinkedRig::commands() const
{
    // The signal strength too, for a calibration's levels.
    static const QList<Command> commands = rigCommands() + QList<Command> {{'l', "get_level", 1, "Level Value"}};
    return commands;
}

// The radio's receive ranges and its finest step, from the model's own table.
QByteArray LinkedRig::dumpState(std::optional<char>) const
{
    QList<std::pair<double, double>> ranges;
    double step = 0;
    if (m_rig) {
        const rig_state &state = m_rig->state;
        for (int i = 0; i < HAMLIB_FRQRANGESIZ && !RIG_IS_FRNG_END(state.rx_range_list[i]); ++i)
            ranges.append({state.rx_range_list[i].startf, state.rx_range_list[i].endf});
        for (int i = 0; i < HAMLIB_TSLSTSIZ && state.tuning_steps[i].ts != 0; ++i)
            if (state.tuning_steps[i].ts > 0 && (step == 0 || state.tuning_steps[i].ts < step))
                step = double(state.tuning_steps[i].ts);
    }
    return rigState(ranges, step, m_rig ? int(m_rig->caps->rig_model) : 0);
}

QByteArray LinkedRig::answer(const Line &line)
{
    const QByteArray name = line.command->longName;
    const QByteArrayList &arguments = line.arguments;
    if (name == "chk_vfo")
        return line.separator ? QByteArrayLiteral("ChkVFO: 0\n") : QByteArrayLiteral("0\n");
    // set_mode, the power status and the lock are left to the radio's own panel.
    int result = notAvailable;
    QByteArrayList values;
    if (name == "get_freq" || name == "get_split_freq") {
        freq_t hz = 0;
        result = check(name == "get_freq" ? rig_get_freq(m_rig, RIG_VFO_CURR, &hz)
                                          : rig_get_split_freq(m_rig, RIG_VFO_CURR, &hz));
        values << hertzText(hz);
    } else if (name == "set_freq" || name == "set_split_freq") {
        const auto hz = number(arguments.at(0));
        result = invalid;
        if (hz && *hz > 0)
            result = check(name == "set_freq" ? rig_set_freq(m_rig, RIG_VFO_CURR, *hz)
                                              : rig_set_split_freq(m_rig, RIG_VFO_CURR, *hz));
    } else if (name == "get_mode") {
        rmode_t mode = RIG_MODE_NONE;
        pbwidth_t width = 0;
        result = check(rig_get_mode(m_rig, RIG_VFO_CURR, &mode, &width));
        values << rig_strrmode(mode) << QByteArray::number(qint64(width));
    } else if (name == "get_vfo") {
        vfo_t vfo = RIG_VFO_NONE;
        result = check(rig_get_vfo(m_rig, &vfo));
        values << rig_strvfo(vfo);
    } else if (name == "set_vfo") {
        const vfo_t vfo = rig_parse_vfo(arguments.at(0).constData());
        result = invalid;
        if (vfo != RIG_VFO_NONE)
            result = check(rig_set_vfo(m_rig, vfo));
    } else if (name == "get_ptt") {
        ptt_t ptt = RIG_PTT_OFF;
        result = check(rig_get_ptt(m_rig, RIG_VFO_CURR, &ptt));
        values << QByteArray::number(int(ptt));
    } else if (name == "set_ptt") {
        const auto ptt = number(arguments.at(0));
        result = invalid;
        if (ptt && *ptt >= 0 && *ptt <= 3)
            result = check(rig_set_ptt(m_rig, RIG_VFO_CURR, ptt_t(int(*ptt))));
    } else if (name == "get_split_vfo") {
        split_t split = RIG_SPLIT_OFF;
        vfo_t transmitVfo = RIG_VFO_NONE;
        result = check(rig_get_split_vfo(m_rig, RIG_VFO_CURR, &split, &transmitVfo));
        values << QByteArray::number(int(split)) << rig_strvfo(transmitVfo);
    } else if (name == "get_level") {
        value_t level {};
        result = invalid;
        if (arguments.at(0) == "STRENGTH") {
            result = check(rig_get_level(m_rig, RIG_VFO_CURR, RIG_LEVEL_STRENGTH, &level));
            values << QByteArray::number(level.i);
        }
    } else if (name == "set_split_vfo") {
        const auto split = number(arguments.at(0));
        const vfo_t transmitVfo = rig_parse_vfo(arguments.at(1).constData());
        result = invalid;
        if (split && (*split == 0 || *split == 1))
            result = check(rig_set_split_vfo(m_rig, RIG_VFO_CURR, *split == 1 ? RIG_SPLIT_ON : RIG_SPLIT_OFF,
                                             transmitVfo));
    }
    return reply(line, result, values);
}

LinkedRotator::LinkedRotator(const HamlibDevice &device, const QString &path)
    : LinkedDevice(QStringLiteral("Hamlib rotator"), device, path)
{
}

LinkedRotator::~LinkedRotator()
{
    if (m_open)
        rot_close(m_rot);
    if (m_rot)
        rot_cleanup(m_rot);
}

QString LinkedRotator::open()
{
    m_rot = rot_init(m_device.model);
    if (!m_rot)
        return QStringLiteral("Hamlib has no rotator model %1").arg(m_device.model);
    const QString refused = configure(m_rot->caps->port_type != RIG_PORT_NONE, [this](const QByteArray &name, const QByteArray &value) {
        const QByteArray token = name == "pathname" ? QByteArray("rot_pathname") : name;
        const token_t found = rot_token_lookup(m_rot, token.constData());
        return found != RIG_CONF_END && rot_set_conf(m_rot, found, value.constData()) == RIG_OK;
    });
    if (!refused.isEmpty())
        return refused;
    const int result = rot_open(m_rot);
    if (result != RIG_OK)
        return QString::fromLocal8Bit(rigerror2(result)).trimmed();
    m_open = true;
    return {};
}

const QList<HamlibServer::Command> &LinkedRotator::commands() const
{
    return rotatorCommands;
}

QByteArray LinkedRotator::dumpState(std::optional<char> separator) const
{
    if (!m_rot)
        return rotatorState({0, 360}, {0, 90}, separator);
    const rot_state &state = m_rot->state;
    return rotatorState({state.min_az, state.max_az}, {state.min_el, state.max_el}, separator);
}

QByteArray LinkedRotator::answer(const Line &line)
{
    const QByteArray name = line.command->longName;
    int result = invalid;
    QByteArrayList values;
    if (name == "get_pos") {
        azimuth_t azimuth = 0;
        elevation_t elevation = 0;
        result = check(rot_get_position(m_rot, &azimuth, &elevation));
        values << QByteArray::number(azimuth, 'f', 6) << QByteArray::number(elevation, 'f', 6);
    } else if (name == "set_pos") {
        const auto azimuth = number(line.arguments.at(0));
        const auto elevation = number(line.arguments.at(1));
        if (azimuth && elevation)
            result = check(rot_set_position(m_rot, azimuth_t(*azimuth), elevation_t(*elevation)));
    } else if (name == "stop") {
        result = check(rot_stop(m_rot));
    } else if (name == "park") {
        result = check(rot_park(m_rot));
    } else if (name == "get_info") {
        const char *info = rot_get_info(m_rot);
        result = RIG_OK;
        values << QByteArray(info ? info : "").left(200).replace('\n', ' ');
    }
    return reply(line, result, values);
}
