#pragma once

#include <QString>

#include <exception>

// Why a display capture or a region selection ended without a region. Each case carries the fixed
// text the user sees; `canceled` is the user's own choice, not a failure.
class ScreenCaptureError : public std::exception
{
public:
    enum Code {
        noDisplays,
        invalidSelection,
        canceled,
        displaysChanged,
        overlayUnavailable,
        selectionTimedOut,
        blankSurface,
    };

    explicit ScreenCaptureError(Code code);

    Code code() const { return m_code; }
    QString description() const { return description(m_code); }
    static QString description(Code code);
    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const ScreenCaptureError &other) const { return m_code == other.m_code; }

private:
    Code m_code;
    QByteArray m_what;
};
