// The quorvel executable. For now it only runs the audio self-test ("--audio-spike").
#include "Audio/AudioTapSpike.h"
#include "Documents/AppPaths.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    bool selfTest = false;
    for (int i = 1; i < argc; ++i)
        selfTest = selfTest || std::strcmp(argv[i], "--audio-spike") == 0;
    if (!selfTest) {
        std::fputs("quorvel: the application shell (tray icon and windows) is not built yet in this version; "
                   "only \"quorvel --audio-spike\" runs.\n",
            stderr);
        return 1;
    }

    // The self-test shows nothing, so it also runs where there is no desktop session.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(AppPaths::bundleIdentifier));

    if (!AudioTapSpike::isSupported()) {
        const QByteArray line = AudioTapSpike::unsupportedLine().toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        return 0;
    }
    AudioTapSpike::hideRestoredWindows();
    const Task<void> selfTestRun
        = Task<void>::spawn(&application, [] { return AudioTapSpike::runAndExit(); });
    return application.exec();
}
