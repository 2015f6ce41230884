#include "Settings/VemiSettingsFormRow.h"

#include "Settings/SettingsLayout.h"

#include <QEvent>
#include <QHBoxLayout>

VemiSettingsFormRow::VemiSettingsFormRow(
    const QString &title, QWidget *control, int controlWidth, Qt::Alignment controlAlignment, QWidget *parent)
    : QWidget(parent)
    , m_control(control)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 11, 16, 11);
    row->setSpacing(16);
    QLabel *label = SettingsLayout::text(title, VemiTextStyle::body, VemiColor::primary, this, QFont::Medium);
    label->setBuddy(control);
    row->addWidget(label, 1);
    auto *column = new QWidget(this);
    m_column = column;
    m_controlWidth = controlWidth;
    // Wider than asked only when the control's own text would not fit (a larger desktop font, a
    // pop-up's longer entries), again whenever the control's needs change.
    column->setFixedWidth(std::max(controlWidth, control->sizeHint().width()));
    column->installEventFilter(this);
    auto *columnLayout = new QHBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    // No alignment: the control fills the column (the pop-ups do).
    columnLayout->addWidget(
        control, 0, controlAlignment ? controlAlignment | Qt::AlignVCenter : Qt::Alignment());
    row->addWidget(column, 0);
    setMinimumHeight(44);
}

bool VemiSettingsFormRow::eventFilter(QObject *watched, QEvent *event)
{
    // The control asks its column for a new layout when what it shows changes.
    if (watched == m_column && event->type() == QEvent::LayoutRequest)
        m_column->setFixedWidth(std::max(m_controlWidth, m_control->sizeHint().width()));
    return QWidget::eventFilter(watched, event);
}
