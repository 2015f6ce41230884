// Scrolling captures of the applications people scroll, each showing a generated document of
// numbered records: the real coordinator, wheel, viewport reads and recognizer on a desktop of the
// test's own, the recognized text compared record by record with the document. A capture may pause
// and say so; it must never lose, double or skip records silently, and the kinds it handles must
// come out whole. A few short documents only: bench_ScrollingApplications runs many.
#include "PrivateDesktop.h"
#include "PrivateXvfb.h"
#include "RealScrollingRun.h"
#include "ScrollingTestApplication.h"
#include "ScrollingTestDocument.h"

#include <QApplication>
#include <QTest>

namespace {

PrivateXvfb *server = nullptr;

using Kind = ScrollingTestApplication::Kind;
using Content = ScrollingTestDocument::Content;

struct Case
{
    ScrollingTestApplication::Options application;
    ScrollingTestDocument::Options document;
    // It must end by itself with every record; otherwise a pause that says so will do.
    bool mustComplete = false;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestScrollingRealApplications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(server && server->isRunning());
        m_desktop = std::make_unique<PrivateDesktop>(server->display(), false);
        QVERIFY2(m_desktop->problem().isEmpty(), qPrintable(m_desktop->problem()));
    }

    void capture_data()
    {
        QTest::addColumn<Case>("test");
        const QSize size(760, 600);
        const auto of = [&](Kind kind, bool smooth = true) {
            ScrollingTestApplication::Options options;
            options.kind = kind;
            options.smoothScrolling = smooth;
            options.size = size;
            return options;
        };
        const auto document = [](Content content, int records) {
            ScrollingTestDocument::Options options;
            options.content = content;
            options.records = records;
            return options;
        };
        QTest::newRow("less in xterm, blocks of identical lines")
            << Case { of(Kind::xtermLess), document(Content::identicalBlocks, 45), true };
        QTest::newRow("GTK list, look-alike rows in alternating colours")
            << Case { of(Kind::gtkList), document(Content::lookAlikeRows, 90), true };
        QTest::newRow("GTK text view, blocks of identical lines")
            << Case { of(Kind::gtkText), document(Content::identicalBlocks, 35), true };
        ScrollingTestDocument::Options floating = document(Content::article, 24);
        floating.floatingButton = true;
        QTest::newRow("Firefox, a floating button, smooth scrolling off")
            << Case { of(Kind::firefox, false), floating };
        ScrollingTestDocument::Options footer = document(Content::article, 24);
        footer.fixedFooter = true;
        QTest::newRow("Firefox, a fixed footer, smooth scrolling off")
            << Case { of(Kind::firefox, false), footer };
    }
    void capture()
    {
        QFETCH(Case, test);
        const ScrollingTestDocument document(test.document);
        ScrollingTestApplication application(m_desktop->environment());
        QVERIFY2(application.start(test.application, document), qPrintable(application.problem()));
        const RealScrollingRun::Outcome outcome = RealScrollingRun::capture(application, document);
        const QString report
            = RealScrollingRun::nameOf(outcome.verdict) + QStringLiteral(": ") + outcome.detail;
        qInfo("%s", qPrintable(report));
        QVERIFY2(outcome.verdict != RealScrollingRun::Verdict::failed, qPrintable(report));
        QVERIFY2(!RealScrollingRun::isSilentFault(outcome.verdict), qPrintable(report));
        // Something beyond the first screen was kept either way.
        QVERIFY2(outcome.screens > 1.0, qPrintable(report));
        if (test.mustComplete)
            QVERIFY2(outcome.verdict == RealScrollingRun::Verdict::complete, qPrintable(report));
    }

    void cleanupTestCase() { m_desktop.reset(); }

private:
    std::unique_ptr<PrivateDesktop> m_desktop;
};

int main(int argc, char **argv)
{
    PrivateXvfb display;
    server = &display;
    if (display.isRunning()) {
        qputenv("DISPLAY", display.display().toLocal8Bit());
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication app(argc, argv);
    TestScrollingRealApplications test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ScrollingRealApplications.moc"
