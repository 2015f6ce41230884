// The quorvel executable: one running Quorvel per user, in the tray.
#include "Documents/AppPaths.h"
#include "Settings/PreferencesView.h"
#include "Settings/SetupView.h"
#include "Shell/DovrinApp.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/SingleInstance.h"
#include "Shell/WindowRegistry.h"
#include "Vemi/VemiDesign.h"
#include "Windows/ReceiptView.h"
#include "Windows/RecentCapturesView.h"
#include "Windows/RecoveryView.h"

#include <QApplication>
#include <QEventLoop>
#include <QPainter>

#include <cstdio>

namespace {

void say(const char *line)
{
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
}

QIcon applicationIcon()
{
    QIcon fallback;
    if (const std::optional<VemiImage> &image = VemiImages::regular()) {
        for (const int side : { 32, 64, 128, 256 }) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            image->paint(painter, QRectF(0, 0, side, side));
            painter.end();
            fallback.addPixmap(pixmap);
        }
    }
    return QIcon::fromTheme(QLatin1String(AppPaths::bundleIdentifier), fallback);
}

SingleInstance::HandOver handOver(SingleInstance &instance)
{
    QEventLoop loop;
    const Task<SingleInstance::HandOver> asking
        = Task<SingleInstance::HandOver>::spawn(&instance, [&instance] { return instance.handOver(); });
    asking.whenFinished(&loop, [&loop] { loop.quit(); });
    loop.exec();
    return asking.result();
}

// The self-test alone, beside a Quorvel that runs already and owns the draft and the hot key.
int runSelfTestOnly(QApplication &application)
{
    DovrinAppDelegate delegate(QApplication::arguments());
    delegate.install();
    delegate.applicationDidFinishLaunching();
    return application.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool selfTest = DovrinAppDelegate::isAudioSpike(arguments);
    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        if (hasDisplay) {
            // Stills, scroll steps and the hot key are X11's, also under XWayland.
            qputenv("QT_QPA_PLATFORM", "xcb");
        } else if (selfTest) {
            // The self-test shows nothing, so it also runs where there is no desktop session.
            qputenv("QT_QPA_PLATFORM", "offscreen");
        } else {
            say("Quorvel needs an X11 session (Xorg): DISPLAY is not set.");
            return 1;
        }
    }
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(AppPaths::bundleIdentifier));
    QApplication::setWindowIcon(applicationIcon());

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::primary:
        break;
    case SingleInstance::Claim::unavailable:
        // Two full instances would share one draft and one settings file: never start without the lock.
        if (selfTest)
            return runSelfTestOnly(application);
        std::fprintf(stderr, "Quorvel cannot start: %s.\n", qUtf8Printable(instance.problem()));
        return 1;
    case SingleInstance::Claim::secondary:
        if (selfTest)
            return runSelfTestOnly(application);
        switch (handOver(instance)) {
        case SingleInstance::HandOver::handedOver:
            say("Quorvel is already running; it was brought forward.");
            return 0;
        case SingleInstance::HandOver::noAnswer:
            say("Quorvel is already running but does not answer. Quit it (or end its "
                "process) and start again.");
            return 1;
        case SingleInstance::HandOver::unavailable:
            std::fprintf(stderr, "Quorvel cannot start: %s.\n", qUtf8Printable(instance.problem()));
            return 1;
        case SingleInstance::HandOver::becamePrimary:
            break;
        }
        break;
    }

    DovrinApp app({ arguments, nullptr, nullptr, nullptr });
    // Each window's content, from the layer that makes it.
    app.windows().setFactory(QStringLiteral("setup"), [&app] { return new SetupView(app.model()); });
    app.windows().setFactory(WindowRegistry::settingsId, [&app] { return new PreferencesView(app.model()); });
    app.windows().setFactory(QStringLiteral("receipt"), [&app] { return new ReceiptView(app.model()); });
    app.windows().setFactory(
        QStringLiteral("recents"), [&app] { return new RecentCapturesView(app.model()); });
    app.windows().setFactory(QStringLiteral("recovery"), [&app] { return new RecoveryView(app.model()); });
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, &DovrinApp::activate);
    app.start();
    return application.exec();
}
