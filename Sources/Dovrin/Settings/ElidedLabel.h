#pragma once

#include <QLabel>

// One line of text that elides in the middle when it does not fit, as a long folder path should.
// Its text can be selected, and copying copies the whole text, not what is shown.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QString fullText() const { return m_text; }
    void setText(const QString &text);
    // How many lines the text may wrap to before the middle is elided.
    void setMaximumLines(int lines);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void relayout();

    QString m_text;
    int m_lines = 1;
};
