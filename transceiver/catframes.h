// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The Yaesu FT-817/FT-847 CAT frames this system sends and the replies it
// decodes. Every frame is four parameter bytes followed by the opcode; no
// port is involved here.
namespace cat {

// Which reply the link expects after writing a frame. The numbers show in the
// link's debug trace.
enum RequestState : qint8 {
    RequestNone = 0,      // no reply: any byte is unexpected
    RequestFrequency = 1, // the 5-byte frequency and mode reply
    RequestStatus = 2,    // the 1-byte transmit-status reply
};

// How the link queues one kind of frame: whether the worker waits for a reply,
// how long it pauses right after writing, and the request state it takes on.
struct CommandTraits {
    quint8 opcode;
    bool awaitingReply;
    int delayMs;
    RequestState requestState;
};

inline constexpr CommandTraits catOnCommand {0x00, false, 20, RequestNone};
inline constexpr CommandTraits catOffCommand {0x80, false, 20, RequestNone};
inline constexpr CommandTraits requestFrequencyCommand {0x03, true, 0, RequestFrequency};
inline constexpr CommandTraits requestTxStatusCommand {0xF7, true, 0, RequestStatus};
inline constexpr CommandTraits setFrequencyCommand {0x01, false, 20, RequestNone};
inline constexpr CommandTraits pttOnCommand {0x08, false, 20, RequestNone};
inline constexpr CommandTraits pttOffCommand {0x88, false, 20, RequestNone};

inline constexpr int frameSize = 5;
inline constexpr int frequencyReplySize = 5;
inline constexpr int statusReplySize = 1;

// Highest frequency a frame can carry: it rounds to 999.99999 MHz; one hertz
// more rounds to 1000 MHz, which needs a ninth digit.
inline constexpr qint64 maxFrameFrequencyHz = 999'999'994;

QByteArray catOnFrame();
QByteArray catOffFrame();
QByteArray requestFrequencyFrame();
QByteArray requestTxStatusFrame();
QByteArray pttFrame(bool on);
// 432065004 -> 43 20 65 00 01: packed BCD in units of 10 Hz, rounded to the
// nearest 10 Hz (5 Hz up) in unsigned 32-bit arithmetic. Values beyond
// maxFrameFrequencyHz come out truncated or wrapped; check frameCanCarry first.
QByteArray setFrequencyFrame(quint32 hz);

// True when hz (before any truncation to 32 bits) fits a set-frequency frame:
// 0 to maxFrameFrequencyHz.
bool frameCanCarry(qint64 hz);

// MHz from the first four bytes of a frequency reply (the mode byte is not
// used). Nibbles above 9 count with their value, as the radio sent them.
// Empty when fewer than four bytes are given.
std::optional<double> decodeFrequency(const QByteArray &reply);

// Bit 7 clear means the transceiver is transmitting.
bool decodeTransmitting(char status);

} // namespace cat
