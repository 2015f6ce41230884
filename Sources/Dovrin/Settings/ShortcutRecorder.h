#pragma once

#include <QWidget>

#include <optional>

class AppModel;
class QKeyEvent;
class QLabel;
class ShortcutEventCatcher;
class VemiButton;
class VemiSymbolView;

// Shows the global capture shortcut and records a new one from the keys pressed in its own window.
// Needs no global keyboard access: it listens only while recording, and only to its window.
// Validation, storage and registration are the model's.
class ShortcutRecorder : public QWidget
{
    Q_OBJECT
public:
    // `prominent`: the large form of the setup window; otherwise the compact form of the settings.
    ShortcutRecorder(AppModel &model, bool prominent, QWidget *parent = nullptr);

    bool isRecording() const { return m_recording; }
    // What the status line says instead of the registration's explanation.
    const std::optional<QString> &recordHint() const { return m_hint; }
    // Change Shortcut / Listening…
    void toggleRecording();
    // Use Alt+Shift+C
    void restoreDefault();

protected:
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void handle(QKeyEvent *event);
    void setRecording(bool recording, std::optional<QString> hint);
    void refresh();

    AppModel &m_model;
    bool m_prominent;
    bool m_recording = false;
    std::optional<QString> m_hint;
    ShortcutEventCatcher *m_catcher;
    QLabel *m_chip;
    VemiButton *m_change;
    VemiButton *m_useDefault;
    VemiSymbolView *m_statusIcon;
    QLabel *m_status;
};
