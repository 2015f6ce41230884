#pragma once

#include <QWidget>

// A 1-point divider in the hairline colour of the palette it is drawn in.
class Hairline : public QWidget
{
    Q_OBJECT
public:
    explicit Hairline(Qt::Orientation orientation = Qt::Horizontal, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
