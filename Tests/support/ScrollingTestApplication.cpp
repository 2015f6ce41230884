#include "ScrollingTestApplication.h"

#include "DesktopWindows.h"
#include "ScrollingTestDocument.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>
#include <QUuid>

namespace {

// A cold start of Firefox on a busy machine takes a while.
constexpr int startTimeout = 90000;

// A fresh profile that opens the page and nothing else, and never reaches the network.
const char *firefoxPreferences = R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.page", 0);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("startup.homepage_welcome_url", "");
user_pref("startup.homepage_welcome_url.additional", "");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.firstrunSkipsHomepage", true);
user_pref("trailhead.firstrun.didSeeAboutWelcome", true);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("toolkit.telemetry.unified", false);
user_pref("toolkit.telemetry.archive.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.update.checkInstallTime", false);
user_pref("app.normandy.enabled", false);
user_pref("app.shield.optoutstudies.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("extensions.getAddons.cache.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.search.update", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.tabs.warnOnClose", false);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("browser.translations.enable", false);
user_pref("browser.region.update.enabled", false);
user_pref("messaging-system.rsexperimentloader.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disabled", true);
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.no_proxies_on", "");
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("toolkit.startup.max_resumed_crashes", -1);
user_pref("ui.prefersReducedMotion", 0);
)";

QString colourOf(const char *name)
{
    return QString::fromLatin1(name);
}

} // namespace

ScrollingTestApplication::ScrollingTestApplication(QProcessEnvironment environment)
    : m_environment(std::move(environment))
    , m_display(m_environment.value(QStringLiteral("DISPLAY")))
{ }

ScrollingTestApplication::~ScrollingTestApplication()
{
    stop();
}

QString ScrollingTestApplication::nameOf(Kind kind)
{
    switch (kind) {
    case Kind::firefox:
        return QStringLiteral("Firefox");
    case Kind::gtkText:
        return QStringLiteral("GTK text view");
    case Kind::gtkList:
        return QStringLiteral("GTK list");
    case Kind::xtermLess:
        return QStringLiteral("less in xterm");
    }
    return {};
}

ScrollingCaptureTarget ScrollingTestApplication::captureTarget() const
{
    ScrollingCaptureTarget target;
    target.name = nameOf(m_kind);
    target.windowID = m_window;
    return target;
}

bool ScrollingTestApplication::start(const Options &options, const ScrollingTestDocument &document)
{
    stop();
    m_kind = options.kind;
    m_problem.clear();
    m_files = std::make_unique<QTemporaryDir>();
    if (!m_files->isValid())
        return fail(QStringLiteral("no temporary folder"));
    switch (options.kind) {
    case Kind::firefox:
        return startFirefox(options, document);
    case Kind::gtkText:
    case Kind::gtkList:
        return startGtk(options, document);
    case Kind::xtermLess:
        return startXterm(options, document);
    }
    return false;
}

void ScrollingTestApplication::stop()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        // Asked first, so Firefox takes its content processes with it.
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_files.reset();
    m_window = 0;
    m_region = QRect();
}

bool ScrollingTestApplication::fail(const QString &problem)
{
    m_problem = nameOf(m_kind) + QStringLiteral(": ") + problem;
    stop();
    return false;
}

bool ScrollingTestApplication::launch(const QString &program, const QStringList &arguments)
{
    m_process = std::make_unique<QProcess>();
    TestSupport::endWithTest(*m_process);
    QProcessEnvironment environment = m_environment;
    environment.insert(QStringLiteral("HOME"), m_files->path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_files->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_files->filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
    environment.insert(QStringLiteral("LESSHISTFILE"), QStringLiteral("-"));
    for (const char *name : { "LESS", "LESSOPEN", "LESSCLOSE", "GTK_THEME", "GDK_SCALE", "GDK_DPI_SCALE" })
        environment.remove(QString::fromLatin1(name));
    m_process->setProcessEnvironment(environment);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    m_process->start(program, arguments);
    return m_process->waitForStarted(10000);
}

bool ScrollingTestApplication::startFirefox(const Options &options, const ScrollingTestDocument &document)
{
    const QString token = QStringLiteral("page-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString profile = m_files->filePath(QStringLiteral("profile"));
    const QString page = m_files->filePath(QStringLiteral("page.html"));
    const QByteArray preferences = QByteArray(firefoxPreferences)
        + QByteArray("user_pref(\"general.smoothScroll\", ") + (options.smoothScrolling ? "true" : "false")
        + ");\n";
    if (!TestSupport::writeFile(profile + QStringLiteral("/user.js"), preferences)
        || !TestSupport::writeFile(page, document.html(token).toUtf8()))
        return fail(QStringLiteral("its files could not be written"));
    if (!launch(QStringLiteral("firefox-esr"),
            { QStringLiteral("--no-remote"), QStringLiteral("--new-instance"), QStringLiteral("--profile"),
                profile, QStringLiteral("--width"), QString::number(options.size.width()),
                QStringLiteral("--height"), QString::number(options.size.height()),
                QStringLiteral("file://") + page }))
        return fail(QStringLiteral("it did not start (is firefox-esr installed?)"));
    DesktopWindows windows(m_display);
    const QRegularExpression ready(
        QRegularExpression::escape(token) + QStringLiteral(" (\\d+) (\\d+) (\\d+) (\\d+)"));
    const bool shown = QTest::qWaitFor(
        [&] {
            for (const DesktopWindows::Window &window : windows.windows()) {
                const QRegularExpressionMatch match = ready.match(window.title);
                if (match.hasMatch()) {
                    m_window = window.id;
                    m_region = QRect(match.captured(1).toInt(), match.captured(2).toInt(),
                        match.captured(3).toInt(), match.captured(4).toInt());
                    return true;
                }
            }
            return m_process->state() == QProcess::NotRunning;
        },
        startTimeout);
    if (!shown || m_window == 0)
        return fail(QStringLiteral("the page did not come up"));
    return waitUntilDrawn();
}

bool ScrollingTestApplication::startGtk(const Options &options, const ScrollingTestDocument &document)
{
    const bool list = options.kind == Kind::gtkList;
    const QString file = m_files->filePath(list ? QStringLiteral("rows.tsv") : QStringLiteral("lines.txt"));
    if (!TestSupport::writeFile(file, (list ? document.rows() : document.text()).toUtf8()))
        return fail(QStringLiteral("its file could not be written"));
    QStringList arguments { TestSupport::sourceDir() + QStringLiteral("/helpers/gtk_scroll_view.py"),
        list ? QStringLiteral("list") : QStringLiteral("text"), file, QStringLiteral("--size"),
        QStringLiteral("%1x%2").arg(options.size.width()).arg(options.size.height()), QStringLiteral("--pos"),
        QStringLiteral("%1,%2").arg(options.position.x()).arg(options.position.y()),
        QStringLiteral("--background"), colourOf(ScrollingTestDocument::background) };
    if (list && document.options().alternateRows)
        arguments << QStringLiteral("--alternate");
    if (document.options().content == ScrollingTestDocument::Content::article)
        arguments << QStringLiteral("--wrap");
    if (document.options().floatingButton)
        arguments << QStringLiteral("--floating");
    if (document.options().fixedFooter)
        arguments << QStringLiteral("--footer");
    // Debian's python3, which has the GTK bindings, whatever else is first on the path.
    if (!launch(QStringLiteral("/usr/bin/python3"), arguments))
        return fail(QStringLiteral("python3 did not start"));
    QString output;
    const QRegularExpression ready(QStringLiteral("ready window=(\\d+) region=(\\d+),(\\d+),(\\d+),(\\d+)"));
    QRegularExpressionMatch match;
    const bool answered = QTest::qWaitFor(
        [&] {
            output += QString::fromUtf8(m_process->readAllStandardOutput());
            match = ready.match(output);
            return match.hasMatch() || m_process->state() == QProcess::NotRunning;
        },
        startTimeout);
    if (!answered || !match.hasMatch())
        return fail(
            QStringLiteral("the window did not come up (are python3-gi and gir1.2-gtk-3.0 installed?)"));
    m_window = match.captured(1).toULongLong();
    m_region = QRect(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(),
        match.captured(5).toInt());
    return waitUntilDrawn();
}

bool ScrollingTestApplication::startXterm(const Options &options, const ScrollingTestDocument &document)
{
    const QString file = m_files->filePath(QStringLiteral("lines.txt"));
    if (!TestSupport::writeFile(file, document.text().toUtf8()))
        return fail(QStringLiteral("its file could not be written"));
    const QString title = QStringLiteral("pager-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    constexpr int border = 2;
    // DejaVu Sans Mono at 11 points on a 96 dpi screen: cells about 9 by 18 pixels.
    const int columns = std::max(20, options.size.width() / 9);
    const int rows = std::max(8, options.size.height() / 18);
    // The wheel reaches a pager as arrow keys (alternateScroll), as desktop terminals do.
    if (!launch(QStringLiteral("xterm"),
            { QStringLiteral("-T"), title, QStringLiteral("-geometry"),
                QStringLiteral("%1x%2+%3+%4")
                    .arg(columns)
                    .arg(rows)
                    .arg(options.position.x())
                    .arg(options.position.y()),
                QStringLiteral("-fa"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("-fs"),
                QStringLiteral("11"), QStringLiteral("-b"), QString::number(border), QStringLiteral("+sb"),
                QStringLiteral("-bg"), colourOf(ScrollingTestDocument::background), QStringLiteral("-fg"),
                QStringLiteral("#222222"), QStringLiteral("-xrm"),
                QStringLiteral("XTerm*alternateScroll: true"), QStringLiteral("-xrm"),
                QStringLiteral("XTerm*allowTitleOps: false"), QStringLiteral("-e"), QStringLiteral("less"),
                QStringLiteral("-S"), file }))
        return fail(QStringLiteral("it did not start (is xterm installed?)"));
    DesktopWindows windows(m_display);
    std::optional<DesktopWindows::Window> window;
    const bool shown = QTest::qWaitFor(
        [&] {
            window = windows.window(title);
            return window || m_process->state() == QProcess::NotRunning;
        },
        startTimeout);
    if (!shown || !window)
        return fail(QStringLiteral("its window did not come up"));
    m_window = window->id;
    // The pager's prompt on the last row stays out of the column.
    const QRect client = window->geometry;
    const int cell = (client.height() - 2 * border) / rows;
    m_region
        = QRect(client.x() + border, client.y() + border, client.width() - 2 * border, (rows - 1) * cell);
    return waitUntilDrawn();
}

bool ScrollingTestApplication::waitUntilDrawn()
{
    // Drawn once two looks a little apart agree and show text.
    DesktopWindows windows(m_display);
    QImage last;
    const auto showsText = [](const QImage &image) {
        const QRgb paper = image.pixel(0, 0);
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != paper)
                    return true;
            }
        }
        return false;
    };
    const bool drawn = QTest::qWaitFor(
        [&] {
            QTest::qWait(100);
            const QImage now = windows.grab(m_region);
            const bool settled = !now.isNull() && now == last && showsText(now);
            last = now;
            return settled;
        },
        startTimeout);
    return drawn || fail(QStringLiteral("it showed nothing in the column"));
}
