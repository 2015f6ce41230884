#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>

// Reads the words on a picture of the screen, with where each one is, so a test can find a button
// or a menu entry by its text as a person does, and read what a window shows.
class ScreenText
{
public:
    struct Word
    {
        QString text;
        QRect box; // in screen pixels
        int line = 0;
    };

    ScreenText();
    ~ScreenText();
    ScreenText(const ScreenText &) = delete;
    ScreenText &operator=(const ScreenText &) = delete;

    bool isReady() const;

    // The words of `picture`, which shows the screen from `origin` on.
    QList<Word> read(const QImage &picture, QPoint origin = {});

    // Where whole words in reading order say `phrase`: letters and digits count, case, spaces and
    // punctuation do not, and a long phrase may be misread by a letter in twelve.
    static std::optional<QRect> find(const QList<Word> &words, const QString &phrase);
    // The words, a line of text per line on screen.
    static QString text(const QList<Word> &words);
    // Lower case letters and digits only.
    static QString normalized(const QString &word);

private:
    struct Button
    {
        QRect box;
        QImage text; // dark on light
    };
    QList<Word> recognize(const QImage &gray, int mode, QPoint origin, int firstLine);
    static QList<Button> darkButtons(const QImage &gray);

    struct Private;
    std::unique_ptr<Private> d;
};
