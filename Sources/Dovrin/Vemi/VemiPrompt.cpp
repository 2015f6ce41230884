#include "Vemi/VemiPrompt.h"

#include "Services/WindowActivation.h"
#include "Vemi/VemiButton.h"
#include "Vemi/VemiDesign.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

ScrollingCapturePrompt ScrollingCapturePrompt::control()
{
    return { QStringLiteral("Allow scrolling capture?"),
        QStringLiteral("Quorvel sends small downward scroll steps only while this capture runs. It does not "
                       "inspect other app UI, click, or type."),
        {}, QStringLiteral("Continue"), QStringLiteral("Cancel") };
}

namespace {

constexpr int cardWidth = 400;
constexpr int minimumHeight = 180;

// The character beside the title, 40 by 36; hidden from assistive technology.
class PromptCharacter final : public QWidget
{
public:
    explicit PromptCharacter(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(40, 36);
        VemiAccessibility::setDecorative(this, true);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        if (const std::optional<VemiImage> &image = VemiImages::regular())
            image->paint(painter, QRectF(rect()));
        else
            VemiSymbols::paint(
                painter, QStringLiteral("bubble.left.fill"), QRectF(rect()), VemiPalette::vemiTeal());
    }
};

// One numbered step: a teal disc with the number, then the wrapped text. Read as one element,
// "Step n. text".
class PromptStepRow final : public QWidget
{
public:
    PromptStepRow(int number, const QString &text, QWidget *parent)
        : QWidget(parent)
        , m_number(number)
        , m_text(text)
    {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        VemiAccessibility::setRole(this, QAccessible::StaticText);
        setAccessibleName(QStringLiteral("Step %1. %2").arg(number).arg(text));
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        return int(std::ceil(std::max(textRect(width).bottom(), qreal(disc))));
    }
    QSize sizeHint() const override { return QSize(cardWidth - 40, heightForWidth(cardWidth - 40)); }
    QSize minimumSizeHint() const override { return QSize(120, disc); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(VemiPalette::vemiTeal());
        painter.drawEllipse(QRectF(0, 0, disc, disc));
        painter.setPen(Qt::white);
        painter.setFont(VemiFonts::font(VemiTextStyle::caption, QFont::DemiBold));
        painter.drawText(QRectF(0, 0, disc, disc), Qt::AlignCenter, QString::number(m_number));
        painter.setPen(VemiPalette::primaryText(this));
        painter.setFont(textFont());
        painter.drawText(textRect(width()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m_text);
    }

private:
    static constexpr int disc = 20;
    static constexpr int gap = 10;

    static QFont textFont() { return VemiFonts::font(VemiTextStyle::callout); }

    QRectF textRect(int width) const
    {
        const QFontMetricsF metrics(textFont());
        const qreal textWidth = std::max(width - disc - gap, 40);
        const QRectF bounds = metrics.boundingRect(
            QRectF(0, 0, textWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, m_text);
        // The first line sits level with the number.
        const qreal top = std::max((disc - metrics.height()) / 2, 0.0);
        return QRectF(disc + gap, top, textWidth, bounds.height());
    }

    int m_number;
    QString m_text;
};

class PromptWindow final : public QDialog
{
public:
    explicit PromptWindow(const QString &title)
        : QDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint)
    {
        setWindowTitle(title);
        setAccessibleName(title);
        setSizeGripEnabled(false);
        // Titled and closable, with its title bar hidden: a window of the app like any other.
        WindowActivation::markTitled(this);
    }

    // The window's delegate: told when the window is about to close by Escape or any other way.
    std::function<void()> onReject;

    void reject() override
    {
        if (auto handler = onReject)
            handler();
        QDialog::reject();
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Without a title bar the window manager offers no close command; Ctrl+W closes it as
        // it closes every other window.
        constexpr Qt::KeyboardModifiers considered
            = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (event->key() == Qt::Key_W && (event->modifiers() & considered) == Qt::ControlModifier) {
            event->accept();
            close();
            return;
        }
        QDialog::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const VemiAppearance appearance = VemiPalette::appearance(this);
        painter.fillRect(rect(), VemiPalette::vemiCanvas(appearance));
        painter.setPen(QPen(VemiPalette::vemiLine(appearance), 1));
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QDialog::mousePressEvent(event);
            return;
        }
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_dragging = !(windowHandle() && windowHandle()->startSystemMove());
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_dragging && (event->buttons() & Qt::LeftButton))
            move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        m_dragging = false;
        QDialog::mouseReleaseEvent(event);
    }

private:
    QPoint m_dragOffset;
    bool m_dragging = false;
};

std::function<void(QWidget *)> &revealHook()
{
    static std::function<void(QWidget *)> hook;
    return hook;
}

std::function<void()> &reconcileHook()
{
    static std::function<void()> hook;
    return hook;
}

void reveal(QWidget *window)
{
    if (revealHook())
        revealHook()(window);
    else
        WindowActivation::reveal(window);
}

void scheduleReconcile()
{
    if (reconcileHook())
        reconcileHook()();
    else
        WindowActivation::scheduleReconcile();
}

class PromptSession;
PromptSession *s_session = nullptr;

QSet<PromptSession *> &liveSessions()
{
    static QSet<PromptSession *> sessions;
    return sessions;
}

// Owns the window from `present` until its answer, and delivers that answer once.
class PromptSession final : public QObject
{
public:
    PromptSession(const ScrollingCapturePrompt &prompt, std::function<void(bool)> completion)
        : m_completion(std::move(completion))
    {
        liveSessions().insert(this);
        m_card = new VemiPromptCard(prompt);
        m_card->ensurePolished();
        const int height = std::max(m_card->heightForWidth(cardWidth), minimumHeight);
        const QSize size(cardWidth, height);

        auto *window = static_cast<PromptWindow *>(VemiPromptPanel::makeWindow(prompt.title, size));
        m_window = window;
        QPointer<PromptSession> self(this);
        m_card->setOnPrimary([self] {
            if (self)
                self->answer(true);
        });
        m_card->setOnCancel([self] {
            if (self)
                self->answer(false);
        });
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_card, 0, Qt::AlignCenter);
        window->onReject = [self] {
            if (self)
                self->answer(false);
        };

        QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
        }
    }

    ~PromptSession() override
    {
        liveSessions().remove(this);
        if (s_session == this)
            s_session = nullptr;
        if (auto completion = std::exchange(m_completion, nullptr))
            completion(false);
        delete m_window;
    }

    QDialog *window() const { return m_window; }
    VemiPromptCard *card() const { return m_card; }
    bool isPending() const { return m_completion != nullptr; }

    void answer(bool accepted)
    {
        if (!m_completion)
            return;
        std::function<void(bool)> completion = std::exchange(m_completion, nullptr);
        if (auto *window = static_cast<PromptWindow *>(m_window.data())) {
            window->onReject = nullptr;
            if (window->isVisible())
                window->close();
        }
        if (s_session == this)
            s_session = nullptr;
        scheduleReconcile();
        completion(accepted);
        deleteLater();
    }

private:
    std::function<void(bool)> m_completion;
    QPointer<QDialog> m_window;
    VemiPromptCard *m_card = nullptr;
};

void deleteSessionsAtExit()
{
    const QSet<PromptSession *> sessions = liveSessions();
    for (PromptSession *session : sessions)
        delete session;
}

} // namespace

VemiPromptCard::VemiPromptCard(const ScrollingCapturePrompt &prompt, QWidget *parent)
    : QWidget(parent)
    , m_prompt(prompt)
{
    setFixedWidth(cardWidth);
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName(prompt.title);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    auto *header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new PromptCharacter(this), 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    auto *title = new QLabel(prompt.title, this);
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setFont(VemiFonts::font(VemiTextStyle::title3, QFont::Bold));
    auto *message = new QLabel(this);
    message->setTextFormat(Qt::RichText);
    message->setText(
        QStringLiteral("<div style=\"line-height:115%\">%1</div>").arg(prompt.message.toHtmlEscaped()));
    message->setAccessibleName(prompt.message);
    message->setWordWrap(true);
    message->setFont(VemiFonts::font(VemiTextStyle::callout));
    m_message = message;
    texts->addWidget(title);
    texts->addWidget(message);
    header->addLayout(texts, 1);
    column->addLayout(header);

    if (!prompt.steps.isEmpty()) {
        auto *steps = new QVBoxLayout;
        steps->setSpacing(10);
        for (int i = 0; i < prompt.steps.size(); ++i)
            steps->addWidget(new PromptStepRow(i + 1, prompt.steps.at(i), this));
        column->addLayout(steps);
    }

    auto *buttons = new QWidget(this);
    auto *row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addStretch(1);
    m_cancel = new VemiButton(prompt.secondaryTitle, buttons);
    m_primary = new VemiButton(prompt.primaryTitle, buttons);
    // Return is the primary button's wherever the focus is; Escape is the window's cancel.
    m_cancel->setAutoDefault(false);
    m_primary->setAutoDefault(false);
    m_primary->setDefault(true);
    row->addWidget(m_cancel);
    row->addWidget(m_primary);
    VemiButtonStyle::vemiActionGroup(buttons, VemiControlSize::regular);
    VemiButtonStyle::vemiPrimaryAction(m_primary, VemiControlSize::regular);
    column->addWidget(buttons);

    connect(m_primary, &QAbstractButton::clicked, this, [this] {
        if (m_onPrimary)
            m_onPrimary();
    });
    connect(m_cancel, &QAbstractButton::clicked, this, [this] {
        if (m_onCancel)
            m_onCancel();
    });
    applyColors();
}

void VemiPromptCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VemiPalette::vemiCanvas(VemiPalette::appearance(this)));
}

void VemiPromptCard::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void VemiPromptCard::applyColors()
{
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, VemiPalette::secondaryText(this));
    m_message->setPalette(palette);
}

QDialog *VemiPromptPanel::makeWindow(const QString &title, const QSize &size)
{
    auto *window = new PromptWindow(title);
    window->setFixedSize(size);
    return window;
}

QDialog *VemiPromptPanel::openWindow()
{
    return s_session ? s_session->window() : nullptr;
}

void VemiPromptPanel::dismiss(bool accepted)
{
    if (s_session && s_session->isPending())
        s_session->answer(accepted);
}

TaskFuture<bool> VemiPromptPanel::present(const ScrollingCapturePrompt &prompt)
{
    static bool cleanupRegistered = false;
    if (!cleanupRegistered && QCoreApplication::instance()) {
        cleanupRegistered = true;
        qAddPostRoutine(deleteSessionsAtExit);
    }

    dismiss(false);
    TaskPromise<bool> promise;
    auto *session = new PromptSession(prompt, [promise](bool accepted) { promise.resolve(accepted); });
    s_session = session;
    QDialog *window = session->window();
    reveal(window);
    window->raise();
    window->activateWindow();
    session->card()->setFocus(Qt::OtherFocusReason);
    return promise.future();
}

void VemiPromptPanel::setRevealHook(std::function<void(QWidget *)> reveal)
{
    revealHook() = std::move(reveal);
}

void VemiPromptPanel::setReconcileHook(std::function<void()> reconcile)
{
    reconcileHook() = std::move(reconcile);
}
