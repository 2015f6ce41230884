#include "Settings/VemiSettingsFormRow.h"

#include "Settings/SettingsLayout.h"

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
    // Wider than asked only when the control's own text would not fit (a larger desktop font).
    column->setFixedWidth(std::max(controlWidth, control->sizeHint().width()));
    auto *columnLayout = new QHBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    // No alignment: the control fills the column (the pop-ups do).
    columnLayout->addWidget(
        control, 0, controlAlignment ? controlAlignment | Qt::AlignVCenter : Qt::Alignment());
    row->addWidget(column, 0);
    setMinimumHeight(44);
}
