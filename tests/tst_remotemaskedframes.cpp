// SPDX-License-Identifier: GPL-3.0-or-later
// A client's WebSocket frames followed for their masks, in every way the
// network may cut them into pieces.

#include "remote/maskedframes.h"

#include <QtTest>

namespace {

// A client frame: FIN, the opcode, the length in the form its size asks, then the mask key.
QByteArray frame(qsizetype length, bool masked, int opcode = 0x1, char fill = 'x')
{
    QByteArray bytes(1, char(0x80 | opcode));
    const char mask = masked ? char(0x80) : char(0);
    if (length < 126) {
        bytes += char(mask | char(length));
    } else if (length < 65536) {
        bytes += char(mask | 126);
        bytes += char(length >> 8);
        bytes += char(length & 0xff);
    } else {
        bytes += char(mask | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes += char((quint64(length) >> shift) & 0xff);
    }
    if (masked)
        bytes += QByteArray("\x01\x02\x03\x04", 4);
    return bytes + QByteArray(length, fill);
}

} // namespace

class tst_RemoteMaskedFrames : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("masked");
        QTest::newRow("a masked command") << frame(20, true) << true;
        QTest::newRow("an unmasked command") << frame(20, false) << false;
        QTest::newRow("an empty masked frame") << frame(0, true) << true;
        QTest::newRow("several masked") << frame(3, true) + frame(125, true) + frame(126, true) << true;
        QTest::newRow("an unmasked one after masked ones") << frame(3, true) + frame(200, true) + frame(5, false)
                                                          << false;
        // A payload of bytes that would read as an unmasked header, were it not skipped.
        QTest::newRow("a payload that looks like a header") << frame(300, true, 0x1, char(0x01)) << true;
        QTest::newRow("a 16-bit length, then unmasked") << frame(1000, true) + frame(1, false) << false;
        QTest::newRow("a 64-bit length") << frame(70000, true) + frame(2, true) << true;
        QTest::newRow("a 64-bit length, then unmasked") << frame(70000, true) + frame(2, false) << false;
        QTest::newRow("an unmasked close") << frame(2, false, 0x8) << false;
        QTest::newRow("a masked ping and a command") << frame(4, true, 0x9) + frame(10, true) << true;
    }
    void frames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, masked);
        for (const qsizetype piece : {qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(7), bytes.size()}) {
            remote::MaskedFrames frames;
            bool ok = true;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                ok = frames.take(bytes.mid(at, piece));
            QVERIFY2(ok == masked, qPrintable(QStringLiteral("in pieces of %1").arg(piece)));
        }
    }

    // Once an unmasked frame is seen, nothing after it makes the connection good again.
    void staysRefused()
    {
        remote::MaskedFrames frames;
        QVERIFY(!frames.take(frame(3, false)));
        QVERIFY(!frames.take(frame(3, true)));
    }
};

QTEST_GUILESS_MAIN(tst_RemoteMaskedFrames)
#include "tst_remotemaskedframes.moc"
