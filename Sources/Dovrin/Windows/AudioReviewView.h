#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>

class AppModel;
class AudioReviewSession;
class FramedTextEditor;
class QLineEdit;

class TextLabel;
class VemiButton;
class VemiPanel;
class VemiStatusLabel;

// The content of the "Review Audio" window: the title, the recording or transcription note, the
// Others and You transcripts to correct, and Save Markdown or Discard. The editors write straight
// into the session; saving and discarding are the model's. The window closes after a save only
// once the save has succeeded, and Discard asks first, since it deletes both recordings.
class AudioReviewView : public QWidget
{
    Q_OBJECT
public:
    AudioReviewView(AppModel *model, std::shared_ptr<AudioReviewSession> session, QWidget *parent = nullptr);

    // What an empty transcript says instead.
    static QString othersEmptyText(const AudioReviewSession &session);
    static QString youEmptyText(const AudioReviewSession &session);

    QLineEdit *titleField() const { return m_title; }
    VemiPanel *notePanel() const { return m_notePanel; }
    TextLabel *noteTitle() const { return m_noteTitle; }
    FramedTextEditor *othersEditor() const { return m_othersEditor; }
    FramedTextEditor *youEditor() const { return m_youEditor; }
    VemiStatusLabel *othersEmptyLabel() const { return m_othersEmpty; }
    VemiStatusLabel *youEmptyLabel() const { return m_youEmpty; }
    VemiStatusLabel *statusLabel() const { return m_status; }
    VemiButton *discardButton() const { return m_discard; }
    VemiButton *saveButton() const { return m_save; }
    QMessageBox *discardConfirmation() const { return m_confirmation; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *transcriptPanel(
        const QString &label, const QString &identifier, FramedTextEditor *&editor, VemiStatusLabel *&empty);
    void refresh();
    void save();
    void confirmDiscard();

    QPointer<AppModel> m_model;
    std::shared_ptr<AudioReviewSession> m_session;
    bool m_saveRunning = false;
    QLineEdit *m_title = nullptr;
    VemiPanel *m_notePanel = nullptr;
    TextLabel *m_noteTitle = nullptr;
    TextLabel *m_noteText = nullptr;
    FramedTextEditor *m_othersEditor = nullptr;
    FramedTextEditor *m_youEditor = nullptr;
    VemiStatusLabel *m_othersEmpty = nullptr;
    VemiStatusLabel *m_youEmpty = nullptr;
    QWidget *m_footer = nullptr;
    VemiStatusLabel *m_status = nullptr;
    VemiButton *m_discard = nullptr;
    VemiButton *m_save = nullptr;
    QPointer<QMessageBox> m_confirmation;
};
