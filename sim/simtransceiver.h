// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "sim/ptypeer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <deque>

class PreciseTimer;

// A simulated Yaesu FT-817 or FT-847 at the far end of a pty. Cuts the bytes
// it receives into 5-byte CAT frames, records each, and answers as the radio
// does: 0x03 with the frequency (packed BCD, 10 Hz units) and the mode byte,
// 0xF7 with the status byte (bit 7 clear while transmitting), 0x01 sets the
// frequency; the FT-847 counts CAT ON (0x00) and CAT OFF (0x80). EEPROM reads
// (0xBB) get two bytes. Switches simulate the faults a real line shows.
class SimTransceiver : public PtyPeer
{
    Q_OBJECT

public:
    enum Model { FT817, FT847 };

    explicit SimTransceiver(QObject *parent = nullptr);

    void setModel(Model model) { m_model = model; }
    Model model() const { return m_model; }

    // Hz; kept to the radio's 10 Hz steps only by what arrives in frames.
    void setFrequency(quint32 hz) { m_frequencyHz = hz; }
    quint32 frequency() const { return m_frequencyHz; }
    void setMode(quint8 mode) { m_mode = mode; }
    quint8 mode() const { return m_mode; }
    void setTransmitting(bool transmitting) { m_transmitting = transmitting; }
    bool transmitting() const { return m_transmitting; }

    // Every frame received, oldest first, and when each was complete (ms
    // since the simulator was made).
    QList<QByteArray> frames() const { return m_frames; }
    QList<qint64> frameTimes() const { return m_frameTimes; }
    void clearFrames();
    int catOnCount() const { return m_catOnCount; }
    int catOffCount() const { return m_catOffCount; }

    // The radio's turnaround: each reply starts this many ms after its frame.
    void setReplyDelay(int ms) { m_replyDelayMs = ms; }
    // Each reply goes out in pieces of these sizes, gapMs apart (bytes left
    // over form a last piece); empty: in one piece.
    void setSplitReply(const QList<int> &pieces, int gapMs = 40);
    // Replies one byte longer than the radio's, of 0xEE bytes.
    void setGarbage(bool on) { m_garbage = on; }
    // Each reply is held back and goes out in one write with the next one.
    void setMergedReplies(bool on)
    {
        m_merged = on;
        m_heldReply.clear();
    }
    // Records frames and does nothing else.
    void setSilent(bool on) { m_silent = on; }
    // Both directions take the time of a 9600-baud 8N1 line: the radio acts
    // on a frame only when its last byte would have arrived, and its replies
    // go out byte by byte at the same pace.
    void setLineTiming(bool on) { m_lineTiming = on; }
    // Commands without a reply of their own are acknowledged with one 0x00
    // byte, as an FT-817 does and as Hamlib's driver waits for.
    void setAcknowledge(bool on) { m_acknowledge = on; }
    // With line timing: each reply reaches the port in one piece once its
    // last byte is in, as a UART with a receive FIFO or a USB adapter hands
    // it over, rather than byte by byte.
    void setWholeReplies(bool on) { m_wholeReplies = on; }

    // The time one byte takes on a 9600-baud 8N1 line.
    static constexpr qint64 byteTimeNs = 10 * 1'000'000'000LL / 9600;

    // The frequency reply bytes for hz (4 BCD bytes and the mode byte).
    static QByteArray frequencyReply(quint32 hz, quint8 mode);

signals:
    void frameReceived(const QByteArray &frame);

protected:
    void handleBytes(const QByteArray &chunk) override;

private:
    void takeFrame(const QByteArray &frame, qint64 completeNs);
    void takeDueFrames();
    void answer(const QByteArray &reply, qint64 frameCompleteNs);
    void schedule(qint64 dueNs, const QByteArray &bytes);
    void sendDue();

    struct Pending {
        qint64 dueNs;
        QByteArray bytes;
    };

    Model m_model = FT817;
    quint32 m_frequencyHz = 432'065'000;
    quint8 m_mode = 0x01;  // USB
    bool m_transmitting = false;

    QByteArray m_partial;
    qint64 m_inboundFreeNs = 0;  // when the line towards the radio falls quiet
    std::deque<Pending> m_inbound;  // frames on the line, not yet complete
    PreciseTimer *m_takeTimer = nullptr;
    QList<QByteArray> m_frames;
    QList<qint64> m_frameTimes;
    int m_catOnCount = 0;
    int m_catOffCount = 0;

    int m_replyDelayMs = 0;
    QList<int> m_splitPieces;
    int m_splitGapMs = 40;
    bool m_garbage = false;
    bool m_silent = false;
    bool m_lineTiming = false;
    bool m_acknowledge = false;
    bool m_merged = false;
    QByteArray m_heldReply;
    bool m_wholeReplies = false;

    QElapsedTimer m_clock;
    std::deque<Pending> m_pending;  // due times never decrease: the line is serial
    PreciseTimer *m_sendTimer = nullptr;
};
