#include "Audio/ApplicationPickerDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

ApplicationPickerDialog::ApplicationPickerDialog(
    const QString &prompt, ApplicationPicker::ChooseFile browse, QWidget *parent)
    : QDialog(parent)
    , m_browseFile(std::move(browse))
    , m_search(new QLineEdit(this))
    , m_list(new QListWidget(this))
    , m_note(new QLabel(this))
    , m_browse(new QPushButton(QStringLiteral("Browse…"), this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Cancel, this))
{
    setWindowTitle(prompt);
    resize(440, 520);
    auto *column = new QVBoxLayout(this);
    auto *message = new QLabel(ApplicationPicker::message(), this);
    message->setWordWrap(true);
    column->addWidget(message);

    m_search->setPlaceholderText(QStringLiteral("Search applications"));
    m_search->setClearButtonEnabled(true);
    m_search->setAccessibleName(QStringLiteral("Search applications"));
    m_search->installEventFilter(this);
    column->addWidget(m_search);

    m_list->setIconSize(QSize(24, 24));
    m_list->setUniformItemSizes(true);
    m_list->setAccessibleName(QStringLiteral("Installed applications"));
    column->addWidget(m_list, 1);

    m_note->setWordWrap(true);
    m_note->setText(QStringLiteral("Looking for installed applications…"));
    column->addWidget(m_note);

    auto *row = new QHBoxLayout;
    m_browse->setToolTip(QStringLiteral("Choose a .desktop file or a program that is not listed"));
    m_browse->setAutoDefault(false);
    row->addWidget(m_browse);
    m_choose = m_buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
    m_choose->setDefault(true);
    m_choose->setEnabled(false);
    row->addWidget(m_buttons, 1);
    column->addLayout(row);

    connect(m_search, &QLineEdit::textChanged, this, &ApplicationPickerDialog::filter);
    connect(m_list, &QListWidget::currentRowChanged, this,
        [this](int row) { m_choose->setEnabled(row >= 0 && !m_list->item(row)->isHidden()); });
    connect(m_list, &QListWidget::itemActivated, this, &ApplicationPickerDialog::chooseSelected);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &ApplicationPickerDialog::chooseSelected);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_browse, &QPushButton::clicked, this, &ApplicationPickerDialog::browse);

    // Reading every desktop entry touches the disk: off the UI thread.
    connect(&m_reading, &QFutureWatcher<QList<AudioCaptureApp>>::finished, this, [this] {
        m_apps = m_reading.result();
        m_loaded = true;
        showApps();
    });
    m_reading.setFuture(QtConcurrent::run([] { return ApplicationPicker::installedApps(); }));
    m_search->setFocus();
}

// The reading captures nothing of the window: a window closed before it ends leaves it to finish alone.
ApplicationPickerDialog::~ApplicationPickerDialog() = default;

void ApplicationPickerDialog::showApps()
{
    m_list->clear();
    for (const AudioCaptureApp &app : m_apps) {
        auto *item = new QListWidgetItem(m_list);
        item->setText(app.name);
        const QIcon icon = app.icon();
        item->setIcon(icon.isNull() ? QIcon::fromTheme(QStringLiteral("application-x-executable")) : icon);
        item->setToolTip(app.bundleID);
    }
    filter();
}

void ApplicationPickerDialog::filter()
{
    if (!m_loaded)
        return;
    const QString query = m_search->text().trimmed();
    int first = -1;
    for (int row = 0; row < m_list->count(); ++row) {
        const AudioCaptureApp &app = m_apps.at(row);
        const bool shown = query.isEmpty() || app.name.contains(query, Qt::CaseInsensitive)
            || app.bundleID.contains(query, Qt::CaseInsensitive);
        m_list->item(row)->setHidden(!shown);
        if (shown && first < 0)
            first = row;
    }
    if (m_list->currentRow() < 0 || m_list->currentItem()->isHidden())
        m_list->setCurrentRow(first);
    m_choose->setEnabled(first >= 0 && m_list->currentRow() >= 0);
    if (m_apps.isEmpty())
        m_note->setText(QStringLiteral("No installed applications were found. Use Browse… to choose one."));
    else if (first < 0)
        m_note->setText(QStringLiteral("No application matches “%1”. Use Browse… to choose one that is not "
                                       "listed.")
                            .arg(query));
    else
        m_note->clear();
    m_note->setVisible(!m_note->text().isEmpty());
}

void ApplicationPickerDialog::chooseSelected()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_apps.size() || m_list->item(row)->isHidden())
        return;
    m_chosen = m_apps.at(row);
    accept();
}

void ApplicationPickerDialog::browse()
{
    if (!m_browseFile || m_browsing.isValid())
        return;
    m_browsing
        = m_browseFile(this, windowTitle(), ApplicationPicker::message(), ApplicationPicker::browseFolder());
    m_browsing.whenFinished(this, [this] {
        const Task<std::optional<QString>> browsing = std::exchange(m_browsing, {});
        std::optional<QString> file;
        try {
            file = browsing.result();
        } catch (const std::exception &) {
            return; // a chooser that went away unanswered chose nothing
        }
        if (!file || file->isEmpty())
            return;
        const std::variant<AudioCaptureApp, QString> found = ApplicationPicker::appForFile(*file);
        if (const auto *app = std::get_if<AudioCaptureApp>(&found)) {
            m_chosen = *app;
            accept();
            return;
        }
        m_note->setText(std::get<QString>(found));
        m_note->setVisible(true);
    });
}

bool ApplicationPickerDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Up and Down in the search field move through the list, so typing and choosing need no mouse.
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            int row = m_list->currentRow();
            const int step = key == Qt::Key_Down ? 1 : -1;
            for (int next = row + step; next >= 0 && next < m_list->count(); next += step) {
                if (!m_list->item(next)->isHidden()) {
                    m_list->setCurrentRow(next);
                    break;
                }
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
