// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlibserver/hamlibserver.h"
#include "settings/networksettings.h"

#include <QString>

// A radio or rotator that Hamlib, linked into the program, drives: it answers
// the lines of rigctld's or rotctld's protocol itself, by Hamlib's own calls,
// so that the daemon links carry it with all their checks and messages.
// Lives on its link's worker thread: every call here may block on the device.
class LinkedDevice : public HamlibServer
{
    Q_OBJECT

public:
    LinkedDevice(const QString &kind, const HamlibDevice &device, const QString &path);

    // Opens the model on the device: empty, or why not in Hamlib's words.
    virtual QString open() = 0;
    // True once a call failed for want of the device itself (unplugged,
    // hung up): the link is lost and opened again when it is back.
    bool deviceGone() const { return m_gone; }

protected:
    // Hamlib's result, noted: an input/output error means the device is gone.
    int check(int result);
    // The path (for a model with a port), the baud rate and the model's own
    // settings, through setConf (rig_set_conf or rot_set_conf with its token
    // lookup); empty, or why not.
    template <typename SetConf>
    QString configure(bool needsPort, SetConf setConf) const;

    HamlibDevice m_device;
    QString m_path;
    bool m_gone = false;
};

class LinkedRig : public LinkedDevice
{
    Q_OBJECT

public:
    LinkedRig(const HamlibDevice &device, const QString &path);
    ~LinkedRig() override;

    QString open() override;

protected:
    const QList<Command> &commands() const override;
    QByteArray dumpState(std::optional<char> separator) const override;
    QByteArray answer(const Line &line) override;

private:
    struct s_rig *m_rig = nullptr;
    bool m_open = false;
};

class LinkedRotator : public LinkedDevice
{
    Q_OBJECT

public:
    LinkedRotator(const HamlibDevice &device, const QString &path);
    ~LinkedRotator() override;

    QString open() override;

protected:
    const QList<Command> &commands() const override;
    QByteArray dumpState(std::optional<char> separator) const override;
    QByteArray answer(const Line &line) override;

private:
    struct s_rot *m_rot = nullptr;
    bool m_open = false;
};
