#include "Shell/MenuBarFallbackWindow.h"

#include "Shell/MenuBarRecordingStatus.h"
#include "Shell/MenuContent.h"
#include "Vemi/VemiDesign.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int lineIconSize = 16;

// Menu-like lines: flat until the pointer or the keyboard is on one, then tinted with the selection
// colour, light enough that the text and its symbol keep their own colour. A style sheet fixes the
// colours it was made with, so the text colours are part of it: a switch between light and dark that
// keeps the selection colour changes the sheet all the same.
QString buttonStyle(const QPalette &palette)
{
    const QColor tint = VemiPalette::withAlpha(palette.color(QPalette::Active, QPalette::Highlight), 0.22);
    return QStringLiteral(
        "QPushButton { text-align: left; padding: 5px 8px; border: none; border-radius: 6px; color: %2; }"
        "QPushButton:disabled { color: %3; }"
        "QPushButton:hover:enabled, QPushButton:focus { background: %1; }")
        .arg(tint.name(QColor::HexArgb), palette.color(QPalette::Active, QPalette::ButtonText).name(),
            palette.color(QPalette::Disabled, QPalette::ButtonText).name(QColor::HexArgb));
}

} // namespace

MenuBarFallbackWindow::MenuBarFallbackWindow(MenuContent &content, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_content(content)
    , m_label(new MenuBarRecordingStatus(this))
    , m_heading(new QLabel(this))
    , m_layout(new QVBoxLayout)
{
    setObjectName(QStringLiteral("menu-bar-fallback"));
    setWindowTitle(QStringLiteral("Quorvel"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(8);
    auto *top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(m_label);
    m_heading->setFont(VemiFonts::font(VemiTextStyle::headline, QFont::DemiBold));
    m_heading->setWordWrap(true);
    top->addWidget(m_heading, 1);
    outer->addLayout(top);
    m_layout->setSpacing(1);
    outer->addLayout(m_layout);
    auto *hint = new QLabel(QStringLiteral("Closing this window keeps Quorvel running. "
                                           "Start Quorvel again to bring it back."),
        this);
    hint->setWordWrap(true);
    hint->setFont(VemiFonts::font(VemiTextStyle::footnote));
    hint->setForegroundRole(QPalette::PlaceholderText);
    outer->addWidget(hint);
    setMinimumWidth(320);
    sync();
    connect(&content, &MenuContent::changed, this, &MenuBarFallbackWindow::sync);
}

void MenuBarFallbackWindow::setPresentation(const MenuBarStatusPresentation &presentation)
{
    m_label->setPresentation(presentation);
    m_label->setToolTip(MenuBarRecordingStatus::toolTip(presentation));
}

void MenuBarFallbackWindow::sync()
{
    const MenuEntries entries = m_content.entries();
    QStringList order;
    for (const MenuEntry &entry : entries) {
        if (entry.kind != MenuEntry::Kind::heading)
            order << entry.id;
    }
    if (order != m_order) {
        delete m_body;
        m_body = new QWidget(this);
        auto *lines = new QVBoxLayout(m_body);
        lines->setContentsMargins(0, 0, 0, 0);
        lines->setSpacing(1);
        m_lines.clear();
        m_shortcuts.clear();
        m_order = order;
        for (const MenuEntry &entry : entries) {
            const QString id = entry.id;
            if (entry.kind == MenuEntry::Kind::heading)
                continue;
            if (entry.kind == MenuEntry::Kind::separator) {
                auto *rule = new QFrame(m_body);
                rule->setFrameShape(QFrame::HLine);
                rule->setForegroundRole(QPalette::Mid);
                lines->addWidget(rule);
                continue;
            }
            if (entry.kind == MenuEntry::Kind::note) {
                auto *note = new QLabel(m_body);
                note->setWordWrap(true);
                note->setForegroundRole(QPalette::PlaceholderText);
                note->setContentsMargins(8, 2, 8, 2);
                lines->addWidget(note);
                m_lines.insert(id, note);
                continue;
            }
            auto *row = new QHBoxLayout;
            auto *button = new QPushButton(m_body);
            button->setObjectName(id);
            button->setIconSize(QSize(lineIconSize, lineIconSize));
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            connect(button, &QPushButton::clicked, this, [this, id] {
                if (const std::function<void()> handler = m_handlers.value(id))
                    handler();
            });
            row->addWidget(button, 1);
            auto *keys = new QLabel(m_body);
            keys->setForegroundRole(QPalette::PlaceholderText);
            row->addWidget(keys);
            lines->addLayout(row);
            m_lines.insert(id, button);
            m_shortcuts.insert(id, keys);
        }
        m_layout->addWidget(m_body);
    }

    const QColor ink = palette().color(QPalette::Active, QPalette::ButtonText);
    const QString style = buttonStyle(palette());
    m_handlers.clear();
    for (const MenuEntry &entry : entries) {
        if (entry.kind == MenuEntry::Kind::heading) {
            m_heading->setText(entry.title);
            continue;
        }
        QWidget *line = m_lines.value(entry.id);
        if (auto *button = qobject_cast<QPushButton *>(line)) {
            if (button->styleSheet() != style)
                button->setStyleSheet(style);
            button->setText(entry.title);
            button->setEnabled(entry.enabled);
            button->setIcon(entry.symbol.isEmpty() ? QIcon() : VemiSymbols::icon(entry.symbol, ink));
            m_shortcuts.value(entry.id)->setText(entry.shownShortcut());
            // The capture line shows the global shortcut, which the desktop hands to the hot key.
            button->setShortcut(entry.id == QLatin1String("capture") ? QKeySequence() : entry.shortcut);
            m_handlers.insert(entry.id, entry.action);
        } else if (auto *note = qobject_cast<QLabel *>(line)) {
            note->setText(entry.title);
        }
    }
    // A window keeps its height when a line starts to wrap (a long status, a warning): its lines
    // would be squeezed until the text is cut, so it grows to hold them.
    if (isVisible()) {
        layout()->activate();
        const int wanted = layout()->totalHeightForWidth(width());
        if (wanted > height())
            resize(width(), wanted);
    }
}

void MenuBarFallbackWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        sync();
    QWidget::changeEvent(event);
}
