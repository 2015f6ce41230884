// Scrolling captures of real applications on a desktop of its own (Xvfb, openbox): Firefox ESR with
// smooth scrolling on and off, GTK 3 text views and lists, less in xterm, each showing a generated
// document of numbered records, through the real coordinator, wheel and recognizer. Every run's
// recognized text is compared record by record with the document and classed: complete, paused
// (the panel said so), a limit, or silently wrong (a loss at the end, a double, a hole). Prints each
// run, then per kind the completion rate and the time a screen (until the panel went away).
//
//   bench_ScrollingApplications [--runs=N] [--record=DIR] [--record-all] [--size=WxH] [--records=N]
//                               [--benchmark_filter=REGEX]
//
// --runs: runs per kind (10 by default). --record: each run's frames, steps and times are recorded
// into DIR/<kind>/<run>/ and kept when the run did not complete (all of them with --record-all).
// --size: the application's window (1000x860 by default); --records: every document this long
// (small windows and short documents make small fixtures).
// Needs firefox-esr, xterm, python3-gi with gir1.2-gtk-3.0, openbox and Xvfb, and the tests' support
// (configure with DOVRIN_TESTS=ON).
#include "Platform/FreedMemory.h"
#include "PrivateDesktop.h"
#include "PrivateXvfb.h"
#include "RealScrollingRun.h"
#include "ScrollingTestApplication.h"
#include "ScrollingTestDocument.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using Kind = ScrollingTestApplication::Kind;
using Content = ScrollingTestDocument::Content;
using Verdict = RealScrollingRun::Verdict;

struct Scenario
{
    const char *name;
    Kind kind;
    bool smooth;
    ScrollingTestDocument::Options document;
};

ScrollingTestDocument::Options documentOf(Content content, int records)
{
    ScrollingTestDocument::Options options;
    options.content = content;
    options.records = records;
    return options;
}

ScrollingTestDocument::Options with(
    ScrollingTestDocument::Options options, void (*change)(ScrollingTestDocument::Options &))
{
    change(options);
    return options;
}

struct Tally
{
    std::map<Verdict, int> verdicts;
    std::vector<double> msPerScreen;
    std::vector<int> pausedAt; // lines kept by runs that paused
    int lines = 0;
};

PrivateDesktop *desktop = nullptr;
int runsPerKind = 10;
QString recordFolder;
bool recordAll = false;
QSize windowSize(1000, 860);
int records = 0; // as each kind has it
std::map<std::string, Tally> tallies;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double milliseconds(TaskClock::Duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

void capture(benchmark::State &state, const Scenario &scenario)
{
    ScrollingTestDocument::Options documentOptions = scenario.document;
    if (records > 0)
        documentOptions.records = records;
    const ScrollingTestDocument document(documentOptions);
    Tally &tally = tallies[scenario.name];
    tally.lines = int(document.truth().size());
    int run = 0;
    for (auto _ : state) {
        ++run;
        ScrollingTestApplication application(desktop->environment());
        ScrollingTestApplication::Options options;
        options.kind = scenario.kind;
        options.smoothScrolling = scenario.smooth;
        options.size = windowSize;
        if (!application.start(options, document)) {
            state.SkipWithError(qPrintable(application.problem()));
            return;
        }
        QString folder;
        if (!recordFolder.isEmpty()) {
            const QString kind
                = QString::fromLatin1(scenario.name)
                      .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
            folder = QDir(recordFolder)
                         .filePath(QStringLiteral("%1/%2").arg(kind).arg(run, 2, 10, QLatin1Char('0')));
        }
        const RealScrollingRun::Outcome outcome = RealScrollingRun::capture(application, document, folder);
        application.stop();
        if (!folder.isEmpty() && outcome.verdict == Verdict::complete && !recordAll)
            QDir(folder).removeRecursively();
        ++tally.verdicts[outcome.verdict];
        const double msPerScreen
            = outcome.screens > 0 ? outcome.scrollingSeconds * 1000 / outcome.screens : 0;
        if (outcome.verdict == Verdict::complete)
            tally.msPerScreen.push_back(msPerScreen);
        if (outcome.verdict == Verdict::paused)
            tally.pausedAt.push_back(outcome.linesReached);
        state.SetIterationTime(outcome.seconds);
        std::printf(
            "run: %s #%d: %s after %.1f s (scrolling %.1f s, %.1f screens, %.0f ms a screen; %d steps, "
            "%d looks, %d first looks, %d taken again; ms waiting %.0f, grabbing %.0f, aligning %.0f, "
            "sealing "
            "%.0f, recognizing %.0f): %s\n",
            scenario.name, run, qPrintable(RealScrollingRun::nameOf(outcome.verdict)), outcome.seconds,
            outcome.scrollingSeconds, outcome.screens, msPerScreen, outcome.times.steps, outcome.times.frames,
            outcome.times.firstLooks, outcome.times.retaken, milliseconds(outcome.times.waiting),
            milliseconds(outcome.times.grabbing), milliseconds(outcome.times.aligning),
            milliseconds(outcome.times.sealing), milliseconds(outcome.times.recognizing),
            qPrintable(outcome.detail));
        std::fflush(stdout);
    }
    const int runs = std::max(1, run);
    state.counters["complete_share"] = double(tally.verdicts[Verdict::complete]) / runs;
    state.counters["silent_faults"] = double(tally.verdicts[Verdict::silentLoss]
        + tally.verdicts[Verdict::silentDouble] + tally.verdicts[Verdict::hole]);
    state.counters["ms_per_screen"] = median(tally.msPerScreen);
}

void printSummary()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    std::printf("\nsummary; load averages at the end: %s\n",
        load.open(QIODevice::ReadOnly) ? load.readAll().trimmed().constData() : "unknown");
    for (const auto &[name, tally] : tallies) {
        int runs = 0;
        for (const auto &[verdict, count] : tally.verdicts)
            runs += count;
        const auto count = [&](Verdict verdict) {
            const auto it = tally.verdicts.find(verdict);
            return it == tally.verdicts.end() ? 0 : it->second;
        };
        QStringList pauses;
        for (int lines : tally.pausedAt)
            pauses << QString::number(lines);
        std::printf("  %-58s %2d of %2d complete; paused %d%s, limit %d, SILENT LOSS %d, SILENT DOUBLE %d, "
                    "HOLE %d, failed %d; %.0f ms a screen (median of complete runs)\n",
            name.c_str(), count(Verdict::complete), runs, count(Verdict::paused),
            pauses.isEmpty()
                ? ""
                : qPrintable(
                    QStringLiteral(" (lines kept of %1: %2)").arg(tally.lines).arg(pauses.join(u' '))),
            count(Verdict::limit), count(Verdict::silentLoss), count(Verdict::silentDouble),
            count(Verdict::hole), count(Verdict::failed), median(tally.msPerScreen));
    }
}

} // namespace

int main(int argc, char **argv)
{
    // As the program does.
    FreedMemory::keepHeapsSmall();
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QStringLiteral("--runs=")))
            runsPerKind = std::max(1, argument.mid(7).toInt());
        else if (argument.startsWith(QStringLiteral("--record=")))
            recordFolder = argument.mid(9);
        else if (argument == QStringLiteral("--record-all"))
            recordAll = true;
        else if (argument.startsWith(QStringLiteral("--size=")))
            windowSize = QSize(
                argument.mid(7).section(u'x', 0, 0).toInt(), argument.mid(7).section(u'x', 1, 1).toInt());
        else if (argument.startsWith(QStringLiteral("--records=")))
            records = argument.mid(10).toInt();
        else
            arguments.push_back(argv[i]);
    }
    argc = int(arguments.size());
    PrivateXvfb server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qunsetenv("QT_QPA_PLATFORM");
    QApplication app(argc, arguments.data());
    if (qEnvironmentVariableIsEmpty("DOVRIN_TEST_SOURCE_DIR"))
        qputenv("DOVRIN_TEST_SOURCE_DIR", QByteArray(DOVRIN_TEST_SOURCE_DIR));
    PrivateDesktop session(server.display(), false);
    if (!session.problem().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(session.problem()));
        return 1;
    }
    desktop = &session;
    benchmark::Initialize(&argc, arguments.data());

    const auto floating = [](ScrollingTestDocument::Options &o) { o.floatingButton = true; };
    const auto footer = [](ScrollingTestDocument::Options &o) { o.fixedFooter = true; };
    const auto panel = [](ScrollingTestDocument::Options &o) { o.flatPanel = true; };
    const auto plain = [](ScrollingTestDocument::Options &o) { o.alternateRows = false; };
    static const Scenario scenarios[] = {
        { "Firefox, article of 300 paragraphs, smooth scrolling", Kind::firefox, true,
            documentOf(Content::article, 300) },
        { "Firefox, article of 300 paragraphs, no smooth scrolling", Kind::firefox, false,
            documentOf(Content::article, 300) },
        { "Firefox, 150 paragraphs under a floating button", Kind::firefox, false,
            with(documentOf(Content::article, 150), floating) },
        { "Firefox, 150 paragraphs over a fixed footer", Kind::firefox, false,
            with(documentOf(Content::article, 150), footer) },
        { "Firefox, 120 paragraphs around a flat panel", Kind::firefox, false,
            with(documentOf(Content::article, 120), panel) },
        { "GTK list, 300 look-alike rows in alternating colours", Kind::gtkList, false,
            documentOf(Content::lookAlikeRows, 300) },
        { "GTK list, 300 look-alike rows", Kind::gtkList, false,
            with(documentOf(Content::lookAlikeRows, 300), plain) },
        { "GTK text view, 400 numbered lines", Kind::gtkText, false, documentOf(Content::lines, 400) },
        { "GTK text view, 400 records with blocks of identical lines", Kind::gtkText, false,
            documentOf(Content::identicalBlocks, 400) },
        { "GTK text view, 300 records with repeated lines", Kind::gtkText, false,
            documentOf(Content::repeatedLines, 300) },
        { "less in xterm, 500 numbered lines", Kind::xtermLess, false, documentOf(Content::lines, 500) },
        { "less in xterm, 400 records with blocks of identical lines", Kind::xtermLess, false,
            documentOf(Content::identicalBlocks, 400) },
    };
    for (const Scenario &scenario : scenarios) {
        benchmark::RegisterBenchmark((std::string("BM_Capture/") + scenario.name).c_str(), capture, scenario)
            ->Iterations(runsPerKind)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    return 0;
}
