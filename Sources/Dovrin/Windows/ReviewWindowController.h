#pragma once

#include "Model/ReviewWindowPresenter.h"

#include <QKeySequence>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class DefaultsStore;
class QMenuBar;
class ReviewView;
class ReviewWindow;

// Drives the one "Review Capture" window for the model: each review replaces the window's content,
// the window is made once and reused, its frame is kept between runs, and its close asks the
// model's veto. Once hidden, the window lets go of the review it showed (its pictures, text and
// widgets) and of its native window, so a program that waits in the tray holds neither. The shell above gives
// it the program's menu bar and, if it keeps the inspector setting itself, the way to read and write it.
class ReviewWindowController : public QObject, public ReviewWindowPresenter
{
    Q_OBJECT
public:
    static inline const QString frameKey = QStringLiteral("ReviewCapture");
    static inline const QString showInspectorKey = QStringLiteral("review-show-inspector");
    static constexpr QSize initialSize { 1180, 740 };

    // Whether the review shows its inspector, kept by whoever shares it with the menu's command.
    struct InspectorSetting
    {
        std::function<bool()> read;
        std::function<void(bool)> write;
    };

    // `standardDefaults` keeps the window's frame and, unless setInspectorSetting() says otherwise,
    // the inspector setting; none keeps them for this run only.
    explicit ReviewWindowController(
        std::shared_ptr<DefaultsStore> standardDefaults = nullptr, QObject *parent = nullptr);
    ~ReviewWindowController() override;

    ReviewWindow *window() const { return m_window; }
    // The content of the review shown last; null before the first.
    ReviewView *view() const;

    void setInspectorSetting(InspectorSetting setting);
    // The window takes the menu bar; keys it binds are left to it.
    void setMenuBar(QMenuBar *menuBar);

    void present(std::shared_ptr<ReviewSession> session, AppModel *model, CloseVeto shouldClose) override;
    void orderOut() override;
    void bringToFront() override;

public slots:
    // The inspector setting changed outside the window (the menu's command).
    void inspectorSettingChanged(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QKeySequence> menuKeys() const;
    void place();
    void saveFrame();
    void releaseHidden(int presentation);

    std::shared_ptr<DefaultsStore> m_defaults;
    InspectorSetting m_inspector;
    // Owned; made once, hidden and shown again for every review.
    ReviewWindow *m_window;
    bool m_placed = false;
    // Counts presents: a release queued while one review hid leaves a later one alone.
    int m_presentation = 0;
};
