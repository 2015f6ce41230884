#pragma once

#include "Vemi/VemiDesign.h"

class QTimer;

// A small spinning progress indicator that fades in and out. Under reduced motion it stands still
// and appears without a fade.
class ActivityIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit ActivityIndicator(qreal size = 16, QWidget *parent = nullptr);

    bool isActive() const { return m_active; }
    // Fades in and spins, or fades out and hides.
    void setActive(bool active);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void syncTimer();

    qreal m_size;
    bool m_active = false;
    int m_step = 0;
    QTimer *m_timer;
    VemiAnimatedValue m_opacity;
};
