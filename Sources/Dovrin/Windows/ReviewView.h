#pragma once

#include "Model/ReviewSession.h"
#include "Vemi/VemiDesign.h"

#include <QKeySequence>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>

class AppModel;

class QScrollArea;
class QShortcut;
class QSplitter;
class ReviewEditorPane;
class ReviewInspector;
class ReviewPreviewPane;
class ReviewToolbar;

// The content of the "Review Capture" window: the toolbar over the preview, the editor and the
// inspector. It keeps no state of its own beyond whether the inspector shows: everything else is
// the session's and the model's, and each action calls one model operation. Escape writes the edits
// into the draft and keeps the window; Ctrl+S saves.
class ReviewView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int minimumWidthWithInspector = 980;
    static constexpr int minimumWidthWithoutInspector = 700;
    static constexpr int minimumHeight = 560;

    ReviewView(std::shared_ptr<ReviewSession> session, AppModel *model, bool showInspector,
        QWidget *parent = nullptr);
    ~ReviewView() override;

    const std::shared_ptr<ReviewSession> &session() const { return m_session; }
    bool isInspectorShown() const { return m_showInspector; }
    // The stored setting changed (the menu's command, another window).
    void setInspectorShown(bool shown);
    // The toolbar's button: flips the inspector and announces it through inspectorToggled().
    void toggleInspector();
    // Keys that a menu bar around the view binds to the same commands; the view leaves them to it,
    // since two bindings of one key in a window cancel each other.
    void yieldShortcuts(const QList<QKeySequence> &keys);

    ReviewToolbar *toolbar() const { return m_toolbar; }
    ReviewPreviewPane *previewPane() const { return m_preview; }
    ReviewEditorPane *editorPane() const { return m_editor; }
    ReviewInspector *inspector() const { return m_inspector; }
    QWidget *inspectorColumn() const { return m_inspectorClip; }
    QMessageBox *deleteAlert() const { return m_deleteAlert; }

signals:
    void inspectorToggled(bool shown);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyInspector(bool animated);
    void revealStep();
    void revealSettled();
    void followDeleteAlert();

    std::shared_ptr<ReviewSession> m_session;
    QPointer<AppModel> m_model;
    bool m_showInspector;
    ReviewToolbar *m_toolbar;
    QSplitter *m_split;
    ReviewPreviewPane *m_preview;
    ReviewEditorPane *m_editor;
    QWidget *m_inspectorClip;
    QScrollArea *m_inspectorScroll;
    ReviewInspector *m_inspector;
    VemiAnimatedValue m_reveal;
    int m_slideWidth = 280;
    QShortcut *m_save;
    QShortcut *m_escape;
    QPointer<QMessageBox> m_deleteAlert;
    bool m_closingAlert = false;
};
