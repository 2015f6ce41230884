#pragma once

// The prompt panel: one yes-or-no question in a small window, awaited by the caller. At most one
// prompt is open; every way out of it is exactly one answer (true only for the primary button).

#include "Async/Task.h"

#include <QDialog>
#include <QStringList>
#include <QWidget>

#include <functional>

class VemiButton;

struct ScrollingCapturePrompt
{
    QString title;
    QString message;
    QStringList steps;
    QString primaryTitle;
    QString secondaryTitle;

    // The consent asked before each scrolling capture run.
    static ScrollingCapturePrompt control();

    bool operator==(const ScrollingCapturePrompt &other) const = default;
};

// The prompt's content: the character, title and message, numbered steps, and the two buttons.
// Exactly 400 points wide; its height follows the text.
class VemiPromptCard : public QWidget
{
    Q_OBJECT
public:
    explicit VemiPromptCard(const ScrollingCapturePrompt &prompt, QWidget *parent = nullptr);

    const ScrollingCapturePrompt &prompt() const { return m_prompt; }
    void setOnPrimary(std::function<void()> onPrimary) { m_onPrimary = std::move(onPrimary); }
    void setOnCancel(std::function<void()> onCancel) { m_onCancel = std::move(onCancel); }
    VemiButton *primaryButton() const { return m_primary; }
    VemiButton *cancelButton() const { return m_cancel; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    ScrollingCapturePrompt m_prompt;
    std::function<void()> m_onPrimary;
    std::function<void()> m_onCancel;
    QWidget *m_message;
    VemiButton *m_primary;
    VemiButton *m_cancel;
};

namespace VemiPromptPanel {

// Shows the prompt as the only one (an open prompt is first answered false) and answers when the
// user does: true for the primary button or Return; false for Cancel, Escape, Ctrl+W or closing the
// window, or a newer prompt. Await it from a task: `bool go = co_await VemiPromptPanel::present(prompt);`
TaskFuture<bool> present(const ScrollingCapturePrompt &prompt);
// Closes the open prompt, if any, answering `accepted`.
void dismiss(bool accepted);

// A window without visible title or title-bar buttons, moved by dragging its background.
QDialog *makeWindow(const QString &title, const QSize &size);
// The open prompt's window, or none.
QDialog *openWindow();

// Replace how the prompt's window is brought forward (default: WindowActivation::reveal) and what
// runs after every answer once the window is closed (default: WindowActivation::scheduleReconcile).
// An empty function restores the default.
void setRevealHook(std::function<void(QWidget *)> reveal);
void setReconcileHook(std::function<void()> reconcile);

} // namespace VemiPromptPanel
