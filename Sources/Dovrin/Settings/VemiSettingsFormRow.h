#pragma once

#include <QWidget>

class QLabel;

// One labelled control of a settings panel: the title on the left, the control in a column of
// fixed width on the right.
class VemiSettingsFormRow : public QWidget
{
    Q_OBJECT
public:
    VemiSettingsFormRow(const QString &title, QWidget *control, int controlWidth = 200,
        Qt::Alignment controlAlignment = Qt::AlignRight, QWidget *parent = nullptr);

    QWidget *control() const { return m_control; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_control;
    QWidget *m_column = nullptr;
    int m_controlWidth = 200;
};
