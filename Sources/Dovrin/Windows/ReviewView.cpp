#include "Windows/ReviewView.h"

#include "Model/AppModel.h"
#include "Windows/ReviewEditorPane.h"
#include "Windows/ReviewInspector.h"
#include "Windows/ReviewPreviewPane.h"
#include "Windows/ReviewToolbar.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>

namespace {

constexpr int inspectorMinimumWidth = 260;
constexpr int inspectorIdealWidth = 280;
constexpr int inspectorMaximumWidth = 360;

} // namespace

ReviewView::ReviewView(
    std::shared_ptr<ReviewSession> session, AppModel *model, bool showInspector, QWidget *parent)
    : QWidget(parent)
    , m_session(std::move(session))
    , m_model(model)
    , m_showInspector(showInspector)
    , m_toolbar(new ReviewToolbar(m_session, model))
    , m_split(new QSplitter(Qt::Horizontal))
    , m_preview(new ReviewPreviewPane(m_session))
    , m_editor(new ReviewEditorPane(m_session))
    , m_inspectorClip(new QWidget)
    , m_inspectorScroll(new QScrollArea(m_inspectorClip))
    , m_inspector(new ReviewInspector(m_session, model))
    , m_reveal(this, showInspector ? 1.0 : 0.0)
    , m_save(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this))
    , m_escape(new QShortcut(QKeySequence(Qt::Key_Escape), this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_toolbar);
    auto *row = new QHBoxLayout;
    row->setSpacing(0);
    column->addLayout(row, 1);

    m_split->setChildrenCollapsible(false);
    m_split->setHandleWidth(1);
    m_preview->setMinimumWidth(260);
    m_editor->setMinimumWidth(320);
    m_split->addWidget(m_preview);
    m_split->addWidget(m_editor);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 1);
    row->addWidget(m_split, 1);

    m_inspectorScroll->setWidget(m_inspector);
    m_inspectorScroll->setWidgetResizable(true);
    m_inspectorScroll->setFrameShape(QFrame::NoFrame);
    m_inspectorScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_inspectorScroll->viewport()->setAutoFillBackground(false);
    m_inspector->setAutoFillBackground(false);
    m_inspectorClip->installEventFilter(this);
    row->addWidget(m_inspectorClip);

    m_toolbar->onToggleInspector = [this] { toggleInspector(); };
    m_reveal.onChange = [this] { revealStep(); };
    m_reveal.onFinished = [this] { revealSettled(); };
    applyInspector(false);

    m_save->setContext(Qt::WindowShortcut);
    connect(m_save, &QShortcut::activated, this, [this] {
        if (m_model && m_session->canSave())
            m_model->saveOpenReview();
    });
    m_escape->setContext(Qt::WindowShortcut);
    connect(m_escape, &QShortcut::activated, this, [this] {
        if (m_model)
            m_model->persistRegionDraft();
    });
    if (model)
        connect(model, &AppModel::presentsDraftDeleteAlertChanged, this, &ReviewView::followDeleteAlert);
}

ReviewView::~ReviewView()
{
    m_reveal.onChange = nullptr;
    m_reveal.onFinished = nullptr;
}

void ReviewView::setInspectorShown(bool shown)
{
    if (m_showInspector == shown)
        return;
    m_showInspector = shown;
    applyInspector(isVisible());
}

void ReviewView::toggleInspector()
{
    setInspectorShown(!m_showInspector);
    emit inspectorToggled(m_showInspector);
}

void ReviewView::yieldShortcuts(const QList<QKeySequence> &keys)
{
    for (QShortcut *shortcut : { m_save, m_escape })
        shortcut->setEnabled(!keys.contains(shortcut->key()));
}

void ReviewView::applyInspector(bool animated)
{
    setMinimumSize(m_showInspector ? minimumWidthWithInspector : minimumWidthWithoutInspector, minimumHeight);
    m_toolbar->setInspectorShown(m_showInspector);
    const bool reduced = VemiMotion::reduceMotion(this);
    if (m_showInspector && !m_inspectorClip->isVisible())
        m_slideWidth = inspectorIdealWidth;
    else if (!m_showInspector && m_inspectorClip->isVisible())
        m_slideWidth = std::max(m_inspectorClip->width(), inspectorMinimumWidth);
    if (animated) {
        m_inspectorScroll->setGraphicsEffect(new QGraphicsOpacityEffect);
        m_inspectorClip->show();
        revealStep();
    }
    const int duration = !animated ? 0 : (reduced ? 120 : 220);
    m_reveal.animateTo(m_showInspector ? 1.0 : 0.0, duration, VemiMotion::easeInOut());
    if (!m_reveal.isRunning())
        revealSettled();
}

void ReviewView::revealStep()
{
    const qreal level = m_reveal.value();
    if (auto *fade = qobject_cast<QGraphicsOpacityEffect *>(m_inspectorScroll->graphicsEffect()))
        fade->setOpacity(level);
    // Reduced motion only fades; otherwise the column also slides in from the trailing edge.
    if (!VemiMotion::reduceMotion(this))
        m_inspectorClip->setFixedWidth(int(std::lround(level * m_slideWidth)));
}

void ReviewView::revealSettled()
{
    m_inspectorScroll->setGraphicsEffect(nullptr);
    m_inspectorClip->setMinimumWidth(inspectorMinimumWidth);
    m_inspectorClip->setMaximumWidth(inspectorMaximumWidth);
    m_inspectorClip->setVisible(m_showInspector);
}

bool ReviewView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_inspectorClip && event->type() == QEvent::Paint) {
        // The column's own hairline against the editor.
        QPainter painter(m_inspectorClip);
        const VemiAppearance appearance = VemiPalette::appearance(this);
        painter.fillRect(m_inspectorClip->rect(), VemiPalette::vemiCanvas(appearance));
        painter.fillRect(QRect(0, 0, 1, m_inspectorClip->height()), VemiPalette::vemiLine(appearance));
        return true;
    }
    if (watched == m_inspectorClip && event->type() == QEvent::Resize) {
        // While the column slides, its content keeps its full width and is cut at the column's edge.
        const int width = m_reveal.isRunning() ? std::max(m_slideWidth, m_inspectorClip->width())
                                               : m_inspectorClip->width();
        m_inspectorScroll->setGeometry(1, 0, width - 1, m_inspectorClip->height());
    }
    return QWidget::eventFilter(watched, event);
}

void ReviewView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    followDeleteAlert();
}

void ReviewView::followDeleteAlert()
{
    const bool wanted = m_model && m_model->presentsDraftDeleteAlert();
    if (!wanted) {
        if (m_deleteAlert) {
            m_closingAlert = true;
            m_deleteAlert->reject();
            m_closingAlert = false;
        }
        return;
    }
    if (m_deleteAlert || !isVisible())
        return;
    const QString title = QStringLiteral("Delete this unfinished capture?");
    auto *alert = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::NoButton, this);
    alert->setInformativeText(QStringLiteral("The encrypted draft is removed from this computer."));
    QPushButton *remove = alert->addButton(QStringLiteral("Delete Draft"), QMessageBox::DestructiveRole);
    QPushButton *cancel = alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_deleteAlert = alert;
    connect(alert, &QMessageBox::finished, this, [this, alert, remove] {
        const bool confirmed = alert->clickedButton() == remove;
        if (m_closingAlert || !m_model)
            return;
        m_model->setPresentsDraftDeleteAlert(false);
        if (confirmed)
            m_model->deleteOpenDraft();
    });
    alert->open();
}

void ReviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}
