#pragma once

#include "Vemi/VemiDesign.h"

#include <QMessageBox>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class AppModel;
class MiddleElidedLabel;
class QGraphicsOpacityEffect;
class QLabel;
class VemiButton;
class VemiCopyButton;
class VemiPanel;
class VemiStateView;
class VemiStatusLabel;

// The "receipt" window's content: which Markdown file the last save wrote and where, warnings about
// an audio session without system audio or with a transcription issue, both transcripts, and the
// next steps (Move to Trash…, Show in Folder, Copy Markdown, Capture or Record Another). Shows the
// model's receipt as it changes; closes its window when the receipt goes away. Every action is a
// model operation.
class ReceiptView : public QWidget
{
    Q_OBJECT

public:
    explicit ReceiptView(AppModel &model, QWidget *parent = nullptr);
    ~ReceiptView() override;

    // False while the badge and the character wait to appear; true once the latest settle ran.
    bool hasSettled() const { return m_hasSettled; }
    // The Trash confirmation while it shows.
    QMessageBox *trashAlert() const { return m_trashAlert; }

signals:
    // The latest settle request made the badge and the character appear.
    void settled();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void receiptChanged();
    void refreshContent();
    void refreshTrashButton();
    void refitTexts();
    void placeCharacter();
    void applyCharacterLevel();
    void playSettle();
    void settle(int generation);
    void confirmTrash();
    void captureAnother();
    void dismiss();
    void dismissWindow();

    AppModel &m_model;
    std::optional<QUuid> m_shownID;
    bool m_hasSettled = false;
    int m_settleGeneration = 0;
    QPointer<QMessageBox> m_trashAlert;
    VemiAnimatedValue m_badgeLevel;
    VemiAnimatedValue m_characterLevel;

    QWidget *m_badgeSlot;
    QLabel *m_title;
    QWidget *m_fileRows;
    MiddleElidedLabel *m_fileName;
    MiddleElidedLabel *m_folderPath;
    QLabel *m_noFile;
    VemiStatusLabel *m_screenshotNotKept;
    QWidget *m_characterSlot;
    VemiStateView *m_character;
    QGraphicsOpacityEffect *m_characterOpacity;
    VemiPanel *m_noSystemAudio;
    VemiPanel *m_issuePanel;
    QLabel *m_issueText;
    VemiPanel *m_preview;
    QLabel *m_othersCaption;
    QLabel *m_othersText;
    QWidget *m_previewDivider;
    QLabel *m_youCaption;
    QLabel *m_youText;
    VemiButton *m_trash;
    VemiButton *m_reveal;
    VemiCopyButton *m_copy;
    VemiButton *m_another;
};
