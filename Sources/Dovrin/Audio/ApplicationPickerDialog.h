#pragma once

#include "Audio/ApplicationPicker.h"

#include <QDialog>
#include <QFutureWatcher>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The application picker's window: the installed applications by name and icon, narrowed by a
// search field, and Browse… for a .desktop file or a program elsewhere. The list is read on a worker;
// until it arrives the window says it is looking.
class ApplicationPickerDialog : public QDialog
{
    Q_OBJECT
public:
    ApplicationPickerDialog(
        const QString &prompt, ApplicationPicker::ChooseFile browse, QWidget *parent = nullptr);
    ~ApplicationPickerDialog() override;

    std::optional<AudioCaptureApp> chosen() const { return m_chosen; }
    // The applications listed before any search; empty until they have been read.
    const QList<AudioCaptureApp> &apps() const { return m_apps; }
    bool isLoaded() const { return m_loaded; }

    QLineEdit *searchField() const { return m_search; }
    QListWidget *list() const { return m_list; }
    QPushButton *browseButton() const { return m_browse; }
    QPushButton *chooseButton() const { return m_choose; }
    // Why nothing is listed, or why a browsed-to file cannot be recorded.
    QLabel *note() const { return m_note; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showApps();
    void filter();
    void chooseSelected();
    void browse();

    ApplicationPicker::ChooseFile m_browseFile;
    Task<std::optional<QString>> m_browsing;
    QFutureWatcher<QList<AudioCaptureApp>> m_reading;
    QList<AudioCaptureApp> m_apps;
    bool m_loaded = false;
    std::optional<AudioCaptureApp> m_chosen;
    QLineEdit *m_search;
    QListWidget *m_list;
    QLabel *m_note;
    QPushButton *m_browse;
    QPushButton *m_choose;
    QDialogButtonBox *m_buttons;
};
