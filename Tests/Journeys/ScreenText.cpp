#include "ScreenText.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace {

constexpr int scale = 3;
constexpr int margin = 8;
// Darker than this is a button's face (light text on it), not the text on a light ground.
constexpr int darkLevel = 110;

int editDistance(const QString &a, const QString &b)
{
    QList<int> previous(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        QList<int> current(b.size() + 1);
        current[0] = i;
        for (int j = 1; j <= b.size(); ++j)
            current[j] = std::min({ previous[j] + 1, current[j - 1] + 1,
                previous[j - 1] + (a.at(i - 1) == b.at(j - 1) ? 0 : 1) });
        previous = current;
    }
    return previous[b.size()];
}

} // namespace

struct ScreenText::Private
{
    tesseract::TessBaseAPI api;
    bool ready = false;
};

ScreenText::ScreenText()
    : d(std::make_unique<Private>())
{
    // The recognizer's own threads spin against everything else on a busy machine.
    using SetMaxActiveLevels = void (*)(int);
    if (void *symbol = dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"))
        reinterpret_cast<SetMaxActiveLevels>(symbol)(0);
    d->api.SetVariable("debug_file", "/dev/null");
    d->ready = d->api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) == 0;
}

ScreenText::~ScreenText()
{
    d->api.End();
}

bool ScreenText::isReady() const
{
    return d->ready;
}

QString ScreenText::normalized(const QString &word)
{
    QString result;
    for (const QChar c : word) {
        if (c.isLetterOrNumber())
            result += c.toLower();
    }
    return result;
}

QList<ScreenText::Word> ScreenText::recognize(const QImage &gray, int mode, QPoint origin, int firstLine)
{
    QList<Word> words;
    // Small interface text reads best at three times its size, with a margin around it.
    QImage framed(gray.size() + QSize(2 * margin, 2 * margin), QImage::Format_Grayscale8);
    framed.fill(gray.pixelColor(0, 0));
    for (int y = 0; y < gray.height(); ++y)
        std::memcpy(framed.scanLine(y + margin) + margin, gray.constScanLine(y), size_t(gray.width()));
    const QImage large
        = framed.scaled(framed.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    tesseract::TessBaseAPI &api = d->api;
    api.SetPageSegMode(tesseract::PageSegMode(mode));
    api.SetImage(large.constBits(), large.width(), large.height(), 1, int(large.bytesPerLine()));
    api.SetSourceResolution(96 * scale);
    if (api.Recognize(nullptr) != 0) {
        api.Clear();
        return words;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    int line = firstLine - 1;
    if (it && !it->Empty(tesseract::RIL_WORD)) {
        do {
            if (line < firstLine || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE))
                ++line;
            std::unique_ptr<char[]> utf8(it->GetUTF8Text(tesseract::RIL_WORD));
            int left = 0;
            int top = 0;
            int right = 0;
            int bottom = 0;
            if (!utf8 || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            const QString text = QString::fromUtf8(utf8.get()).simplified();
            if (text.isEmpty())
                continue;
            const QRect box(QPoint(left / scale - margin, top / scale - margin),
                QPoint((right - 1) / scale - margin, (bottom - 1) / scale - margin));
            words.push_back({ text, box.translated(origin), line });
        } while (it->Next(tesseract::RIL_WORD));
    }
    api.Clear();
    return words;
}

QList<ScreenText::Word> ScreenText::read(const QImage &picture, QPoint origin)
{
    if (!d->ready || picture.isNull())
        return {};
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    QList<Word> words = recognize(gray, tesseract::PSM_SPARSE_TEXT, origin, 0);
    // The page reading passes over light text on dark buttons: each such button is read on its own,
    // its text turned dark on light.
    for (const Button &button : darkButtons(gray)) {
        const int firstLine = words.isEmpty() ? 0 : words.constLast().line + 1;
        words += recognize(button.text, tesseract::PSM_SINGLE_LINE, origin + button.box.topLeft(), firstLine);
    }
    return words;
}

QList<ScreenText::Button> ScreenText::darkButtons(const QImage &gray)
{
    const int width = gray.width();
    const int height = gray.height();
    const auto dark = [&](int x, int y) { return gray.constScanLine(y)[x] < darkLevel; };
    std::vector<int> label(size_t(width) * size_t(height), 0);
    QList<Button> buttons;
    int next = 0;
    std::vector<QPoint> stack;
    for (int y0 = 0; y0 < height; ++y0) {
        for (int x0 = 0; x0 < width; ++x0) {
            if (!dark(x0, y0) || label[size_t(y0) * size_t(width) + size_t(x0)])
                continue;
            // One dark shape, four-connected.
            ++next;
            QRect box(x0, y0, 1, 1);
            qsizetype count = 0;
            stack.assign(1, QPoint(x0, y0));
            label[size_t(y0) * size_t(width) + size_t(x0)] = next;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                ++count;
                box = box.united(QRect(p, QSize(1, 1)));
                for (const QPoint step : { QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1) }) {
                    const QPoint q = p + step;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= width || q.y() >= height || !dark(q.x(), q.y()))
                        continue;
                    int &seen = label[size_t(q.y()) * size_t(width) + size_t(q.x())];
                    if (!seen) {
                        seen = next;
                        stack.push_back(q);
                    }
                }
            }
            // A button's shape: a line of text high, wider than high, mostly filled.
            const bool buttonLike = box.height() >= 14 && box.height() <= 60 && box.width() >= box.height()
                && box.width() <= 600 && count * 2 >= box.width() * box.height();
            if (!buttonLike)
                continue;
            // Inside the box: the shape turns white, the holes in it (the text) dark, the rest white.
            QImage text(box.size(), QImage::Format_Grayscale8);
            text.fill(255);
            std::vector<char> outside(size_t(box.width()) * size_t(box.height()), 0);
            std::vector<QPoint> border;
            for (int x = 0; x < box.width(); ++x)
                border.insert(border.end(), { QPoint(x, 0), QPoint(x, box.height() - 1) });
            for (int y = 0; y < box.height(); ++y)
                border.insert(border.end(), { QPoint(0, y), QPoint(box.width() - 1, y) });
            const auto inShape = [&](QPoint p) {
                return label[size_t(p.y() + box.y()) * size_t(width) + size_t(p.x() + box.x())] == next;
            };
            for (const QPoint p : border) {
                char &mark = outside[size_t(p.y()) * size_t(box.width()) + size_t(p.x())];
                if (!inShape(p) && !mark) {
                    mark = 1;
                    stack.push_back(p);
                }
            }
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                for (const QPoint step : { QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1) }) {
                    const QPoint q = p + step;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= box.width() || q.y() >= box.height() || inShape(q))
                        continue;
                    char &mark = outside[size_t(q.y()) * size_t(box.width()) + size_t(q.x())];
                    if (!mark) {
                        mark = 1;
                        stack.push_back(q);
                    }
                }
            }
            bool hasText = false;
            for (int y = 0; y < box.height(); ++y) {
                uchar *line = text.scanLine(y);
                for (int x = 0; x < box.width(); ++x) {
                    if (inShape(QPoint(x, y)) || outside[size_t(y) * size_t(box.width()) + size_t(x)])
                        continue;
                    line[x] = uchar(255 - gray.constScanLine(y + box.y())[x + box.x()]);
                    hasText = true;
                }
            }
            if (hasText)
                buttons.push_back({ box, text });
        }
    }
    return buttons;
}

std::optional<QRect> ScreenText::find(const QList<Word> &words, const QString &phrase)
{
    const QString wanted = normalized(phrase);
    if (wanted.isEmpty())
        return std::nullopt;
    // A long phrase may be misread by a letter in twelve, though not at its start.
    const qsizetype slack = wanted.size() >= 5 ? std::max<qsizetype>(1, wanted.size() / 12) : 0;
    const auto close = [&](const QString &seen, bool exact) {
        if (exact || seen.isEmpty() || seen.front() != wanted.front())
            return seen == wanted;
        return std::abs(seen.size() - wanted.size()) <= slack && editDistance(seen, wanted) <= slack;
    };
    // Whole words whose letters and digits together are the phrase's, whatever the reading made words
    // of them (a file name is one word, a spaced label several, a long name may wrap onto the next line);
    // an exact reading anywhere before a close one.
    for (const bool exact : { true, false }) {
        for (qsizetype i = 0; i < words.size(); ++i) {
            // A mark that is no letter (an icon read as "@") does not start the phrase.
            if (normalized(words.at(i).text).isEmpty())
                continue;
            QString seen;
            QRect box;
            for (qsizetype j = i; j < words.size() && seen.size() <= wanted.size() + slack; ++j) {
                seen += normalized(words.at(j).text);
                box = box.united(words.at(j).box);
                if (close(seen, exact))
                    return box;
            }
        }
    }
    return std::nullopt;
}

QString ScreenText::text(const QList<Word> &words)
{
    QString result;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i > 0)
            result += words.at(i).line == words.at(i - 1).line ? u' ' : u'\n';
        result += words.at(i).text;
    }
    return result;
}
