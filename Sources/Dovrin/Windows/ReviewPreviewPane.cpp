#include "Windows/ReviewPreviewPane.h"

#include "Vemi/VemiCharacter.h"
#include "Windows/ReviewImageView.h"
#include "Windows/ScrollingCapturePreview.h"
#include "Windows/TextLabel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The slider counts quarters.
constexpr int zoomSteps = 4;

QWidget *unavailableNote(QWidget *parent)
{
    auto *note = new QWidget(parent);
    auto *column = new QVBoxLayout(note);
    column->setSpacing(10);
    column->addStretch(1);
    auto *vemi = new VemiStateView(VemiState::needsAttention, 60, false, note);
    column->addWidget(vemi, 0, Qt::AlignHCenter);
    column->addWidget(
        new TextLabel(QStringLiteral("Preview unavailable"), VemiTextStyle::title3, QFont::Bold), 0,
        Qt::AlignHCenter);
    column->addWidget(new TextLabel(QStringLiteral("The captured image could not be shown."),
                          VemiTextStyle::callout, QFont::Normal, VemiColor::secondary),
        0, Qt::AlignHCenter);
    column->addStretch(1);
    return note;
}

} // namespace

ReviewPreviewPane::ReviewPreviewPane(std::shared_ptr<ReviewSession> session, QWidget *parent)
    : QWidget(parent)
    , m_session(std::move(session))
    , m_zoomLabel(new TextLabel(QString(), VemiTextStyle::caption, QFont::Normal, VemiColor::secondary))
    , m_slider(new QSlider(Qt::Horizontal))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(8);
    header->addWidget(new TextLabel(QStringLiteral("Preview"), VemiTextStyle::headline, QFont::Bold));
    header->addWidget(new TextLabel(QStringLiteral("not saved with the Markdown"), VemiTextStyle::caption,
        QFont::Normal, VemiColor::secondary));
    header->addStretch(1);
    // Wide enough for "300%", so the header does not shift as the number changes.
    m_zoomLabel->setMinimumWidth(QFontMetrics(m_zoomLabel->font()).horizontalAdvance(QStringLiteral("300%")));
    m_zoomLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header->addWidget(m_zoomLabel);
    column->addLayout(header);

    auto *area = new QVBoxLayout;
    area->setContentsMargins(16, 16, 16, 16);
    if (m_session->scrollingCapture) {
        m_scrolling = new ScrollingCapturePreview(m_session, this);
        area->addWidget(m_scrolling);
    } else if (!m_session->image.isNull()) {
        m_image = new ReviewImageView(m_session->image, this);
        area->addWidget(m_image);
    } else {
        area->setContentsMargins(0, 0, 0, 0);
        area->addWidget(unavailableNote(this));
    }
    column->addLayout(area, 1);

    auto *zoomBar = new QHBoxLayout;
    zoomBar->setContentsMargins(12, 12, 12, 12);
    zoomBar->setSpacing(8);
    const qreal symbolSize = VemiFonts::pixelSize(VemiTextStyle::callout);
    zoomBar->addWidget(
        new VemiSymbolView(QStringLiteral("minus.magnifyingglass"), VemiColor::secondary, symbolSize));
    m_slider->setRange(zoomSteps / 2, 3 * zoomSteps);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(1);
    m_slider->setAccessibleName(QStringLiteral("Preview zoom"));
    zoomBar->addWidget(m_slider, 1);
    zoomBar->addWidget(
        new VemiSymbolView(QStringLiteral("plus.magnifyingglass"), VemiColor::secondary, symbolSize));
    column->addLayout(zoomBar);

    connect(m_slider, &QSlider::valueChanged, this,
        [this](int value) { m_session->setZoom(double(value) / zoomSteps); });
    connect(m_session.get(), &ReviewSession::changed, this, &ReviewPreviewPane::refresh);
    refresh();
}

int ReviewPreviewPane::zoomPercent(double zoom)
{
    return int(std::trunc(zoom * 100));
}

void ReviewPreviewPane::refresh()
{
    const double zoom = m_session->zoom();
    const int percent = zoomPercent(zoom);
    const QString text = QString::number(percent) + u'%';
    if (m_zoomLabel->text() != text) {
        m_zoomLabel->setText(text);
        m_zoomLabel->setAccessibleName(QStringLiteral("Zoom %1 percent").arg(percent));
    }
    const int step = int(std::lround(zoom * zoomSteps));
    if (m_slider->value() != step) {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(step);
    }
    if (m_image)
        m_image->setZoom(zoom);
}

void ReviewPreviewPane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiPanel(VemiPalette::appearance(this)));
}
