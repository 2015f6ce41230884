#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class AppModel;
class VemiButton;
class VemiStatusLabel;

// The "recovery" window's content: offers the encrypted draft an earlier run left unsaved (Delete
// Draft…, Not Now, Resume Review) and shows the model's status while it waits. It closes itself, and
// every other "Unfinished Capture" window, once no recoverable draft is left and no confirmation
// shows. What the buttons decide is the model's.
class RecoveryView : public QWidget
{
    Q_OBJECT

public:
    static inline const QString windowTitle = QStringLiteral("Unfinished Capture");

    explicit RecoveryView(AppModel &model, QWidget *parent = nullptr);
    ~RecoveryView() override;

    // The delete confirmation while it shows.
    QMessageBox *deleteAlert() const { return m_deleteAlert; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void recoverableDraftMaybeChanged();
    void closeIfResolved();
    void refreshStatus();
    void confirmDelete();
    void resumeReview();
    void closeRecoveryWindow();

    AppModel &m_model;
    bool m_hasRecoverableDraft = false;
    bool m_confirmDelete = false;
    QPointer<QMessageBox> m_deleteAlert;
    VemiStatusLabel *m_status;
    VemiButton *m_delete;
    VemiButton *m_notNow;
    VemiButton *m_resume;
};
