// SPDX-License-Identifier: GPL-3.0-or-later
// WSJT-X datagrams, whole and damaged: a message is read or refused with a
// reason, never both; what a Status passes on is bounded; and the follower
// fed the same damaged bytes three times says so once.

#include "fuzzcheck.h"

#include "wsjtx/wsjtxfollow.h"
#include "wsjtx/wsjtxmessage.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_wsjtx";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    const QByteArray datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const wsjtx::Reading reading = wsjtx::read(datagram);
    FUZZ_CHECK(!(reading.message && !reading.refusal.isEmpty()), reading.refusal);
    if (reading.message) {
        const wsjtx::Status &status = reading.message->status;
        for (const QString &text : {reading.message->id, status.mode, status.dxCall, status.deGrid, status.dxGrid})
            FUZZ_CHECK(text.size() <= wsjtx::longestText, QString::number(text.size()));
    }

    WsjtxFollow follow;
    int lines = 0;
    QObject::connect(&follow, &WsjtxFollow::message, [&lines] { ++lines; });
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1765000000, Qt::UTC);
    for (int i = 0; i < 3; ++i)
        follow.take(datagram, QStringLiteral("127.0.0.1:2237"), now);
    // A refusal is said once a minute; a WSJT-X is named when first heard
    // and, after a Close, again with its closing.
    FUZZ_CHECK(reading.refusal.isEmpty() ? lines <= 6 : lines == 1, QString::number(lines));
    FUZZ_CHECK(follow.summary().size() < 400, follow.summary());
    return 0;
}
