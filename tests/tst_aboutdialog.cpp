// SPDX-License-Identifier: GPL-3.0-or-later
// Help > About: the version, what the program does, the licence as
// packaging/copyright and the AppStream metadata state it, and where the
// settings and the log are.

#include "ui/aboutdialog.h"
#include "windowtesting.h"

#include <QLabel>
#include <QtTest>

using namespace windowtesting;

class tst_AboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void fromTheHelpMenu()
    {
        WorkDir dir;
        Qt_Vestrel window;
        window.show();
        QAction *about = action(window, "actionAbout");
        about->trigger();
        auto *box = window.findChild<AboutDialog *>();
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        const auto text = [box](const char *name) { return child<QLabel>(*box, name)->text(); };

        QVERIFY(text("labelVersion").startsWith(QStringLiteral("Vestrel %1 ").arg(QStringLiteral(VESTREL_VERSION))));
        QVERIFY(text("labelWhat").contains(QLatin1String("Doppler")));
        QCOMPARE(text("labelFiles"), QStringLiteral("Settings are kept in %1 (store.cfg, network.cfg, source.cfg), "
                                                     "calibrations in calibration.csv, the log in %2.")
                                         .arg(dir.path(), dir.file(QStringLiteral("vestrel.log"))));
        for (const char *said : {"Hamlib linked in", "Calibrate...", "calibration.csv"})
            QVERIFY2(text("labelWhat").contains(QLatin1String(said)), said);

        // Asked again, the same box comes back; closed, it goes.
        about->trigger();
        QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
        box->close();
        QTRY_VERIFY(window.findChildren<AboutDialog *>().isEmpty());
    }

    // What the box says about the licence is what the package's copyright
    // file and the AppStream metadata say: changing one without the others
    // fails here.
    void licenceAsPackaged()
    {
        QFile copyright(QFINDTESTDATA("../packaging/copyright"));
        QVERIFY(copyright.open(QIODevice::ReadOnly));
        const QString packaged = QString::fromUtf8(copyright.readAll());
        const QString holder = packaged.section(QStringLiteral("Copyright: "), 1).section(QLatin1Char('\n'), 0, 0);
        const QString debianName = packaged.section(QStringLiteral("\nLicense: "), 1).section(QLatin1Char('\n'), 0, 0);
        QVERIFY(!holder.isEmpty());
        QFile metainfo(QFINDTESTDATA("../packaging/org.vestrel.vestrel.metainfo.xml"));
        QVERIFY(metainfo.open(QIODevice::ReadOnly));
        const QString spdx = QString::fromUtf8(metainfo.readAll())
                                 .section(QStringLiteral("<project_license>"), 1)
                                 .section(QStringLiteral("</project_license>"), 0, 0);
        // Debian's short name beside the SPDX identifier AppStream wants.
        QCOMPARE(debianName, QStringLiteral("GPL-3+"));
        QCOMPARE(spdx, QStringLiteral("GPL-3.0-or-later"));

        AboutDialog box(QStringLiteral("/home/op"), QStringLiteral("/home/op/vestrel.log"));
        QCOMPARE(child<QLabel>(box, "labelLicence")->text(),
                 QStringLiteral("Copyright %1. Licence: %2. Vestrel is free software: you may share and change it "
                                "under the GNU General Public License, version 3 or any later version. It comes "
                                "with no warranty.")
                     .arg(holder, spdx));
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"
