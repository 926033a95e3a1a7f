// Help > About: the version, what the program does, the licence status as
// packaging/copyright states it, and where the settings and the log are.

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
                                                     "the log in %2.")
                                         .arg(dir.path(), dir.file(QStringLiteral("vestrel.log"))));

        // Asked again, the same box comes back; closed, it goes.
        about->trigger();
        QCOMPARE(window.findChildren<AboutDialog *>().size(), 1);
        box->close();
        QTRY_VERIFY(window.findChildren<AboutDialog *>().isEmpty());
    }

    // What the box says about the licence is what the package's copyright
    // file says: changing one without the other fails here.
    void licenceAsPackaged()
    {
        QFile copyright(QFINDTESTDATA("../packaging/copyright"));
        QVERIFY(copyright.open(QIODevice::ReadOnly));
        const QString packaged = QString::fromUtf8(copyright.readAll());
        const QString holder = packaged.section(QStringLiteral("Copyright: "), 1).section(QLatin1Char('\n'), 0, 0);
        const QString licence
            = packaged.section(QStringLiteral("\nLicense: "), 1).section(QLatin1Char('\n'), 1).simplified();
        QVERIFY(!holder.isEmpty() && !licence.isEmpty());

        AboutDialog box(QStringLiteral("/home/op"), QStringLiteral("/home/op/vestrel.log"));
        QCOMPARE(child<QLabel>(box, "labelLicence")->text(), QStringLiteral("Copyright %1. %2").arg(holder, licence));
    }
};

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"
