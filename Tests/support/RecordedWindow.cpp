#include "RecordedWindow.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>

namespace {

QList<int> numbers(const QJsonValue &value)
{
    QList<int> list;
    for (const QJsonValue &number : value.toArray())
        list << number.toInt();
    return list;
}

} // namespace

QList<RecordedWindow> RecordedWindow::runsOf(const QString &folder, QString *error)
{
    QFile file(QDir(folder).filePath(QStringLiteral("manifest.json")));
    const QJsonObject manifest
        = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    if (manifest.value(QStringLiteral("format")).toInt() != 1) {
        *error = folder + QStringLiteral(": no manifest of format 1");
        return {};
    }
    // Steps the pixels cannot tell are known only from a run that came out complete.
    const bool complete = manifest.value(QStringLiteral("verdict")).toString() == QStringLiteral("complete");
    const QJsonArray images = manifest.value(QStringLiteral("images")).toArray();
    QHash<int, int> imageOfLook;
    QList<RecordedWindow> runs;
    int lastImage = -1;
    for (const QJsonValue &value : manifest.value(QStringLiteral("events")).toArray()) {
        const QJsonObject event = value.toObject();
        const QString kind = event.value(QStringLiteral("kind")).toString();
        if (kind == QStringLiteral("look"))
            imageOfLook.insert(
                event.value(QStringLiteral("look")).toInt(), event.value(QStringLiteral("image")).toInt());
        if (kind != QStringLiteral("align"))
            continue;
        const int from = imageOfLook.value(event.value(QStringLiteral("from")).toInt(), -1);
        const int to = imageOfLook.value(event.value(QStringLiteral("to")).toInt(), -1);
        const QJsonObject truth = event.value(QStringLiteral("truth")).toObject();
        const QJsonValue offset = truth.contains(QStringLiteral("offset"))
            ? truth.value(QStringLiteral("offset"))
            : complete ? event.value(QStringLiteral("answer")).toObject().value(QStringLiteral("offset"))
                       : QJsonValue();
        if (from < 0 || to < 0 || !offset.isDouble()) {
            *error = QStringLiteral("%1: alignment of look %2 holds no image or no true offset")
                         .arg(folder)
                         .arg(event.value(QStringLiteral("to")).toInt());
            return {};
        }
        const auto imageAt = [&](int index) {
            return QImage(QDir(folder).filePath(images.at(index).toString()))
                .convertToFormat(QImage::Format_RGB32);
        };
        if (from != lastImage) {
            RecordedWindow run;
            run.m_name = QStringLiteral("%1 from image %2").arg(QDir(folder).dirName()).arg(from);
            run.m_looks << imageAt(from);
            runs << run;
        }
        RecordedWindow &run = runs.last();
        QList<Meanwhile> meanwhile;
        for (const QJsonValue &shown : event.value(QStringLiteral("meanwhile")).toArray()) {
            const QJsonObject look = shown.toObject();
            const QList<int> blanked = numbers(look.value(QStringLiteral("blanked")));
            meanwhile.append({ imageAt(look.value(QStringLiteral("image")).toInt()),
                std::chrono::milliseconds(look.value(QStringLiteral("until")).toInt()),
                blanked.size() == 2 ? std::pair(blanked.first(), blanked.last()) : std::pair(0, 0) });
        }
        run.m_meanwhile << meanwhile;
        run.m_looks << imageAt(to);
        run.m_offsets << offset.toInt();
        run.m_expected << numbers(event.value(QStringLiteral("expected")));
        run.m_fixedBottom = std::max(run.m_fixedBottom, truth.value(QStringLiteral("fixedBottom")).toInt());
        lastImage = to;
    }
    for (RecordedWindow &run : runs) {
        if (std::any_of(run.m_looks.begin(), run.m_looks.end(), [&](const QImage &look) {
                return look.isNull() || look.size() != run.m_looks.first().size();
            })) {
            *error = folder + QStringLiteral(": a look is missing or of another size");
            return {};
        }
    }
    if (runs.isEmpty())
        *error = folder + QStringLiteral(": no alignment");
    return runs;
}

RecordedWindow RecordedWindow::after(int steps) const
{
    RecordedWindow window;
    window.m_name = QStringLiteral("%1 after %2 steps").arg(m_name).arg(steps);
    window.m_looks = m_looks.mid(steps);
    window.m_offsets = m_offsets.mid(steps);
    window.m_expected = m_expected.mid(steps);
    window.m_meanwhile = m_meanwhile.mid(steps);
    window.m_fixedBottom = m_fixedBottom;
    return window;
}

int RecordedWindow::clearRows() const
{
    // A button's shadow, which its truth does not count, reaches a little above it.
    return size().height() - m_fixedBottom - (m_fixedBottom > 0 ? 16 : 0);
}

int RecordedWindow::placeableSteps() const
{
    const auto past = std::find_if(
        m_offsets.begin(), m_offsets.end(), [clear = clearRows()](int rows) { return rows > clear; });
    return int(past - m_offsets.begin());
}

QImage RecordedWindow::content(int steps) const
{
    const int width = size().width();
    QList<int> scroll { 0 };
    for (int step = 0; step < steps; ++step)
        scroll << scroll.last() + m_offsets.at(step);
    QImage image(width, scroll.last() + size().height(), QImage::Format_RGB32);
    for (int row = 0; row < image.height(); ++row) {
        // Each row as the look that brought it clear of what stays put showed it.
        int look = 0;
        while (look < steps && row >= scroll.at(look) + clearRows())
            ++look;
        std::memcpy(
            image.scanLine(row), m_looks.at(look).constScanLine(row - scroll.at(look)), size_t(width) * 4);
    }
    return image;
}

QImage RecordedWindow::look()
{
    if (m_movesAt && m_clock->now() >= *m_movesAt) {
        ++m_shown;
        m_movesAt.reset();
    }
    if (m_movesAt) {
        for (const Meanwhile &shown : m_meanwhile.at(m_steps - 1)) {
            if (m_clock->now() < m_steppedAt + shown.until)
                return shown.image;
        }
    }
    return m_looks.at(m_shown);
}

bool RecordedWindow::scrollDown(int)
{
    if (m_movesAt) {
        if (m_fault.isEmpty())
            m_fault = QStringLiteral("step %1 was posted before the window showed step %2, which moves "
                                     "%3 ms after its wheel event: the recording holds no look of both")
                          .arg(m_steps + 1)
                          .arg(m_steps)
                          .arg(m_delays.value(m_steps).count());
        return true;
    }
    ++m_steps;
    m_steppedAt = m_clock->now();
    if (m_steps <= m_offsets.size()) {
        std::chrono::milliseconds delay = m_delays.value(m_steps, std::chrono::milliseconds(0));
        for (const Meanwhile &shown : m_meanwhile.at(m_steps - 1))
            delay = std::max(delay, shown.until);
        m_movesAt = m_steppedAt + delay;
    }
    return true;
}

void RecordedWindow::expects(const QList<int> &steps)
{
    if (m_steps < 1 || m_steps > m_expected.size() || m_shown != m_steps || steps.isEmpty())
        return;
    const QList<int> &recorded = m_expected.at(m_steps - 1);
    if (!recorded.isEmpty() && steps.first() != recorded.first() && m_fault.isEmpty())
        m_fault
            = QStringLiteral("step %1 was expected to move %2 rows where the recorded capture expected %3: "
                             "the recording holds no look of that step")
                  .arg(m_steps)
                  .arg(steps.first())
                  .arg(recorded.first());
}
