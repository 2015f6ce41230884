// Variables changed for a scope come back exactly as they were: unset ones unset, empty ones empty.
#include "ScopedEnvironment.h"

#include <QTest>

namespace {

const char *const name = "QUORVEL_SCOPED_ENVIRONMENT_TEST";

// "<unset>" for a variable that is not set at all.
QByteArray current(const char *variable = name)
{
    return qEnvironmentVariableIsSet(variable) ? qgetenv(variable) : QByteArray("<unset>");
}

void put(const QByteArray &value, const char *variable = name)
{
    if (value == "<unset>")
        qunsetenv(variable);
    else
        qputenv(variable, value);
}

} // namespace

class TestScopedEnvironment : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv(name); }

    // The value before the scope, the changes in it ("=<value>" or "-" to unset), what they leave.
    void changesAreUndone_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QList<QByteArray>>("changes");
        QTest::addColumn<QByteArray>("inside");
        QTest::newRow("unset, then set")
            << QByteArray("<unset>") << QList<QByteArray> { "=x" } << QByteArray("x");
        QTest::newRow("unset, then set empty")
            << QByteArray("<unset>") << QList<QByteArray> { "=" } << QByteArray();
        QTest::newRow("empty, then unset")
            << QByteArray() << QList<QByteArray> { "-" } << QByteArray("<unset>");
        QTest::newRow("empty, then set") << QByteArray() << QList<QByteArray> { "=x" } << QByteArray("x");
        QTest::newRow("a value, then unset")
            << QByteArray("a") << QList<QByteArray> { "-" } << QByteArray("<unset>");
        QTest::newRow("unset, set twice")
            << QByteArray("<unset>") << QList<QByteArray> { "=x", "=y" } << QByteArray("y");
        QTest::newRow("a value, set and unset")
            << QByteArray("a") << QList<QByteArray> { "=b", "-" } << QByteArray("<unset>");
        QTest::newRow("unset, unset again")
            << QByteArray("<unset>") << QList<QByteArray> { "-", "-" } << QByteArray("<unset>");
    }
    void changesAreUndone()
    {
        QFETCH(QByteArray, before);
        QFETCH(QList<QByteArray>, changes);
        put(before);
        {
            ScopedEnvironment environment;
            for (const QByteArray &change : changes) {
                if (change == "-")
                    environment.unset(name);
                else
                    environment.set(name, change.mid(1));
            }
            QTEST(current(), "inside");
        }
        QCOMPARE(current(), before);
    }

    // restore() puts things back at once, and what changes after it is undone at the scope's end;
    // an inner scope gives back the outer one's value, and other variables are left alone.
    void restoreAndNesting()
    {
        const char *other = "QUORVEL_SCOPED_ENVIRONMENT_OTHER";
        put("untouched", other);
        {
            ScopedEnvironment outer;
            outer.set(name, "outer");
            {
                ScopedEnvironment inner;
                inner.set(name, "inner").unset(other);
                QCOMPARE(current(), QByteArray("inner"));
                inner.restore();
                QCOMPARE(current(other), QByteArray("untouched"));
                QCOMPARE(current(), QByteArray("outer"));
                inner.unset(name);
                QCOMPARE(current(), QByteArray("<unset>"));
            }
            QCOMPARE(current(), QByteArray("outer"));
        }
        QCOMPARE(current(), QByteArray("<unset>"));
        QCOMPARE(current(other), QByteArray("untouched"));
        qunsetenv(other);
    }
};

QTEST_APPLESS_MAIN(TestScopedEnvironment)
#include "tst_ScopedEnvironment.moc"
