#pragma once

#include <QPlainTextEdit>

// Selectable text of at most a few lines that wraps anywhere (paths and file names have few spaces)
// and, when it needs more lines, is shortened in the middle so both its start and its end show.
// Copying copies the shown text without the line breaks of the wrapping.
class MiddleElidedLabel : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit MiddleElidedLabel(int maximumLines = 3, QWidget *parent = nullptr);

    QString fullText() const { return m_fullText; }
    void setFullText(const QString &text);
    QString shownText() const { return toPlainText(); }
    // Secondary text colour instead of the primary one.
    void setSecondary(bool secondary);
    bool isSecondary() const { return m_secondary; }

    // `text`, shortened in the middle with "…" until it takes at most `maximumLines` lines of `width`.
    static QString elided(const QString &text, const QFont &font, qreal width, int maximumLines);
    static int lineCount(const QString &text, const QFont &font, qreal width);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();
    void applyColour();

    int m_maximumLines;
    QString m_fullText;
    bool m_secondary = false;
    bool m_applyingColour = false;
};
