// SPDX-License-Identifier: GPL-3.0-or-later
// "PTT" in the main window is the operator's choice for the next start too:
// ticked, it is ticked again once port B follows the radio after a restart.

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "windowtesting.h"

#include <QCheckBox>

using namespace windowtesting;

class tst_PttKept : public QObject
{
    Q_OBJECT

private slots:
    void keptOverARestart_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::newRow("ticked") << true;
        QTest::newRow("ticked, then unticked") << false;
    }
    void keptOverARestart()
    {
        QFETCH(bool, ticked);
        // store.cfg's defaults: a repetition every 2 s, a readout every 200 ms.
        Station<SimRotator, SimTransceiver> s(2);
        const auto followingB = [&s] {
            if (!s.window->station().portSession(StationPort::B).open) {
                s.setAutoB(true);
                s.clickOpenB();
            }
            return QTest::qWaitFor([&s] { return s.w<QCheckBox>("check_PTT")->isEnabled(); }, 10000);
        };
        QVERIFY(followingB());
        auto *ptt = s.w<QCheckBox>("check_PTT");
        QVERIFY(!ptt->isChecked());
        ptt->click();
        if (!ticked)
            ptt->click();
        QCOMPARE(s.window->station().doppler().ptt, ticked);

        s.window.reset();  // the operator closes the window; the next start in the same folder
        s.window = std::make_unique<Qt_Vestrel>();
        QVERIFY(!s.w<QCheckBox>("check_PTT")->isChecked());  // port B not followed yet
        QVERIFY(followingB());
        QCOMPARE(s.w<QCheckBox>("check_PTT")->isChecked(), ticked);
        QCOMPARE(s.window->station().doppler().ptt, ticked);
    }
};

QTEST_MAIN(tst_PttKept)
#include "tst_pttkept.moc"
