#pragma once

#include <QLineEdit>

// A line edit that keeps a person's keys in the order they were pressed. A window manager that
// focuses windows on a click holds the click back until it has decided, while the keys pressed after
// it go on: a click followed at once by Ctrl+A and typing reached the field as Ctrl+A, the click, the
// typing, and the click moved the cursor and dropped the selection, so the typing landed in the
// middle of the old text. A click stamped before a key the field already took still focuses the
// field, but leaves the cursor and selection those keys made.
class OrderedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit OrderedLineEdit(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    bool overtakenByKeys(const QMouseEvent *event) const;

    quint64 m_lastKeyAt = 0;
    // The press being passed over, until its button comes up.
    bool m_passingOver = false;
};
