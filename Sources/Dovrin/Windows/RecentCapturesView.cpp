#include "Windows/RecentCapturesView.h"

#include "Model/AppModel.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Windows/Hairline.h"
#include "Windows/RecentCaptureRow.h"
#include "Windows/RecentCapturesEmptyState.h"
#include "Windows/TextLabel.h"
#include "Windows/WindowTint.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// The locale's long date without the weekday and with short month names ("Jan 2, 2026").
QString abbreviatedDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("d{4}[^dMy]*")));
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

// The locale's short time without seconds ("9:30 AM").
QString shortTimeFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    return format;
}

QWidget *strip(QWidget *parent)
{
    auto *strip = new QWidget(parent);
    WindowTint::fill(strip, VemiColor::panel);
    return strip;
}

} // namespace

RecentCapturesView::RecentCapturesView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setMinimumSize(640, 400);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // The search field, where the window's toolbar would hold it.
    QWidget *toolbar = strip(this);
    auto *toolbarRow = new QHBoxLayout(toolbar);
    toolbarRow->setContentsMargins(12, 8, 12, 8);
    toolbarRow->addStretch(1);
    m_search = new QLineEdit(toolbar);
    m_search->setPlaceholderText(QStringLiteral("Search captures"));
    m_search->setClearButtonEnabled(true);
    m_search->setFixedWidth(240);
    VemiPalette::keepPlaceholderLegible(m_search);
    toolbarRow->addWidget(m_search);
    root->addWidget(toolbar);
    root->addWidget(new Hairline(Qt::Horizontal, this));

    // Column header and list.
    m_listArea = new QWidget(this);
    auto *list = new QVBoxLayout(m_listArea);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(0);
    QWidget *header = strip(m_listArea);
    header->setAccessibleName(QStringLiteral("File and saved date columns"));
    auto *headerRow = new QHBoxLayout(header);
    m_headerRow = headerRow;
    headerRow->setSpacing(12);
    headerRow->addWidget(new TextLabel(QStringLiteral("File"), VemiTextStyle::caption, QFont::DemiBold,
                             VemiColor::secondary, header),
        1);
    QWidget *columnLine = new Hairline(Qt::Vertical, header);
    columnLine->setFixedHeight(18);
    headerRow->addWidget(columnLine);
    QLabel *saved = new TextLabel(
        QStringLiteral("Saved"), VemiTextStyle::caption, QFont::DemiBold, VemiColor::secondary, header);
    saved->setFixedWidth(RecentCaptureRow::savedColumnWidth);
    headerRow->addWidget(saved);
    list->addWidget(header);
    list->addWidget(new Hairline(Qt::Horizontal, m_listArea));

    m_scroll = new QScrollArea(m_listArea);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    auto *rows = new QWidget;
    m_rowLayout = new QVBoxLayout(rows);
    m_rowLayout->setContentsMargins(listMargin, 4, listMargin, 4);
    m_rowLayout->setSpacing(0);
    m_rowLayout->addStretch(1);
    m_scroll->setWidget(rows);
    alignHeader();
    // A scroll bar that comes or goes moves the dates: the header follows.
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, &RecentCapturesView::alignHeader);
    // The scroll area fills its content by default; the canvas shows through instead.
    rows->setAutoFillBackground(false);
    list->addWidget(m_scroll, 1);
    root->addWidget(m_listArea, 1);

    m_empty = new RecentCapturesEmptyState(this);
    root->addWidget(m_empty, 1);
    root->addWidget(new Hairline(Qt::Horizontal, this));

    // Footer.
    QWidget *footer = strip(this);
    auto *footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(16, 12, 16, 12);
    footerRow->setSpacing(8);
    auto *vemi = new VemiStateView(VemiState::idle, 14, true, footer);
    vemi->setFixedSize(20, 16);
    footerRow->addWidget(vemi);
    m_count = new TextLabel(QString(), VemiTextStyle::caption, QFont::Normal, VemiColor::secondary, footer);
    footerRow->addWidget(m_count);
    auto *dot = new QLabel(QStringLiteral("·"), footer);
    WindowTint::setTertiary(dot);
    footerRow->addWidget(dot);
    footerRow->addWidget(new TextLabel(QStringLiteral("This Computer"), VemiTextStyle::caption, QFont::Normal,
        VemiColor::secondary, footer));
    footerRow->addStretch(1);
    m_open = new VemiButton(QStringLiteral("Open"), footer);
    m_open->setToolTip(QStringLiteral("Open this file in the default editor"));
    m_reveal = new VemiButton(QStringLiteral("Reveal"), footer);
    m_reveal->setToolTip(QStringLiteral("Reveal this Markdown file in the file manager"));
    m_copy = new VemiCopyButton(QStringLiteral("Copy Markdown"),
        VemiCopyButton::LaterAction([this]() -> Task<bool> {
            const std::optional<RecentCaptureRef> selected = selectedItem();
            if (!selected)
                co_return false;
            Task<bool> copying = m_model.copyRecent(*selected);
            co_return co_await copying;
        }),
        footer);
    m_copy->setToolTip(QStringLiteral("Copy the Markdown contents"));
    m_remove = new VemiButton(QStringLiteral("Remove"), footer);
    m_remove->setToolTip(QStringLiteral("Remove this reference. The Markdown file is not deleted."));
    for (VemiButton *button : { m_open, m_reveal, static_cast<VemiButton *>(m_copy), m_remove }) {
        // A click leaves keyboard focus on the list, so the selected row keeps it.
        button->setFocusPolicy(Qt::TabFocus);
        footerRow->addWidget(button);
    }
    VemiButtonStyle::vemiActionGroup(footer, VemiControlSize::regular);
    root->addWidget(footer);

    connect(m_open, &QPushButton::clicked, this, [this] {
        if (const std::optional<RecentCaptureRef> selected = selectedItem())
            m_model.openRecent(*selected);
    });
    connect(m_reveal, &QPushButton::clicked, this, [this] {
        if (const std::optional<RecentCaptureRef> selected = selectedItem())
            m_model.revealRecent(*selected);
    });
    connect(m_remove, &QPushButton::clicked, this, [this] {
        if (const std::optional<RecentCaptureRef> selected = selectedItem())
            remove(*selected);
    });
    connect(m_empty->captureButton(), &QPushButton::clicked, this, [this] { m_model.startCapture(); });
    connect(
        m_empty->recordButton(), &QPushButton::clicked, this, [this] { m_model.handleAudioInvocation(); });
    connect(m_search, &QLineEdit::textChanged, this, &RecentCapturesView::searchChanged);
    connect(&m_model, &AppModel::settingsChanged, this, &RecentCapturesView::recentsChanged);
    m_focusWatch = connect(
        qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { focusChanged(now); });

    m_recents = m_model.settings().recent;
    rebuildRows();
    WindowTint::refresh(this);
}

void RecentCapturesView::alignHeader()
{
    QScrollBar *bar = m_scroll->verticalScrollBar();
    const bool barShown
        = bar->minimum() < bar->maximum() && m_scroll->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
    const int barWidth = barShown ? bar->sizeHint().width() : 0;
    m_headerRow->setContentsMargins(listMargin + RecentCaptureRow::nameOffset, 9,
        listMargin + RecentCaptureRow::contentInset + barWidth, 9);
}

RecentCapturesView::~RecentCapturesView()
{
    // The rows' focus goes while the widget is being torn down.
    disconnect(m_focusWatch);
}

QList<RecentCaptureRef> RecentCapturesView::filteredRecents() const
{
    const QString query = m_search->text().trimmed();
    const QList<RecentCaptureRef> &recent = m_model.settings().recent;
    if (query.isEmpty())
        return recent;
    QList<RecentCaptureRef> listed;
    for (const RecentCaptureRef &entry : recent) {
        if (entry.filename.contains(query, Qt::CaseInsensitive))
            listed << entry;
    }
    return listed;
}

std::optional<RecentCaptureRef> RecentCapturesView::selectedItem() const
{
    if (!m_selection)
        return std::nullopt;
    for (const RecentCaptureRef &entry : m_model.settings().recent) {
        if (entry.id == *m_selection)
            return entry;
    }
    return std::nullopt;
}

QString RecentCapturesView::formattedSavedDate(const QDateTime &date) const
{
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
        + locale.toString(local.time(), shortTimeFormat(locale));
}

RecentCaptureRow *RecentCapturesView::row(const std::optional<QUuid> &id) const
{
    return id ? m_rowByID.value(*id) : nullptr;
}

void RecentCapturesView::recentsChanged()
{
    if (m_model.settings().recent == m_recents)
        return;
    m_recents = m_model.settings().recent;
    const bool rowHadFocus = m_focusedItem.has_value();
    rebuildRows();
    selectFirstCaptureIfNeeded(rowHadFocus);
}

void RecentCapturesView::searchChanged()
{
    rebuildRows();
    selectFirstCaptureIfNeeded(false);
}

void RecentCapturesView::rebuildRows()
{
    m_rebuilding = true;
    const QList<RecentCaptureRef> listed = filteredRecents();
    QHash<QUuid, RecentCaptureRow *> kept;
    m_rows.clear();
    for (const RecentCaptureRef &entry : listed) {
        if (kept.contains(entry.id))
            continue;
        RecentCaptureRow *entryRow = m_rowByID.take(entry.id);
        if (!entryRow) {
            entryRow = new RecentCaptureRow(entry, m_scroll->widget());
            const QUuid id = entry.id;
            connect(entryRow, &RecentCaptureRow::pressed, this, [this, id] { selectAndFocus(id); });
            connect(entryRow, &RecentCaptureRow::activated, this,
                [this, entryRow] { openForInteraction(entryRow->entry()); });
            connect(entryRow, &RecentCaptureRow::moveRequested, this,
                [this](RecentCaptureNavigation::Direction direction) {
                    if (const std::optional<QUuid> moved = moveSelection(direction))
                        scrollToCentre(this->row(moved));
                });
            connect(entryRow, &RecentCaptureRow::hoverChanged, this, [this, id](bool inside) {
                if (inside)
                    m_hoveredItem = id;
                else if (m_hoveredItem == id)
                    m_hoveredItem.reset();
                refreshSelection();
            });
            connect(entryRow, &RecentCaptureRow::menuRequested, this,
                [this, entryRow](const QPoint &position) { showMenu(entryRow->entry(), position); });
        }
        entryRow->setEntry(entry);
        entryRow->setSavedText(formattedSavedDate(entry.savedAt));
        m_rowLayout->insertWidget(int(m_rows.size()), entryRow);
        entryRow->show();
        kept.insert(entry.id, entryRow);
        m_rows << entryRow;
    }
    for (int index = 0; index < m_rows.size(); ++index)
        m_rows.at(index)->setPosition(index + 1, int(m_rows.size()));
    for (RecentCaptureRow *gone : std::as_const(m_rowByID)) {
        gone->hide();
        m_rowLayout->removeWidget(gone);
        gone->deleteLater();
    }
    m_rowByID = kept;
    if (m_hoveredItem && !kept.contains(*m_hoveredItem))
        m_hoveredItem.reset();

    m_listArea->setVisible(!m_rows.isEmpty());
    m_empty->setVisible(m_rows.isEmpty());
    // Typed spaces count as searching here, though they filter nothing.
    m_empty->setSearching(!m_search->text().isEmpty());
    refreshMissing();
    m_rebuilding = false;
}

void RecentCapturesView::refreshMissing()
{
    for (RecentCaptureRow *row : std::as_const(m_rows))
        row->setMissing(m_model.recentIsMissing(row->entry()));
    refreshSelection();
}

void RecentCapturesView::refreshSelection()
{
    for (RecentCaptureRow *row : std::as_const(m_rows)) {
        row->setSelected(row->entry().id == m_selection);
        row->setHovered(row->entry().id == m_hoveredItem);
    }
    refreshFooter();
}

void RecentCapturesView::refreshFooter()
{
    const qsizetype total = m_model.settings().recent.size();
    const QString noun = total == 1 ? QStringLiteral("capture") : QStringLiteral("captures");
    m_count->setText(m_search->text().trimmed().isEmpty()
            ? QStringLiteral("%1 %2").arg(total).arg(noun)
            : QStringLiteral("%1 of %2 %3").arg(m_rows.size()).arg(total).arg(noun));
    const std::optional<RecentCaptureRef> selected = selectedItem();
    const bool available = selected && !m_model.recentIsMissing(*selected);
    m_open->setEnabled(available);
    m_reveal->setEnabled(available);
    m_copy->setEnabled(available);
    m_remove->setEnabled(selected.has_value());
}

void RecentCapturesView::selectFirstCaptureIfNeeded(bool focusSelection)
{
    const QList<RecentCaptureRef> listed = filteredRecents();
    const auto isListed = [&listed](const QUuid &id) {
        return std::any_of(
            listed.begin(), listed.end(), [&id](const RecentCaptureRef &entry) { return entry.id == id; });
    };
    if (m_focusedItem && !isListed(*m_focusedItem))
        m_focusedItem.reset();
    std::optional<QUuid> next;
    if (m_selection && isListed(*m_selection)) {
        next = m_selection;
    } else {
        for (const RecentCaptureRef &entry : listed) {
            if (!m_model.recentIsMissing(entry)) {
                next = entry.id;
                break;
            }
        }
        if (!next && !listed.isEmpty())
            next = listed.first().id;
    }
    m_selection = next;
    if (focusSelection)
        setFocusedItem(next);
    refreshSelection();
}

std::optional<QUuid> RecentCapturesView::moveSelection(RecentCaptureNavigation::Direction direction)
{
    const QList<RecentCaptureRef> listed = filteredRecents();
    std::optional<int> current;
    for (int index = 0; index < listed.size() && m_selection; ++index) {
        if (listed.at(index).id == *m_selection) {
            current = index;
            break;
        }
    }
    const std::optional<int> target
        = RecentCaptureNavigation::targetIndex(int(listed.size()), current, direction);
    if (!target)
        return std::nullopt;
    const QUuid id = listed.at(*target).id;
    selectAndFocus(id);
    return id;
}

void RecentCapturesView::selectAndFocus(const QUuid &id)
{
    m_selection = id;
    setFocusedItem(id);
}

void RecentCapturesView::setFocusedItem(const std::optional<QUuid> &id)
{
    m_focusedItem = id;
    if (id)
        m_selection = id;
    if (RecentCaptureRow *focused = row(id))
        focused->setFocus(Qt::OtherFocusReason);
    refreshSelection();
}

void RecentCapturesView::focusChanged(QWidget *now)
{
    // Focus that leaves the window (another window, a menu) comes back to the same row.
    if (m_rebuilding || !now || !isAncestorOf(now))
        return;
    const auto focused = std::find(m_rows.begin(), m_rows.end(), now);
    if (focused != m_rows.end()) {
        m_focusedItem = (*focused)->entry().id;
        m_selection = m_focusedItem;
    } else {
        m_focusedItem.reset();
    }
    refreshSelection();
}

void RecentCapturesView::openForInteraction(const RecentCaptureRef &entry)
{
    selectAndFocus(entry.id);
    m_model.openRecent(entry);
}

void RecentCapturesView::remove(const RecentCaptureRef &entry)
{
    m_model.removeRecent(entry);
}

void RecentCapturesView::showMenu(const RecentCaptureRef &entry, const QPoint &globalPosition)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (!m_model.recentIsMissing(entry)) {
        menu->addAction(QStringLiteral("Open"), this, [this, entry] { openForInteraction(entry); });
        menu->addAction(QStringLiteral("Reveal"), this, [this, entry] {
            selectAndFocus(entry.id);
            m_model.revealRecent(entry);
        });
        menu->addAction(QStringLiteral("Copy Markdown"), this, [this, entry] {
            selectAndFocus(entry.id);
            m_model.copyRecent(entry);
        });
    }
    menu->addAction(QStringLiteral("Remove from Recents"), this, [this, entry] {
        selectAndFocus(entry.id);
        remove(entry);
    });
    menu->popup(globalPosition);
}

void RecentCapturesView::scrollToCentre(RecentCaptureRow *row)
{
    if (row)
        m_scroll->ensureWidgetVisible(
            row, 0, std::max(0, (m_scroll->viewport()->height() - row->height()) / 2));
}

void RecentCapturesView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}

void RecentCapturesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || m_appeared)
        return;
    m_appeared = true;
    selectFirstCaptureIfNeeded(true);
}

void RecentCapturesView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        WindowTint::refresh(this);
    // Files may have come or gone while another application was in front.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshMissing();
}
