// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/radiosource.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace {

// Longer text is no coordinate pair; it is refused before any parsing and
// never echoed whole.
constexpr qsizetype longestText = 64;

// The catalogue key: no case, no blanks, no star ("Sgr A*" = "sgra").
QString key(const QString &name)
{
    QString k = name.toLower();
    k.remove(QRegularExpression(QStringLiteral("[\\s*]")));
    return k;
}

bool fail(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return false;
}

bool isDecimal(const QString &text)
{
    static const QRegularExpression decimal(QStringLiteral("^(\\d+(\\.\\d*)?|\\.\\d+)$"));
    return decimal.match(text).hasMatch();
}

// "23h23m24.5s", "23:23:24.5", "58d48m54s", "58°48'54\"" and their shorter
// forms ("23h", "23h23m"); firstUnits are the separators allowed after the
// first number (h or d). Unsigned; the value in the first number's unit.
std::optional<double> sexagesimal(const QString &text, const QString &firstUnits)
{
    const QRegularExpression form(QStringLiteral("^(\\d{1,3})[%1:](?:(\\d{1,2})[m'\u2032:](?:(\\d{1,2}(?:\\.\\d*)?)[s\"\u2033]?)?)?$")
                                      .arg(firstUnits));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double minutes = match.captured(2).isEmpty() ? 0.0 : match.captured(2).toDouble();
    const double seconds = match.captured(3).isEmpty() ? 0.0 : match.captured(3).toDouble();
    if (minutes >= 60.0 || seconds >= 60.0)
        return std::nullopt;
    return match.captured(1).toDouble() + minutes / 60.0 + seconds / 3600.0;
}

bool parseRa(const QString &text, double &degrees, QString *problem)
{
    const QString example = QStringLiteral("like 23h23m24s, or 350.85 in degrees");
    if (isDecimal(text)) {
        degrees = text.toDouble();
    } else if (const auto hours = sexagesimal(text, QStringLiteral("hH"))) {
        if (*hours >= 24.0)
            return fail(problem, QStringLiteral("right ascension '%1' is not below 24h").arg(text));
        degrees = *hours * 15.0;
    } else {
        return fail(problem, QStringLiteral("'%1' is not a right ascension (%2)").arg(text, example));
    }
    if (degrees >= 360.0)
        return fail(problem, QStringLiteral("right ascension '%1' is not below 360 degrees").arg(text));
    return true;
}

bool parseDec(const QString &text, double &degrees, QString *problem)
{
    const bool negative = text.startsWith(u'-');
    const QString body = text.startsWith(u'-') || text.startsWith(u'+') ? text.mid(1) : text;
    std::optional<double> value;
    if (isDecimal(body))
        value = body.toDouble();
    else
        value = sexagesimal(body, QStringLiteral("dD\u00b0"));
    if (!value)
        return fail(problem,
                    QStringLiteral("'%1' is not a declination (like +58d48m54s, or 58.815 in degrees)").arg(text));
    if (*value > 90.0)
        return fail(problem, QStringLiteral("declination '%1' is beyond 90 degrees").arg(text));
    degrees = negative ? -*value : *value;
    return true;
}

} // namespace

namespace radiosource {

const QList<RadioSource> &catalogue()
{
    // J2000 positions of the radio sources (Cas A and Cyg A as 3C 461 and
    // 3C 405, Tau A the Crab nebula, Vir A the core of M87, Sgr A* the
    // Galactic centre).
    static const QList<RadioSource> sources {
        {QStringLiteral("Cas A"), 15.0 * (23 + 23 / 60.0 + 24.0 / 3600.0), 58 + 48 / 60.0 + 54.0 / 3600.0},
        {QStringLiteral("Cyg A"), 15.0 * (19 + 59 / 60.0 + 28.357 / 3600.0), 40 + 44 / 60.0 + 2.10 / 3600.0},
        {QStringLiteral("Tau A"), 15.0 * (5 + 34 / 60.0 + 31.94 / 3600.0), 22 + 0 / 60.0 + 52.2 / 3600.0},
        {QStringLiteral("Vir A"), 15.0 * (12 + 30 / 60.0 + 49.42 / 3600.0), 12 + 23 / 60.0 + 28.04 / 3600.0},
        {QStringLiteral("Sgr A*"), 15.0 * (17 + 45 / 60.0 + 40.04 / 3600.0), -(29 + 0 / 60.0 + 28.17 / 3600.0)},
    };
    return sources;
}

std::optional<RadioSource> fromText(const QString &text, QString *problem)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        fail(problem, QStringLiteral("no radio source given"));
        return std::nullopt;
    }
    if (trimmed.size() > longestText) {
        fail(problem, QStringLiteral("the radio source's text is longer than %1 characters").arg(longestText));
        return std::nullopt;
    }
    for (const RadioSource &source : catalogue()) {
        if (key(source.name) == key(trimmed))
            return source;
    }

    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QStringList parts = trimmed.split(separators, Qt::SkipEmptyParts);
    if (parts.size() == 6)  // "23 23 24 +58 48 54"
        parts = QStringList {parts.mid(0, 3).join(u':'), parts.mid(3, 3).join(u':')};
    if (parts.size() != 2) {
        fail(problem, QStringLiteral("'%1' is neither a known source (%2) nor a right ascension and declination "
                                     "(like 23h23m24s +58d48m54s, or 350.85 58.815 in degrees)")
                          .arg(trimmed, names().join(QStringLiteral(", "))));
        return std::nullopt;
    }
    RadioSource source;
    if (!parseRa(parts.at(0), source.raDeg, problem) || !parseDec(parts.at(1), source.decDeg, problem))
        return std::nullopt;
    source.name = coordinatesText(source.raDeg, source.decDeg);
    return source;
}

QStringList names()
{
    QStringList list;
    for (const RadioSource &source : catalogue())
        list << source.name;
    return list;
}

QString coordinatesText(double raDeg, double decDeg)
{
    // Hundredths of a second of time and tenths of a second of arc: finer
    // than any antenna, and a typed position read back is the same place.
    const qint64 raUnits = std::llround(raDeg / 15.0 * 360000.0) % (24 * 360000);
    const qint64 decUnits = std::llround(std::fabs(decDeg) * 36000.0);
    return QStringLiteral("%1h%2m%3s %4%5d%6m%7s")
        .arg(raUnits / 360000, 2, 10, QLatin1Char('0'))
        .arg(raUnits / 6000 % 60, 2, 10, QLatin1Char('0'))
        .arg(QString::number(double(raUnits % 6000) / 100.0, 'f', 2).rightJustified(5, QLatin1Char('0')))
        .arg(QLatin1Char(decDeg < 0 && decUnits > 0 ? '-' : '+'))
        .arg(decUnits / 36000, 2, 10, QLatin1Char('0'))
        .arg(decUnits / 600 % 60, 2, 10, QLatin1Char('0'))
        .arg(QString::number(double(decUnits % 600) / 10.0, 'f', 1).rightJustified(4, QLatin1Char('0')));
}

} // namespace radiosource
