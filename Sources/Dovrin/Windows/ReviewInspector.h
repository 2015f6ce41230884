#pragma once

#include "Model/ReviewSession.h"

#include <QWidget>

#include <memory>

class AppModel;
class MiddleElidedLabel;
class QLineEdit;
class ToggleSwitch;
class VemiButton;

// The review's right-hand column: title, note and tags; whether the observed application goes into
// the file, with its name and identifier; and where this capture is saved, with the file name it
// will get. Every field writes straight into the session; only Choose Folder… asks the model.
// Name and identifier keep their text while the switch hides them.
class ReviewInspector : public QWidget
{
    Q_OBJECT
public:
    ReviewInspector(std::shared_ptr<ReviewSession> session, AppModel *model, QWidget *parent = nullptr);

    QLineEdit *titleField() const { return m_title; }
    QLineEdit *noteField() const { return m_note; }
    QLineEdit *tagsField() const { return m_tags; }
    ToggleSwitch *includeApplicationSwitch() const { return m_include; }
    QLineEdit *applicationField() const { return m_application; }
    QLineEdit *bundleIDField() const { return m_bundleID; }
    MiddleElidedLabel *savesAsLabel() const { return m_savesAs; }
    MiddleElidedLabel *folderLabel() const { return m_folder; }
    VemiButton *chooseFolderButton() const { return m_chooseFolder; }

private:
    QLineEdit *textRow(QLayout *panel, const QString &label, const QString &placeholder, bool monospaced,
        void (ReviewSession::*write)(const QString &));
    void refresh();

    std::shared_ptr<ReviewSession> m_session;
    QLineEdit *m_title = nullptr;
    QLineEdit *m_note = nullptr;
    QLineEdit *m_tags = nullptr;
    ToggleSwitch *m_include = nullptr;
    QWidget *m_applicationRows = nullptr;
    QLineEdit *m_application = nullptr;
    QLineEdit *m_bundleID = nullptr;
    MiddleElidedLabel *m_savesAs = nullptr;
    MiddleElidedLabel *m_folder = nullptr;
    VemiButton *m_chooseFolder = nullptr;
};
