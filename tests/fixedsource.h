// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A tracking source that gives whatever record the test holds.

#include "station/trackingsource.h"

class FixedSource : public TrackingSource
{
public:
    explicit FixedSource(TrackingRecord *record) : m_record(record) {}
    bool read(TrackingTarget, TrackingRecord &record, const std::function<void(const QString &)> &) override
    {
        record = *m_record;
        return true;
    }
    QString problem() const override { return {}; }

private:
    TrackingRecord *m_record;
};
