#include "Windows/RecentCapturesEmptyState.h"

#include "Vemi/VemiButton.h"
#include "Vemi/VemiCharacter.h"
#include "Windows/TextLabel.h"
#include "Windows/WindowTint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

RecentCapturesEmptyState::RecentCapturesEmptyState(QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(46, 0, 46, 0);
    column->setSpacing(0);
    column->addSpacing(30);
    column->addStretch(1);

    m_card = new QWidget(this);
    auto *card = new QHBoxLayout(m_card);
    card->setContentsMargins(34, 28, 34, 28);
    card->setSpacing(28);
    auto *character = new VemiStateView(VemiState::idle, 94, false, m_card);
    character->setFixedSize(118, character->sizeHint().height());
    card->addWidget(character, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    texts->addStretch(1);
    m_title = new TextLabel(QString(), VemiTextStyle::title, QFont::Bold, VemiColor::primary, m_card);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(24);
    m_title->setFont(titleFont);
    texts->addWidget(m_title);
    m_message = new TextLabel(QString(), VemiTextStyle::body, QFont::Normal, VemiColor::secondary, m_card);
    texts->addWidget(m_message);

    m_actions = new QWidget(m_card);
    auto *actions = new QHBoxLayout(m_actions);
    actions->setContentsMargins(0, 6, 0, 0);
    actions->setSpacing(10);
    m_capture = new VemiButton(QStringLiteral("Capture Region"), m_actions);
    m_capture->setSymbol(QStringLiteral("viewfinder"));
    m_record = new VemiButton(QStringLiteral("Record Audio"), m_actions);
    m_record->setSymbol(QStringLiteral("record.circle"));
    actions->addWidget(m_capture);
    actions->addWidget(m_record);
    actions->addStretch(1);
    VemiButtonStyle::vemiActionGroup(m_actions, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(m_capture, VemiControlSize::regular);
    texts->addWidget(m_actions);
    texts->addStretch(1);
    card->addLayout(texts);

    column->addWidget(m_card, 0, Qt::AlignHCenter);
    column->addStretch(1);
    column->addSpacing(30);
    setSearching(false);
}

void RecentCapturesEmptyState::setSearching(bool searching)
{
    m_title->setText(
        searching ? QStringLiteral("No matching captures") : QStringLiteral("Nothing caught yet"));
    m_message->setText(searching
            ? QStringLiteral("Try another filename.")
            : QStringLiteral("Capture a region or record audio.\nYour local Markdown will appear here."));
    m_actions->setVisible(!searching);
}

void RecentCapturesEmptyState::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(m_card->geometry()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(card, VemiPalette::vemiPanel(VemiPalette::appearance(this)));
    QPen dashes(VemiPalette::withAlpha(VemiPalette::secondaryText(this), 0.45), 1, Qt::CustomDashLine,
        Qt::FlatCap, Qt::MiterJoin);
    dashes.setDashPattern({ 6, 5 });
    dashes.setMiterLimit(10);
    painter.strokePath(card, dashes);
}
