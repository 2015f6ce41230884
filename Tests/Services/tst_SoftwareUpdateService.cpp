#include "Services/SoftwareUpdateService.h"

#include <QGuiApplication>
#include <QTest>

class TestSoftwareUpdateService : public QObject
{
    Q_OBJECT

private slots:
    void updaterStartsOnlyForTheProductWithAFeed_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QVariant>("feed");
        QTest::addColumn<bool>("starts");
        const QString product = SoftwareUpdateService::productBundleIdentifier;
        QTest::newRow("product with feed") << product << QVariant("https://example.invalid/feed.xml") << true;
        QTest::newRow("empty feed") << product << QVariant(QString()) << false;
        QTest::newRow("feed not a string") << product << QVariant(42) << false;
        QTest::newRow("other identity")
            << QString("com.quorvel.dovrin.dev") << QVariant("https://x/feed") << false;
        QTest::newRow("no identity") << QString() << QVariant("https://x/feed") << false;
    }

    void updaterStartsOnlyForTheProductWithAFeed()
    {
        QFETCH(QString, identifier);
        QFETCH(QVariant, feed);
        SoftwareUpdateService::BundleInfo bundle;
        if (!identifier.isEmpty())
            bundle.identifier = identifier;
        if (feed.isValid())
            bundle.info.insert("SUFeedURL", feed);
        QTEST(SoftwareUpdateService::shouldStartUpdater(bundle), "starts");
        // This build has no feed: the service it gives the app stays off whatever it is told.
        QGuiApplication::setDesktopFileName(SoftwareUpdateService::productBundleIdentifier);
        QVERIFY(!SoftwareUpdateService::shouldStartUpdater(SoftwareUpdateService::BundleInfo::main()));
        const SoftwareUpdateService service = SoftwareUpdateService::disabled();
        service.setAutomaticallyChecks(true);
        service.checkForUpdates();
        QVERIFY(!service.automaticallyChecks());
    }
};

QTEST_GUILESS_MAIN(TestSoftwareUpdateService)
#include "tst_SoftwareUpdateService.moc"
