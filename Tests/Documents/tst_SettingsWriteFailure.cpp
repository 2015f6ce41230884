#include "Documents/DefaultsStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

// Runs `checks` in a child that is not root, so modes are obeyed; answers the child's exit status
// (the number of the first check that failed, 0 when all held).
template <typename F> int asUnprivileged(const QString &folder, F checks)
{
    if (::chown(QFile::encodeName(folder).constData(), nobody, nobody) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0
            || ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(100);
        ::prctl(PR_SET_DUMPABLE, 1);
        ::_exit(checks());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class TestSettingsWriteFailure : public QObject
{
    Q_OBJECT

private slots:
    void failedWriteReported_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("read-only file") << true;
        QTest::newRow("read-only folder, no file yet") << false;
    }

    // A write that cannot reach the disk is reported, keeps the value in memory and leaves the file
    // as it was; once the disk takes writes again the next change writes everything and clears it.
    void failedWriteReported()
    {
        QFETCH(bool, fileExists);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        const QString folder = dir.filePath(QStringLiteral("config"));
        QVERIFY(QDir().mkpath(folder));
        const int failedCheck = asUnprivileged(folder, [&] {
            const std::unique_ptr<SettingsDefaultsStore> store
                = SettingsDefaultsStore::open(QStringLiteral("suite"), folder);
            if (!store)
                return 1;
            const QByteArray path = QFile::encodeName(store->fileName());
            if (fileExists) {
                store->setString(QStringLiteral("kept"), QStringLiteral("before"));
                if (store->writeFailure() || ::chmod(path.constData(), 0444) != 0)
                    return 2;
            } else if (::chmod(QFile::encodeName(folder).constData(), 0555) != 0) {
                return 2;
            }
            const QByteArray onDisk = TestSupport::readFile(store->fileName());
            store->setString(QStringLiteral("kept"), QStringLiteral("after"));
            if (!store->writeFailure() || store->string(QStringLiteral("kept")) != QStringLiteral("after"))
                return 3;
            if (TestSupport::readFile(store->fileName()) != onDisk)
                return 4;
            ::chmod(QFile::encodeName(folder).constData(), 0755);
            ::chmod(path.constData(), 0644);
            store->setBoolean(QStringLiteral("flag"), true);
            if (store->writeFailure())
                return 5;
            const QByteArray written = TestSupport::readFile(store->fileName());
            return written.contains("kept=after") && written.contains("flag=true") ? 0 : 6;
        });
        QCOMPARE(failedCheck, 0);
    }
};

QTEST_GUILESS_MAIN(TestSettingsWriteFailure)
#include "tst_SettingsWriteFailure.moc"
