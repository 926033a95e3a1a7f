// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/catframes.h"

namespace cat {

namespace {

QByteArray fixedFrame(const CommandTraits &command)
{
    return QByteArray("\0\0\0\0", 4) + char(command.opcode);
}

// The last decimal digit of each value, packed into one byte, high nibble first.
char bcdPair(quint32 tens, quint32 units)
{
    return char(quint8((tens % 10) * 16 + units % 10));
}

} // namespace

QByteArray catOnFrame()
{
    return fixedFrame(catOnCommand);
}

QByteArray catOffFrame()
{
    return fixedFrame(catOffCommand);
}

QByteArray requestFrequencyFrame()
{
    return fixedFrame(requestFrequencyCommand);
}

QByteArray requestTxStatusFrame()
{
    return fixedFrame(requestTxStatusCommand);
}

QByteArray pttFrame(bool on)
{
    return fixedFrame(on ? pttOnCommand : pttOffCommand);
}

QByteArray setFrequencyFrame(quint32 hz)
{
    const quint32 n = (hz + 5u) / 10u;  // 10 Hz units
    QByteArray frame;
    frame.reserve(frameSize);
    // The top digit is not reduced: 100 MHz and more would need another digit.
    frame += char(quint8((n / 10'000'000u) * 16 + (n / 1'000'000u) % 10));
    quint32 r = n % 1'000'000u;
    frame += bcdPair(r / 100'000u, r / 10'000u);
    r %= 10'000u;
    frame += bcdPair(r / 1'000u, r / 100u);
    r %= 100u;
    frame += bcdPair(r / 10u, r);
    frame += char(setFrequencyCommand.opcode);
    return frame;
}

bool frameCanCarry(qint64 hz)
{
    return hz >= 0 && hz <= maxFrameFrequencyHz;
}

std::optional<double> decodeFrequency(const QByteArray &reply)
{
    if (reply.size() < 4)
        return std::nullopt;
    const auto hi = [&](int i) { return (quint8(reply.at(i)) >> 4) & 0x0F; };
    const auto lo = [&](int i) { return quint8(reply.at(i)) & 0x0F; };
    // Summed in this order so that the result matches the radio's display digit by digit.
    double mhz = 100 * hi(0) + 10 * lo(0) + hi(1);
    mhz += 0.1 * lo(1);
    mhz += 0.01 * hi(2);
    mhz += 0.001 * lo(2);
    mhz += 0.0001 * hi(3);
    mhz += 0.00001 * lo(3);
    return mhz;
}

bool decodeTransmitting(char status)
{
    return (quint8(status) & 0x80) == 0;
}

} // namespace cat
