// Renders every design-system component, the prompt windows and the artwork fallbacks in the light
// and the dark palette, for a person to look at.

#include "Gallery.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Vemi/VemiDesign.h"
#include "Vemi/VemiPrompt.h"
#include "Vemi/VemiSidebar.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

class Canvas : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
    }
};

// A hairline around a prompt card, as its window draws one.
class Outline : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(VemiPalette::vemiLine(VemiPalette::appearance(this)));
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

ScrollingCapturePrompt introduction()
{
    return { QStringLiteral("Capture a long scrolling area"),
        QStringLiteral("Outline the moving column, then let Quorvel scroll it."),
        { QStringLiteral("Outline only the content that changes—not a header or sidebar."),
            QStringLiteral("Keep the pointer inside while it scrolls."),
            QStringLiteral("Choose Done when you have enough."),
            QStringLiteral("Review and save Markdown. No screenshots are saved.") },
        QStringLiteral("Select Region"), QStringLiteral("Cancel") };
}

// A strip with the panel colour, as the settings rail has.
class PanelStrip : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VemiPalette::vemiPanel(VemiPalette::appearance(this)));
    }
};

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(VemiFonts::font(VemiTextStyle::title3, QFont::Bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, VemiPalette::vemiGraphite(VemiPalette::appearance(parent)));
    label->setPalette(palette);
    return label;
}

QLabel *caption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(VemiFonts::font(VemiTextStyle::caption));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

class Swatch : public QWidget
{
public:
    Swatch(QColor color, QWidget *parent)
        : QWidget(parent)
        , m_color(std::move(color))
    {
        setFixedSize(44, 30);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // A checker behind shows the translucent hairline colour honestly.
        painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(shape, m_color);
        painter.strokePath(shape, QPen(VemiPalette::vemiLine(VemiPalette::appearance(this)), 1));
    }

private:
    QColor m_color;
};

QWidget *buildSheet(const QPalette &palette, ManualTaskClock &clock)
{
    auto *page = new Canvas;
    page->setPalette(palette);
    const VemiAppearance appearance = VemiPalette::appearance(palette);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(28, 24, 28, 28);
    column->setSpacing(14);

    // Palette.
    column->addWidget(heading(QStringLiteral("Palette"), page));
    auto *swatches = new QHBoxLayout;
    swatches->setSpacing(14);
    const QList<std::pair<QString, QColor>> colours = {
        { QStringLiteral("teal"), VemiPalette::vemiTeal() },
        { QStringLiteral("coral"), VemiPalette::vemiCoral() },
        { QStringLiteral("canvas"), VemiPalette::vemiCanvas(appearance) },
        { QStringLiteral("panel"), VemiPalette::vemiPanel(appearance) },
        { QStringLiteral("raised"), VemiPalette::vemiPanelRaised(appearance) },
        { QStringLiteral("line"), VemiPalette::vemiLine(appearance) },
        { QStringLiteral("graphite"), VemiPalette::vemiGraphite(appearance) },
    };
    for (const auto &[name, colour] : colours) {
        auto *cell = new QVBoxLayout;
        cell->setSpacing(4);
        cell->addWidget(new Swatch(colour, page), 0, Qt::AlignHCenter);
        cell->addWidget(caption(name, page));
        swatches->addLayout(cell);
    }
    swatches->addStretch(1);
    column->addLayout(swatches);

    // The character in every state.
    column->addWidget(heading(QStringLiteral("Vemi"), page));
    auto *states = new QHBoxLayout;
    states->setSpacing(6);
    for (const VemiState state : VemiStates::all()) {
        auto *cell = new QVBoxLayout;
        cell->setSpacing(2);
        auto *view = new VemiStateView(state, 56, false, page);
        view->setFixedSize(view->sizeHint());
        cell->addWidget(view, 0, Qt::AlignHCenter);
        auto *label = caption(VemiStates::sentence(state), page);
        label->setFixedWidth(96);
        cell->addWidget(label, 0, Qt::AlignHCenter);
        states->addLayout(cell);
    }
    states->addStretch(1);
    column->addLayout(states);

    // Sizes, the template icon, the scenes and the drawn pieces.
    auto *sizes = new QHBoxLayout;
    sizes->setSpacing(18);
    for (const qreal size : { 18.0, 28.0, 44.0 }) {
        auto *view = new VemiStateView(VemiState::idle, size, true, page);
        view->setFixedSize(view->sizeHint());
        sizes->addWidget(view, 0, Qt::AlignBottom);
    }
    auto *icon = new VemiTemplateIcon(page);
    icon->setFixedSize(18, 18);
    sizes->addWidget(icon, 0, Qt::AlignBottom);
    auto *sceneSmall = new VemiKomaScene(VemiState::needsAttention, 64, page);
    sceneSmall->setFixedSize(112, 96);
    sizes->addWidget(sceneSmall, 0, Qt::AlignBottom);
    auto *scene = new VemiKomaScene(VemiState::framing, std::nullopt, page);
    scene->setFixedSize(200, 136);
    sizes->addWidget(scene, 0, Qt::AlignBottom);
    auto *wave = new VemiWaveform(VemiColor::teal, page);
    wave->setFixedSize(32, 26);
    sizes->addWidget(wave, 0, Qt::AlignBottom);
    auto *corners = new VemiCaptureCorners(VemiColor::coral, 2, 10, page);
    corners->setFixedSize(60, 40);
    sizes->addWidget(corners, 0, Qt::AlignBottom);
    sizes->addStretch(1);
    column->addLayout(sizes);

    // Panels and status labels.
    column->addWidget(heading(QStringLiteral("Panels and status"), page));
    auto *panels = new QHBoxLayout;
    panels->setSpacing(14);
    auto *statusPanel = new VemiPanel(12, nullptr, page);
    statusPanel->contentLayout()->setSpacing(8);
    statusPanel->contentLayout()->addWidget(
        new VemiStatusLabel(QStringLiteral("Ready · Everything stays on this computer"), VemiColor::teal));
    statusPanel->contentLayout()->addWidget(new VemiStatusLabel(QStringLiteral("Slack isn't running"),
        VemiColor::coral, QStringLiteral("exclamationmark.triangle.fill")));
    statusPanel->contentLayout()->addWidget(
        new VemiStatusLabel(QStringLiteral("On-device transcript is ready. Edit if needed, then save."),
            VemiColor::teal, QStringLiteral("lock.fill")));
    statusPanel->contentLayout()->addWidget(
        new VemiStatusLabel(QStringLiteral("Open System Settings to change it."), VemiColor::secondary,
            QStringLiteral("info.circle.fill")));
    statusPanel->setFixedWidth(330);
    panels->addWidget(statusPanel, 0, Qt::AlignTop);

    // Sidebar.
    auto *rail = new PanelStrip(page);
    rail->setFixedWidth(176);
    auto *railColumn = new QVBoxLayout(rail);
    railColumn->setContentsMargins(16, 16, 16, 16);
    railColumn->setSpacing(6);
    auto *selection = new VemiSidebarSelection(rail);
    const QList<std::pair<QString, QString>> panes
        = { { QStringLiteral("General"), QStringLiteral("gearshape") },
              { QStringLiteral("Shortcuts"), QStringLiteral("keyboard") },
              { QStringLiteral("Permissions"), QStringLiteral("hand.raised") } };
    for (const auto &[title, symbol] : panes) {
        auto *row = new VemiSidebarItem(title, symbol, selection, rail);
        railColumn->addWidget(row);
        if (title == QStringLiteral("Shortcuts"))
            row->setSelected(true);
    }
    railColumn->addStretch(1);
    auto *footer = new QHBoxLayout;
    footer->setSpacing(6);
    auto *footerVemi = new VemiStateView(VemiState::idle, 28, true, rail);
    footerVemi->setFixedSize(32, 34);
    footer->addWidget(footerVemi);
    auto *footerText = new QLabel(QStringLiteral("Quorvel\nVersion 0.1.0 (1)"), rail);
    footerText->setFont(VemiFonts::font(VemiTextStyle::caption));
    footer->addWidget(footerText, 1);
    railColumn->addLayout(footer);
    rail->setFixedHeight(220);
    panels->addWidget(rail, 0, Qt::AlignTop);
    panels->addStretch(1);
    column->addLayout(panels);

    // Buttons.
    column->addWidget(heading(QStringLiteral("Buttons"), page));
    auto *rows = new QGridLayout;
    rows->setHorizontalSpacing(10);
    rows->setVerticalSpacing(10);

    auto *actionRow = new QWidget(page);
    auto *actionLayout = new QHBoxLayout(actionRow);
    actionLayout->setContentsMargins(0, 0, 0, 0);
    actionLayout->setSpacing(10);
    auto *bordered = new VemiButton(QStringLiteral("Record Audio"), actionRow);
    bordered->setSymbol(QStringLiteral("record.circle"));
    auto *primary = new VemiButton(QStringLiteral("Capture Region"), actionRow);
    primary->setSymbol(QStringLiteral("viewfinder"));
    auto *quit = new VemiButton(QStringLiteral("Cancel"), actionRow);
    auto *disabledPrimary = new VemiButton(QStringLiteral("Continue"), actionRow);
    disabledPrimary->setEnabled(false);
    actionLayout->addWidget(primary);
    actionLayout->addWidget(bordered);
    actionLayout->addWidget(quit);
    actionLayout->addWidget(disabledPrimary);
    actionLayout->addStretch(1);
    VemiButtonStyle::vemiActionGroup(actionRow, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(primary, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(disabledPrimary, VemiControlSize::regular);
    rows->addWidget(actionRow, 0, 0);

    auto *smallRow = new QWidget(page);
    auto *smallLayout = new QHBoxLayout(smallRow);
    smallLayout->setContentsMargins(0, 0, 0, 0);
    smallLayout->setSpacing(8);
    auto *copy = new VemiCopyButton(
        QStringLiteral("Copy Markdown"), [] { return true; }, smallRow);
    copy->setClock(&clock);
    auto *copied = new VemiCopyButton(
        QStringLiteral("Copy Markdown"), [] { return true; }, smallRow);
    copied->setClock(&clock);
    auto *reveal = new VemiButton(QStringLiteral("Show in Folder"), smallRow);
    auto *another = new VemiButton(QStringLiteral("Capture Another"), smallRow);
    auto *mini = new VemiButton(QStringLiteral("Mini"), smallRow);
    auto *large = new VemiButton(QStringLiteral("Large"), smallRow);
    smallLayout->addWidget(copy);
    smallLayout->addWidget(copied);
    smallLayout->addWidget(reveal);
    smallLayout->addWidget(another);
    smallLayout->addWidget(mini);
    smallLayout->addWidget(large);
    smallLayout->addStretch(1);
    VemiButtonStyle::vemiActionGroup(smallRow, VemiControlSize::small);
    VemiButtonStyle::vemiPrimaryAction(another, VemiControlSize::small);
    VemiButtonStyle::vemiSecondaryAction(mini, VemiControlSize::mini);
    VemiButtonStyle::vemiSecondaryAction(large, VemiControlSize::large);
    rows->addWidget(smallRow, 1, 0);
    QTimer::singleShot(0, copied, [copied] { copied->click(); });

    auto *toolbar = new QWidget(page);
    auto *toolbarLayout = new QHBoxLayout(toolbar);
    toolbarLayout->setContentsMargins(0, 0, 0, 0);
    toolbarLayout->setSpacing(8);
    const QList<std::tuple<QString, bool, int>> looks = {
        { QStringLiteral("Copy Text"), false, 0 },
        { QStringLiteral("Hovered"), false, 1 },
        { QStringLiteral("Pressed"), false, 2 },
        { QStringLiteral("Disabled"), false, 3 },
        { QStringLiteral("Save Markdown"), true, 0 },
        { QStringLiteral("Hovered"), true, 1 },
        { QStringLiteral("Pressed"), true, 2 },
        { QStringLiteral("Disabled"), true, 3 },
    };
    for (const auto &[title, prominent, state] : looks) {
        auto *button = new VemiButton(title, toolbar);
        VemiButtonStyle::toolbarAction(
            button, prominent, state == 1 ? std::optional<bool>(true) : std::nullopt);
        if (state == 2)
            button->setDown(true);
        if (state == 3)
            button->setEnabled(false);
        toolbarLayout->addWidget(button);
    }
    auto *more = new VemiButton(QString(), toolbar);
    more->setSymbol(QStringLiteral("ellipsis.circle"));
    VemiButtonStyle::toolbarAction(more, false);
    toolbarLayout->addWidget(more);
    toolbarLayout->addStretch(1);
    rows->addWidget(toolbar, 2, 0);
    column->addLayout(rows);

    // Prompt cards.
    column->addWidget(heading(QStringLiteral("Prompt"), page));
    auto *cards = new QHBoxLayout;
    cards->setSpacing(14);
    for (const ScrollingCapturePrompt &prompt : { ScrollingCapturePrompt::control(), introduction() }) {
        auto *frame = new Outline(page);
        auto *inside = new QVBoxLayout(frame);
        inside->setContentsMargins(1, 1, 1, 1);
        inside->addWidget(new VemiPromptCard(prompt, frame));
        cards->addWidget(frame, 0, Qt::AlignTop);
    }
    cards->addStretch(1);
    column->addLayout(cards);

    // Every symbol.
    column->addWidget(heading(QStringLiteral("Symbols"), page));
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(8);
    const QStringList names = VemiSymbols::names();
    for (int i = 0; i < names.size(); ++i) {
        auto *cell = new QVBoxLayout;
        cell->setSpacing(2);
        const VemiColor tint = i % 3 == 1
            ? VemiColor(VemiColor::teal)
            : (i % 3 == 2 ? VemiColor(VemiColor::coral) : VemiColor(VemiColor::graphite));
        cell->addWidget(new VemiSymbolView(names.at(i), tint, 22, page), 0, Qt::AlignHCenter);
        auto *label = caption(names.at(i), page);
        label->setFixedWidth(136);
        label->setFont(VemiFonts::font(VemiTextStyle::caption2));
        cell->addWidget(label, 0, Qt::AlignHCenter | Qt::AlignTop);
        grid->addLayout(cell, i / 6, i % 6);
    }
    column->addLayout(grid);
    column->addStretch(1);
    return page;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!Gallery::begin(argc, argv))
        return 1;
    bool ok = true;
    const std::pair<QString, QPalette> palettes[]
        = { { QStringLiteral("light"), Gallery::light() }, { QStringLiteral("dark"), Gallery::dark() } };
    for (const auto &[name, palette] : palettes) {
        ManualTaskClock clock;
        std::unique_ptr<QWidget> page(buildSheet(palette, clock));
        page->resize(page->sizeHint().expandedTo(QSize(900, 0)));
        ok = Gallery::save(page.get(), name) && ok;

        // The prompt windows as they open, in the desktop's palette.
        const QPalette previous = QApplication::palette();
        QApplication::setPalette(palette);
        for (const ScrollingCapturePrompt &prompt : { ScrollingCapturePrompt::control(), introduction() }) {
            TaskFuture<bool> answer = VemiPromptPanel::present(prompt);
            const QString file
                = prompt.steps.isEmpty() ? QStringLiteral("prompt-control") : QStringLiteral("prompt-steps");
            ok = Gallery::save(VemiPromptPanel::openWindow(), file + u'-' + name, 50) && ok;
            VemiPromptPanel::dismiss(false);
        }
        QApplication::setPalette(previous);
    }

    // Without the artwork: the drawn fallbacks.
    const QStringList folders = VemiImages::searchFolders();
    VemiImages::setSearchFolders({ QDir::tempPath() + QStringLiteral("/no-such-vemi-folder") });
    Canvas page;
    page.setPalette(Gallery::light());
    auto *row = new QHBoxLayout(&page);
    row->addWidget(new VemiStateView(VemiState::saved, 64, false, &page));
    row->addWidget(new VemiStateView(VemiState::reading, 64, false, &page));
    row->addWidget(new VemiTemplateIcon(&page));
    row->addWidget(new VemiPromptCard(ScrollingCapturePrompt::control(), &page));
    page.resize(page.sizeHint());
    ok = Gallery::save(&page, QStringLiteral("fallback"), 250) && ok;
    VemiImages::setSearchFolders(folders);
    return ok ? 0 : 1;
}
