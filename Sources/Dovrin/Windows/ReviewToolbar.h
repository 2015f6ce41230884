#pragma once

#include "Model/ReviewSession.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class AppModel;
class QAction;
class QMenu;
class VemiButton;
class VemiCopyButton;

// The review window's toolbar: Copy Text, More (retry or cancel recognition, delete the draft), the
// inspector toggle and Save Markdown. Each button calls one model operation; titles and enable rules
// follow the session.
class ReviewToolbar : public QWidget
{
    Q_OBJECT
public:
    ReviewToolbar(std::shared_ptr<ReviewSession> session, AppModel *model, QWidget *parent = nullptr);

    VemiCopyButton *copyButton() const { return m_copy; }
    VemiButton *moreButton() const { return m_more; }
    QAction *ocrAction() const { return m_ocr; }
    QAction *deleteDraftAction() const { return m_deleteDraft; }
    VemiButton *inspectorButton() const { return m_inspector; }
    VemiButton *saveButton() const { return m_save; }

    void setInspectorShown(bool shown);
    std::function<void()> onToggleInspector;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    std::shared_ptr<ReviewSession> m_session;
    QPointer<AppModel> m_model;
    VemiCopyButton *m_copy;
    VemiButton *m_more;
    QMenu *m_moreMenu;
    QAction *m_ocr;
    QAction *m_deleteDraft;
    VemiButton *m_inspector;
    VemiButton *m_save;
};
