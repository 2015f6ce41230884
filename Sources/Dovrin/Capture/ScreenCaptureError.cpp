#include "Capture/ScreenCaptureError.h"

ScreenCaptureError::ScreenCaptureError(Code code)
    : m_code(code)
    , m_what(description(code).toUtf8())
{ }

QString ScreenCaptureError::description(Code code)
{
    switch (code) {
    case noDisplays:
        return QStringLiteral("No capturable display is available.");
    case invalidSelection:
        return QStringLiteral("Select a region at least 10 points wide and tall.");
    case canceled:
        return QStringLiteral("Capture canceled.");
    case displaysChanged:
        return QStringLiteral(
            "Displays changed or are still settling. Wait a moment, then start the capture again.");
    case overlayUnavailable:
        return QStringLiteral(
            "Region selection could not take keyboard focus and was closed safely. Start the capture again.");
    case selectionTimedOut:
        return QStringLiteral(
            "Region selection closed after two minutes. Start the capture again when ready.");
    case blankSurface:
        return QStringLiteral("The selected surface returned no visible pixels. It may be protected.");
    }
    return {};
}
