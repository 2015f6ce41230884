#include "Audio/AudioCaptureApp.h"

#include <QFileInfo>

QIcon AudioCaptureApp::icon() const
{
    if (iconName.isEmpty())
        return {};
    if (QFileInfo(iconName).isAbsolute())
        return QFileInfo(iconName).isFile() ? QIcon(iconName) : QIcon();
    return QIcon::fromTheme(iconName);
}
