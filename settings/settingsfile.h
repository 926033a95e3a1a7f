// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QString>

#include <functional>
#include <optional>

// The operator's nine settings in store.cfg. Nothing is cached: every read
// opens, reads and closes the file, every write rewrites all nine lines, so
// the file is the only copy. Reads that fail give defaults; nothing reports.
class SettingsFile
{
public:
    static QString defaultPath() { return QStringLiteral("store.cfg"); }
    explicit SettingsFile(const QString &path = defaultPath());
    virtual ~SettingsFile();

    // Whether the file was there when the store was opened: false on a first start.
    bool existedAtStart() const { return m_existedAtStart; }
    // The folder the file is kept in, absolute.
    QString folder() const;

    SettingsFile(const SettingsFile &) = delete;
    SettingsFile &operator=(const SettingsFile &) = delete;

    // Line n without its line ending; "error" when the file cannot be opened.
    QString readLine(quint16 n);
    // Replaces line n and writes the nine lines back, the other lines' bytes
    // as they were; skipped on failure.
    void writeLine(const QString &text, quint16 n);

    // Told, once per session, that a setting could not be saved and why.
    void setFailureReport(std::function<void(const QString &)> report);

    QString readFilename();
    int readRepetitionTime();
    float readElevationOffset();
    float readAzimutOffset();
    int readMessageDelay();
    double readAzimuthRounding();
    double readElevationRounding();
    double readAzimuthParking();
    double readElevationParking();

    void writeFilename(const QString &folder);
    void writeRepetitionTime(unsigned int seconds);
    void writeElevationOffset(float degrees);
    void writeAzimutOffset(float degrees);
    void writeMessageDelay(unsigned int milliseconds);
    void writeAzimuthRounding(double value);
    void writeElevationRounding(double value);
    void writeAzimuthParking(double degrees);
    void writeElevationParking(double degrees);

private:
    QString valueText(quint16 n, bool &valid);
    int readInt(quint16 n, int fallback);
    std::optional<float> readSingle(quint16 n);
    double readWidened(quint16 n, double fallback);
    void writeValue(quint16 n, const QString &value);
    void reportFailure(const QString &reason);

    QFile m_file;
    std::function<void(const QString &)> m_report;
    bool m_failureReported = false;
    bool m_existedAtStart = false;
};
