// What g++ 12 does with objects built inside a co_await expression: each shape the sources use,
// the objects made against those destroyed once the awaiting task has finished. Under the address
// sanitizer a second destruction of memory-owning objects is also reported as a double free.
#include "Async/Task.h"

#include <QCoreApplication>
#include <QTest>
#include <QtConcurrent>

#include <atomic>

namespace {

// Also counted on the worker that runs a future's lambda.
struct Tally
{
    std::atomic<int> made = 0;
    std::atomic<int> destroyed = 0;
};
Tally tally;

// Owns heap memory: destroyed twice, it is freed twice.
struct Owning
{
    QString text = QStringLiteral("long enough to live on the heap, not inside the string");
    Owning() { ++tally.made; }
    Owning(const Owning &other)
        : text(other.text)
    {
        ++tally.made;
    }
    Owning(Owning &&other) noexcept
        : text(std::move(other.text))
    {
        ++tally.made;
    }
    ~Owning() { ++tally.destroyed; }
};

// Owns nothing: a second destruction shows in the tally only, so the test can count it.
struct Plain
{
    int value = 1;
    Plain() { ++tally.made; }
    Plain(const Plain &other)
        : value(other.value)
    {
        ++tally.made;
    }
    ~Plain() { ++tally.destroyed; }
};

enum class Shape { argument, result, namedLambda, futureFirst, lambdaInside };

Task<int> takes(Owning owning)
{
    co_return int(!owning.text.isEmpty());
}

Task<Owning> gives()
{
    co_return Owning();
}

template <typename F> Task<int> later(F work)
{
    co_return work();
}

Task<int> awaitIn(Shape shape)
{
    switch (shape) {
    case Shape::argument:
        co_return co_await takes(Owning());
    case Shape::result: {
        const Owning given = co_await gives();
        co_return int(!given.text.isEmpty());
    }
    case Shape::namedLambda: {
        const auto work = [owning = Owning()] { return int(!owning.text.isEmpty()); };
        co_return co_await later(work);
    }
    case Shape::futureFirst: {
        QFuture<int> work = QtConcurrent::run([owning = Owning()] { return int(!owning.text.isEmpty()); });
        co_return co_await work;
    }
    case Shape::lambdaInside:
        // The shape the sources never use: its closure owns nothing, so the test survives it.
        co_return co_await later([plain = Plain()] { return plain.value; });
    }
    co_return 0;
}

constexpr bool gcc12 =
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
    true;
#else
    false;
#endif

} // namespace

class TestCoAwaitTemporaries : public QObject
{
    Q_OBJECT

private slots:
    void destroyedOnce_data()
    {
        QTest::addColumn<Shape>("shape");
        QTest::addColumn<int>("extraOnGcc12");
        QTest::newRow("a temporary task with a temporary argument") << Shape::argument << 0;
        QTest::newRow("a temporary task's result") << Shape::result << 0;
        QTest::newRow("a named lambda passed in the co_await") << Shape::namedLambda << 0;
        QTest::newRow("a future of a lambda, made first") << Shape::futureFirst << 0;
        QTest::newRow("a lambda written inside the co_await") << Shape::lambdaInside << 1;
    }
    void destroyedOnce()
    {
        QFETCH(Shape, shape);
        QFETCH(int, extraOnGcc12);
        if (!gcc12 && extraOnGcc12)
            QSKIP("what another compiler does with this shape was not measured");
        tally.made = 0;
        tally.destroyed = 0;
        const Task<int> awaiting = awaitIn(shape);
        QVERIFY(QTest::qWaitFor([&] { return awaiting.isFinished(); }, TestSupport::patienceMs));
        QCOMPARE(awaiting.result(), 1);
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(tally.made > 0);
        QCOMPARE(tally.destroyed - tally.made, extraOnGcc12);
    }
};

QTEST_GUILESS_MAIN(TestCoAwaitTemporaries)
#include "tst_CoAwaitTemporaries.moc"
