#include "Scrolling/ScrollingControlPanel.h"

#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// Room left between the panel and the region, so the outline around the region stays visible.
constexpr int gap = 10;

} // namespace

ScrollingControlPanel::ScrollingControlPanel(QWidget *parent)
    : QWidget(parent,
        Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
            | Qt::X11BypassWindowManagerHint)
{
    setObjectName(QStringLiteral("scrollingCapture.panel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    auto *panel = new VemiPanel(10);
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    auto *title = new QLabel(QStringLiteral("Scrolling capture"));
    title->setFont(VemiFonts::font(VemiTextStyle::callout, QFont::DemiBold));
    auto *cancel = new VemiButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("scrollingCapture.cancel"));
    auto *done = new VemiButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("scrollingCapture.done"));
    done->setLook(VemiButton::Look::borderedProminent);
    for (QPushButton *button : { static_cast<QPushButton *>(cancel), static_cast<QPushButton *>(done) }) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
    }
    m_cancel = cancel;
    m_done = done;
    row->addWidget(title);
    row->addStretch(1);
    row->addWidget(cancel);
    row->addWidget(done);
    panel->contentLayout()->addLayout(row);
    m_message = new QLabel;
    m_message->setObjectName(QStringLiteral("scrollingCapture.message"));
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(280);
    m_message->setFont(VemiFonts::font(VemiTextStyle::callout));
    m_message->hide();
    panel->contentLayout()->addWidget(m_message);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(panel);

    connect(done, &QPushButton::clicked, this, &ScrollingControlPanel::doneRequested);
    connect(cancel, &QPushButton::clicked, this, &ScrollingControlPanel::cancelRequested);
}

void ScrollingControlPanel::showMessage(const QString &text)
{
    m_message->setText(text);
    m_message->show();
    // Grown to hold the line, and placed again so it still stays clear of the region.
    if (m_region)
        placeOutside(*m_region);
}

void ScrollingControlPanel::clearMessage()
{
    m_message->clear();
    m_message->hide();
    if (m_region)
        placeOutside(*m_region);
}

void ScrollingControlPanel::placeOutside(const QRect &region)
{
    m_region = region;
    adjustSize();
    QScreen *screen = QGuiApplication::screenAt(region.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : region;
    setGeometry(placement(region, available, size()));
}

QRect ScrollingControlPanel::placement(const QRect &region, const QRect &screen, const QSize &size)
{
    const auto clampX = [&](int x) {
        return std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    };
    const auto clampY = [&](int y) {
        return std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    };
    const int alignedX = clampX(region.right() + 1 - size.width());
    if (region.bottom() + 1 + gap + size.height() <= screen.bottom() + 1)
        return QRect(QPoint(alignedX, region.bottom() + 1 + gap), size);
    if (region.top() - gap - size.height() >= screen.top())
        return QRect(QPoint(alignedX, region.top() - gap - size.height()), size);
    const int alignedY = clampY(region.bottom() + 1 - size.height());
    if (region.right() + 1 + gap + size.width() <= screen.right() + 1)
        return QRect(QPoint(region.right() + 1 + gap, alignedY), size);
    if (region.left() - gap - size.width() >= screen.left())
        return QRect(QPoint(region.left() - gap - size.width(), alignedY), size);
    return QRect(
        QPoint(clampX(screen.right() + 1 - size.width()), clampY(screen.bottom() + 1 - size.height())), size);
}
