// The quorvel executable: one running Quorvel per user, in the tray.
#include "Documents/AppPaths.h"
#include "Platform/FreedMemory.h"
#include "Shell/DovrinApp.h"
#include "Shell/DovrinAppDelegate.h"
#include "Shell/SingleInstance.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>

#include <cstdio>

namespace {

void say(const char *line)
{
    std::fputs(line, stderr);
    std::fputc('\n', stderr);
}

// Said on standard error and, where there is a screen, in a small alert: started from the
// application menu, nobody reads standard error. Answers the exit status.
int refuse(const QString &reason)
{
    say(qUtf8Printable(QStringLiteral("Quorvel cannot start: %1.").arg(reason)));
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return 1;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quorvel cannot start"),
        QStringLiteral("Quorvel cannot start"), QMessageBox::Ok);
    QString text = reason + QLatin1Char('.');
    text[0] = text.at(0).toUpper();
    box.setInformativeText(text);
    box.exec();
    return 1;
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
    FreedMemory::keepHeapsSmall();
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

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::primary:
        break;
    case SingleInstance::Claim::unavailable:
        // Two full instances would share one draft and one settings file: never start without the lock.
        if (selfTest)
            return runSelfTestOnly(application);
        return refuse(instance.problem());
    case SingleInstance::Claim::secondary:
        if (selfTest)
            return runSelfTestOnly(application);
        switch (handOver(instance)) {
        case SingleInstance::HandOver::handedOver:
            say("Quorvel is already running; it was brought forward.");
            return 0;
        case SingleInstance::HandOver::noAnswer:
            return refuse(QStringLiteral("it is already running but does not answer. Quit it (or end its "
                                         "process) and start again"));
        case SingleInstance::HandOver::unavailable:
            return refuse(instance.problem());
        case SingleInstance::HandOver::becamePrimary:
            break;
        }
        break;
    }

    return DovrinApp::run(arguments, instance);
}
