// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibration/soundcardlevel.h"

#include "calibration/bandpower.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <cstring>
#include <vector>

namespace {

// A second of 8-channel 32-bit audio at 192 kHz: more than that waiting is
// not read in one go, and what is older is of no use for a level now.
constexpr qint64 mostBytesARead = 8 * 4 * 192000;

QString errorText(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("it cannot be opened");
    case QAudio::IOError:
        return QStringLiteral("it cannot be read");
    case QAudio::UnderrunError:
        return QStringLiteral("its audio stopped coming");
    case QAudio::FatalError:
        return QStringLiteral("it failed");
    case QAudio::NoError:
        break;
    }
    return QStringLiteral("it stopped");
}

// One sample, full scale 1.
float sampleAt(const char *at, QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return (float(quint8(*at)) - 128.0f) / 128.0f;
    case QAudioFormat::Int16: {
        qint16 value;
        std::memcpy(&value, at, sizeof value);
        return float(value) / 32768.0f;
    }
    case QAudioFormat::Int32: {
        qint32 value;
        std::memcpy(&value, at, sizeof value);
        return float(double(value) / 2147483648.0);
    }
    case QAudioFormat::Float: {
        float value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    default:
        return 0;
    }
}

} // namespace

QList<SoundCardLevel::Input> SoundCardLevel::inputs()
{
    QList<Input> list;
    for (const QAudioDevice &device : QMediaDevices::audioInputs())
        list.append({device.id(), device.description()});
    return list;
}

SoundCardLevel::SoundCardLevel(const Input &input, QObject *parent)
    : SoundCardLevel(input, Band(), parent)
{
}

SoundCardLevel::SoundCardLevel(const Input &input, const Band &band, QObject *parent)
    : LevelSource(parent)
    , m_input(input)
    , m_band(band)
{
}

SoundCardLevel::~SoundCardLevel()
{
    stop();
}

void SoundCardLevel::start()
{
    stop();
    QAudioDevice device;
    for (const QAudioDevice &input : QMediaDevices::audioInputs())
        if (input.id() == m_input.id)
            device = input;
    if (device.isNull()) {
        emit failed(QStringLiteral("the sound card %1 is not there any more").arg(m_input.description));
        return;
    }
    // Mono at the card's own rate, in floats where it gives them.
    QAudioFormat format = device.preferredFormat();
    format.setChannelCount(1);
    QAudioFormat floats = format;
    floats.setSampleFormat(QAudioFormat::Float);
    if (device.isFormatSupported(floats))
        format = floats;
    if (!device.isFormatSupported(format))
        format = device.preferredFormat();
    if (format.sampleRate() <= 0 || format.bytesPerFrame() <= 0) {
        emit failed(QStringLiteral("the sound card %1 gives no audio format to read").arg(m_input.description));
        return;
    }
    m_sampleFormat = format.sampleFormat();
    m_bytesPerFrame = format.bytesPerFrame();
    m_partial.clear();
    m_power = std::make_unique<BandPower>(format.sampleRate(), m_band.lowHz, m_band.highHz);
    m_power->setBlock(format.sampleRate() / levelsPerSecond);
    m_audio = std::make_unique<QAudioSource>(device, format);
    connect(m_audio.get(), &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_audio && m_audio->error() != QAudio::NoError)
            stopped();
    });
    m_io = m_audio->start();
    if (!m_io) {
        stopped();
        return;
    }
    connect(m_io, &QIODevice::readyRead, this, &SoundCardLevel::read);
}

void SoundCardLevel::stop()
{
    if (m_audio) {
        m_audio->disconnect(this);
        m_audio->stop();
    }
    m_io = nullptr;
    m_audio.reset();
}

void SoundCardLevel::stopped()
{
    const QString why = errorText(m_audio ? m_audio->error() : QAudio::FatalError);
    stop();
    emit failed(QStringLiteral("the sound card %1: %2").arg(m_input.description, why));
}

// The first channel of each whole frame, through the band.
void SoundCardLevel::read()
{
    if (!m_io)
        return;
    const QByteArray bytes = m_partial + m_io->read(mostBytesARead);
    const qsizetype frames = bytes.size() / m_bytesPerFrame;
    std::vector<float> samples(static_cast<std::size_t>(frames));
    const auto format = QAudioFormat::SampleFormat(m_sampleFormat);
    for (qsizetype i = 0; i < frames; ++i)
        samples[std::size_t(i)] = sampleAt(bytes.constData() + i * m_bytesPerFrame, format);
    m_partial = bytes.mid(frames * m_bytesPerFrame);
    for (const double power : m_power->add(samples.data(), int(samples.size())))
        emit level(power);
}
