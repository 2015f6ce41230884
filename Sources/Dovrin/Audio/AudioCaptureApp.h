#pragma once

#include <QIcon>
#include <QString>

// An application that can be recorded as "Others", named by its desktop-file id.
struct AudioCaptureApp
{
    QString bundleID; // desktop-file id
    QString name;
    QString iconName; // theme icon name or absolute path from the .desktop file; empty for none

    // The icon to show, or a null icon.
    QIcon icon() const;

    friend bool operator==(const AudioCaptureApp &, const AudioCaptureApp &) = default;
};
