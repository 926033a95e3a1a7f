// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "calibration/levelsource.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class BandPower;
class QAudioSource;
class QIODevice;

// The receiver's audio from a sound card: the noise power in an audio band
// (300 to 2500 Hz unless chosen), ten levels a second. The radio's AGC must
// be off, or the noise heard stays the same wherever the antenna points.
class SoundCardLevel : public LevelSource
{
    Q_OBJECT

public:
    struct Band {
        double lowHz = 300;
        double highHz = 2500;
    };
    static constexpr int levelsPerSecond = 10;

    struct Input {
        QByteArray id;
        QString description;
    };
    // The machine's sound inputs now.
    static QList<Input> inputs();
    static QString nameOf(const QString &description) { return QStringLiteral("sound card: ") + description; }

    explicit SoundCardLevel(const Input &input, QObject *parent = nullptr);
    SoundCardLevel(const Input &input, const Band &band, QObject *parent = nullptr);
    ~SoundCardLevel() override;

    QString name() const override { return nameOf(m_input.description); }
    void start() override;
    void stop() override;

private:
    void read();
    void stopped();

    Input m_input;
    Band m_band;
    std::unique_ptr<QAudioSource> m_audio;
    QIODevice *m_io = nullptr;
    std::unique_ptr<BandPower> m_power;
    int m_sampleFormat = 0;  // QAudioFormat::SampleFormat
    int m_bytesPerFrame = 0;
    QByteArray m_partial;  // a frame cut between two reads
};
