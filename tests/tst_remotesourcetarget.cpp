// SPDX-License-Identifier: GPL-3.0-or-later
// The API's "target" command for the Source, where the sky computed here
// places it only with a radio source chosen: refused with the reason
// without one, the target in force kept.

#include "remotetesting.h"
#include "settings/sourcesettings.h"

#include <QtTest>

using namespace remotetesting;

class tst_RemoteSourceTarget : public QObject
{
    Q_OBJECT

private slots:
    void sourceWithoutAPlaceRefused_data()
    {
        QTest::addColumn<QString>("radioSource");
        QTest::addColumn<bool>("taken");
        QTest::newRow("no radio source") << QString() << false;
        QTest::newRow("Cyg A") << QStringLiteral("Cyg A") << true;
    }
    void sourceWithoutAPlaceRefused()
    {
        QFETCH(QString, radioSource);
        QFETCH(bool, taken);
        RemoteStation s;
        QVERIFY(s.listening);
        SourceSettings sky;
        sky.builtIn = true;
        sky.homeLocator = QStringLiteral("JO70FD");
        sky.radioSource = radioSource;
        s.station->setSource(sky);
        Client client(s.url());
        QVERIFY(client.waitForState());
        const QJsonObject reply = client.send(command(R"({"cmd":"target","target":"source"})"));
        QCOMPARE(reply.value("ok").toBool(), taken);
        QCOMPARE(reply.value("error").toString(),
                 taken ? QString()
                       : QStringLiteral("Source refused: no radio source is chosen for the sky computed here "
                                        "(\"Tracking source...\")"));
        QCOMPARE(s.station->target(), taken ? TrackingTarget::Source : TrackingTarget::Moon);
    }
};

QTEST_GUILESS_MAIN(tst_RemoteSourceTarget)
#include "tst_remotesourcetarget.moc"
