// Changes the settings through the real model 50 times in a row, one change every 10 ms as a quick
// hand would, with the settings suite in <folder>: written behind, or with --direct written
// through on the main thread. Prints the main thread's longest stall while the changes are made
// and written ("stall-ms=<n>"). Meant to run on a slowed-down disk.
// Usage: settings_stall <folder> [--direct]

#include "MainThreadStallProbe.h"
#include "ModelHarness.h"

#include "Model/WriteBehindDefaultsStore.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2)
        return 2;
    const QString folder = arguments.at(1);
    const bool direct = arguments.contains(QStringLiteral("--direct"));
    std::shared_ptr<WriteBehindDefaultsStore> behind;
    std::shared_ptr<DefaultsStore> store;
    if (direct) {
        store = SettingsDefaultsStore::open(QStringLiteral("suite"), folder);
    } else {
        behind = WriteBehindDefaultsStore::open(QStringLiteral("suite"), folder);
        store = behind;
    }
    if (!store)
        return 1;
    ModelHarness h;
    h.adjust = [store](ModelServices &services) { services.defaults = store; };
    AppModel &model = h.make();

    MainThreadStallProbe probe;
    probe.start();
    int changes = 0;
    QTimer each;
    each.setInterval(10);
    QObject::connect(&each, &QTimer::timeout, &app, [&] {
        AppSettings settings = model.settings();
        settings.othersAudioDisplayName = QStringLiteral("Change %1").arg(++changes);
        model.updateSettings(settings);
        if (changes < 50)
            return;
        each.stop();
        const auto report = [&] {
            std::printf("stall-ms=%lld\n", static_cast<long long>(probe.longestStallMs()));
            std::fflush(stdout);
            app.quit();
        };
        if (!behind) {
            report();
            return;
        }
        // Measured until the last change is on disk: the writes must not hold up the main thread.
        auto *watcher = new QFutureWatcher<void>(&app);
        QObject::connect(watcher, &QFutureWatcherBase::finished, &app, report);
        watcher->setFuture(behind->written());
    });
    each.start();
    return app.exec();
}
