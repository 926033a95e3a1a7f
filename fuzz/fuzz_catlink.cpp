// SPDX-License-Identifier: GPL-3.0-or-later
// The transceiver link with its worker, driven by arbitrary sequences of
// commands and reply chunks: the queue never holds more than 11 commands, and
// every frame queued or written is one of the five frames with valid BCD. The
// link lives for the whole run, as it does while port B is open; its port is
// never opened, so frames are traced but go nowhere.

#include "fuzzcheck.h"

#include "serial/serialport.h"
#include "transceiver/transceivercomm.h"

#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QCoreApplication *application = nullptr;
SerialPort *port = nullptr;
TransceiverComm *link = nullptr;
QStringList traces;

bool isFrame(const QByteArray &frame)
{
    if (frame.size() != 5)
        return false;
    const quint8 opcode = quint8(frame.at(4));
    if (opcode == 0x01)
        return fuzzing::isBcd(frame.left(4));
    return (opcode == 0x00 || opcode == 0x80 || opcode == 0x03 || opcode == 0xf7) && frame.left(4) == QByteArray(4, 0);
}

void checkQueue()
{
    const QList<QByteArray> frames = link->queuedFrames();
    FUZZ_CHECK(frames.size() <= TransceiverComm::maxQueuedCommands && TransceiverComm::maxQueuedCommands == 11,
               QStringLiteral("%1 commands queued").arg(frames.size()));
    for (const QByteArray &frame : frames)
        FUZZ_CHECK(isFrame(frame), QStringLiteral("queued %1").arg(fuzzing::hex(frame)));
}

void checkWritten()
{
    QCoreApplication::processEvents();
    const QString prefix = QStringLiteral("--thread sending: ");
    for (const QString &trace : std::as_const(traces)) {
        if (!trace.startsWith(prefix))
            continue;
        const QByteArray frame = QByteArray::fromHex(trace.mid(prefix.size()).toLatin1());
        FUZZ_CHECK(isFrame(frame), QStringLiteral("written %1").arg(trace));
    }
    traces.clear();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    application = new QCoreApplication(*argc, *argv);
    port = new SerialPort(QStringLiteral("/nonexistent/ttyFUZZ"));
    link = new TransceiverComm(port);
    QObject::connect(link, &TransceiverComm::debugMessage, [](const QString &text) { traces << text; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange(0, 7)) {
        case 0: link->catOn(); break;
        case 1: link->catOff(); break;
        case 2: link->requestFrequency(); break;
        case 3: link->requestTxStatus(); break;
        case 4: link->setFrequency(input.ConsumeIntegral<quint32>()); break;
        case 5: link->clearQueue(); break;
        case 6: {
            const std::string bytes = input.ConsumeRandomLengthString(12);
            link->takeReply(QByteArray(bytes.data(), qsizetype(bytes.size())));
            break;
        }
        default: checkWritten(); break;
        }
        checkQueue();
    }
    checkWritten();
    return 0;
}
