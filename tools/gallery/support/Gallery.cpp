#include "Gallery.h"

#include "AppearancePalettes.h"
#include "Vemi/VemiDesign.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace Gallery {

namespace {

QString s_folder;

} // namespace

bool begin(int argc, char **argv)
{
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    VemiMotion::setSystemReduceMotion(false);
    s_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    if (!QDir().mkpath(s_folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(s_folder));
        return false;
    }
    return true;
}

QString outputFolder()
{
    return s_folder;
}

QPalette light()
{
    return AppearancePalettes::light();
}

QPalette dark()
{
    return AppearancePalettes::dark();
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget *window, const QString &name, int settleMs)
{
    if (!window->isVisible())
        window->show();
    settle(settleMs);
    const QString path = QDir(s_folder).filePath(name + QStringLiteral(".png"));
    if (!window->grab().toImage().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace Gallery
