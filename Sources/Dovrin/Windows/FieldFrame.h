#pragma once

#include <QWidget>

class QPainter;

// The raised, rounded field with a hairline that the review windows put around what can be typed
// into: a teal edge while it has focus; recessed, with a dashed edge, while it cannot be edited, so
// a field that waits (for recognition, say) does not look ready. Wraps one editor of any kind.
class FieldFrame : public QWidget
{
    Q_OBJECT
public:
    FieldFrame(QWidget *editor, qreal radius, int inset, QWidget *parent = nullptr);

    QWidget *editor() const { return m_editor; }

    // The same drawing for a widget that paints its own field.
    static void paint(QPainter &painter, const QRectF &frame, qreal radius, bool focused, bool enabled,
        const QWidget *context);
    // An editor inside such a field shows its disabled text legibly and lets the field show through.
    static void styleEditor(QWidget *editor);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_editor;
    qreal m_radius;
};
