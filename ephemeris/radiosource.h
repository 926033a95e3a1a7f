// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A fixed point of the sky by its J2000 (ICRS) right ascension and
// declination, in degrees, as radio catalogues give it.
struct RadioSource {
    QString name;  // the catalogue name, or the coordinates as typed, tidied
    double raDeg = 0;
    double decDeg = 0;

    bool operator==(const RadioSource &other) const
    {
        return name == other.name && raDeg == other.raDeg && decDeg == other.decDeg;
    }
};

namespace radiosource {

// The strong sources an EME station measures its noise against.
const QList<RadioSource> &catalogue();

// A catalogue name ("Cas A", "casa", "Sgr A*") or typed coordinates:
// "23h23m24s +58d48m54s", "23:23:24 +58:48:54", "23 23 24 +58 48 54" or
// decimal degrees "350.85 58.815". Nothing, with the reason in problem when
// asked, for anything else.
std::optional<RadioSource> fromText(const QString &text, QString *problem = nullptr);

// The catalogue's names, in its order.
QStringList names();

// Right ascension and declination written back as "23h23m24.0s +58d48m54s".
QString coordinatesText(double raDeg, double decDeg);

} // namespace radiosource
