#include "Settings/ShortcutRecorder.h"

#include "Model/AppModel.h"
#include "Rules/KeyTable.h"
#include "Settings/SettingsLayout.h"
#include "Settings/ShortcutEventCatcher.h"
#include "Vemi/VemiButton.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

const QColor orange(255, 149, 0);

// The shortcut in a rounded, faintly filled box; orange when it could not be registered. Where the
// row has no room for a long shortcut ("Ctrl+Alt+Shift+Super+Page Down") at full size it is drawn
// smaller, down to `smallest` points, and only then shortened in the middle.
class ShortcutChip : public QLabel
{
public:
    using QLabel::QLabel;
    bool registered = true;
    qreal smallest = 1;

    QSize minimumSizeHint() const override
    {
        const QMargins margins = contentsMargins();
        return QSize(margins.left() + margins.right() + fontMetrics().height(), sizeHint().height());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        const QColor primary = VemiPalette::primaryText(this);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(
            shape, registered ? VemiPalette::withAlpha(primary, 0.06) : VemiPalette::withAlpha(orange, 0.14));
        painter.strokePath(shape, QPen(VemiPalette::withAlpha(primary, 0.08), 1));
        const QRect room = contentsRect();
        QFont shown = font();
        while (QFontMetrics(shown).horizontalAdvance(text()) > room.width() && shown.pointSizeF() > smallest)
            shown.setPointSizeF(std::max(smallest, shown.pointSizeF() - 0.5));
        painter.setFont(shown);
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(
            room, Qt::AlignCenter, QFontMetrics(shown).elidedText(text(), Qt::ElideMiddle, room.width()));
    }
};

} // namespace

ShortcutRecorder::ShortcutRecorder(AppModel &model, bool prominent, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_prominent(prominent)
    , m_catcher(new ShortcutEventCatcher(
          this, [this](QKeyEvent *event) { handle(event); }, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    if (!prominent)
        row->addWidget(SettingsLayout::text(
            QStringLiteral("Current"), VemiTextStyle::callout, VemiColor::secondary, this));
    auto *chip = new ShortcutChip(this);
    m_chip = chip;
    QFont chipFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    chipFont.setPointSizeF(prominent ? VemiFonts::font(VemiTextStyle::body).pointSizeF() * 34.0 / 13.0
                                     : VemiFonts::font(VemiTextStyle::body).pointSizeF());
    chipFont.setWeight(QFont::DemiBold);
    m_chip->setFont(chipFont);
    chip->smallest = VemiFonts::font(VemiTextStyle::body).pointSizeF();
    m_chip->setObjectName(QStringLiteral("settings.shortcuts.current"));
    m_chip->setContentsMargins(
        prominent ? 22 : 10, prominent ? 12 : 5, prominent ? 22 : 10, prominent ? 12 : 5);
    row->addWidget(m_chip);
    m_change = new VemiButton(QStringLiteral("Change Shortcut"), this);
    m_change->setObjectName(QStringLiteral("settings.shortcuts.change"));
    m_change->setToolTip(QStringLiteral("Record a new global shortcut. It needs no extra permission."));
    const QString defaultKeys = CaptureShortcut::defaultShortcut().displaySymbols();
    m_useDefault = new VemiButton(QStringLiteral("Use ") + defaultKeys, this);
    m_useDefault->setObjectName(QStringLiteral("settings.shortcuts.use-default"));
    m_useDefault->setToolTip(QStringLiteral("Restore the default %1 shortcut").arg(defaultKeys));
    // Shortcuts read as words here ("Ctrl+Alt+K"), so the large chip keeps the row's width to itself and
    // the two buttons stand on top of each other beside it.
    QBoxLayout *buttons = prominent ? static_cast<QBoxLayout *>(new QVBoxLayout) : row;
    buttons->setSpacing(prominent ? 8 : 12);
    buttons->addWidget(m_change, 0, Qt::AlignLeft);
    buttons->addWidget(m_useDefault, 0, Qt::AlignLeft);
    if (prominent)
        row->addLayout(buttons);
    row->addStretch(1);
    column->addLayout(row);
    // Action group: bordered capsules of the regular size.
    VemiButtonStyle::vemiActionGroup(this, VemiControlSize::regular);

    auto *status = new QHBoxLayout;
    status->setSpacing(8);
    m_statusIcon = new VemiSymbolView(
        QString(), VemiColor::secondary, VemiFonts::pixelSize(VemiTextStyle::callout) + 1, this);
    status->addWidget(m_statusIcon, 0, Qt::AlignTop);
    m_status = SettingsLayout::text(QString(), VemiTextStyle::callout, VemiColor::secondary, this);
    m_status->setObjectName(QStringLiteral("settings.shortcuts.status"));
    status->addWidget(m_status, 1);
    column->addLayout(status);

    connect(m_change, &QAbstractButton::clicked, this, &ShortcutRecorder::toggleRecording);
    connect(m_useDefault, &QAbstractButton::clicked, this, &ShortcutRecorder::restoreDefault);
    connect(&m_model, &AppModel::currentShortcutChanged, this, &ShortcutRecorder::refresh);
    connect(&m_model, &AppModel::shortcutRegistrationChanged, this, &ShortcutRecorder::refresh);
    connect(&m_model, &AppModel::shortcutMessageChanged, this, &ShortcutRecorder::refresh);
    refresh();
}

void ShortcutRecorder::toggleRecording()
{
    const bool recording = !m_recording;
    setRecording(recording,
        recording ? std::optional<QString>(QStringLiteral("Press the new shortcut. Esc cancels."))
                  : std::nullopt);
}

void ShortcutRecorder::restoreDefault()
{
    setRecording(false, std::nullopt);
    m_model.applyShortcut(CaptureShortcut::defaultShortcut());
}

void ShortcutRecorder::hideEvent(QHideEvent *event)
{
    // Listening ends with the pane: keys typed later must reach the window again.
    setRecording(false, std::nullopt);
    QWidget::hideEvent(event);
}

void ShortcutRecorder::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

void ShortcutRecorder::handle(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        setRecording(false, std::nullopt);
        return;
    }
    if (const std::optional<QString> refusal = m_model.applyShortcut(*event)) {
        m_hint = refusal;
        refresh();
        return;
    }
    // Nothing applied: a modifier held alone, or a key that cannot be a shortcut. Keep listening.
    const std::optional<quint32> keyCode = KeyTable::keyCodeForQtKey(event->key(), event->modifiers());
    if (!keyCode || CaptureShortcut::modifierKeyCodes().contains(*keyCode))
        return;
    setRecording(false, std::nullopt);
}

void ShortcutRecorder::setRecording(bool recording, std::optional<QString> hint)
{
    m_recording = recording;
    m_hint = std::move(hint);
    m_catcher->setArmed(recording);
    refresh();
}

void ShortcutRecorder::refresh()
{
    const CaptureShortcut shortcut = m_model.currentShortcut();
    const HotKeyRegistrationState registration = m_model.shortcutRegistration();
    auto *chip = static_cast<ShortcutChip *>(m_chip);
    chip->registered = registration == HotKeyRegistrationState::registered;
    m_chip->setText(shortcut.displaySymbols());
    m_chip->setToolTip(shortcut.displaySymbols());
    m_chip->setAccessibleName(shortcut.accessibilityLabel());
    m_chip->update();
    m_change->setText(m_recording ? QStringLiteral("Listening…") : QStringLiteral("Change Shortcut"));
    m_useDefault->setVisible(shortcut != CaptureShortcut::defaultShortcut());

    // Marks in the accent or in orange, each kept visible on the panel behind it.
    const QList<QColor> grounds = VemiPalette::grounds(VemiPalette::appearance(this));
    const QColor warning = VemiPalette::legible(orange, grounds, VemiPalette::shapeContrast);
    QString symbol = QStringLiteral("checkmark.circle");
    VemiColor color = VemiColor::secondary;
    if (m_recording) {
        symbol = QStringLiteral("dot.radiowaves.left.and.right");
        color
            = VemiPalette::legible(palette().color(QPalette::Highlight), grounds, VemiPalette::shapeContrast);
    } else if (registration == HotKeyRegistrationState::conflict) {
        symbol = QStringLiteral("exclamationmark.triangle");
        color = warning;
    } else if (registration == HotKeyRegistrationState::unavailable) {
        symbol = QStringLiteral("menubar.rectangle");
        color = warning;
    }
    m_statusIcon->setSymbol(symbol);
    m_statusIcon->setColor(color);
    const QString text = m_hint.value_or(m_model.shortcutMessage());
    m_status->setText(text);
    m_status->setAccessibleName(text);
}
