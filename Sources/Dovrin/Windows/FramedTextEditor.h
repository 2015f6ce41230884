#pragma once

#include <QWidget>

class QPlainTextEdit;

// A plain-text editor on a raised, rounded field with a hairline, as the review windows show their
// text. setText() replaces the text only when it differs, so a refresh that carries the text the
// editor already holds leaves the caret, the selection and the undo history where they were.
class FramedTextEditor : public QWidget
{
    Q_OBJECT
public:
    FramedTextEditor(qreal radius, int inset, QWidget *parent = nullptr);

    QPlainTextEdit *editor() const { return m_editor; }
    QString text() const;
    void setText(const QString &text);
    // Tall enough for all its text, and at least `minimumHeight`, instead of filling the space given.
    void setGrowsWithText(int minimumHeight);
    QSize sizeHint() const override;

signals:
    // The user changed the text (not setText()).
    void textEdited(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    qreal m_radius;
    QPlainTextEdit *m_editor;
    bool m_setting = false;
    int m_growMinimum = 0;
};
