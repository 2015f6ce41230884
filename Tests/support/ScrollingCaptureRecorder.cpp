#include "ScrollingCaptureRecorder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHash>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QSaveFile>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <optional>

namespace {

QString basisName(ScrollingAlignment::Basis basis)
{
    switch (basis) {
    case ScrollingAlignment::Basis::image:
        return QStringLiteral("image");
    case ScrollingAlignment::Basis::expectedStep:
        return QStringLiteral("expectedStep");
    case ScrollingAlignment::Basis::unchecked:
        return QStringLiteral("unchecked");
    }
    return {};
}

QJsonArray numbers(const QList<int> &values)
{
    QJsonArray array;
    for (int value : values)
        array.append(value);
    return array;
}

} // namespace

struct ScrollingCaptureRecorder::State
{
    QString folder;
    TaskClock *clock = nullptr;
    QMutex mutex;
    std::optional<TaskClock::TimePoint> origin;
    QList<QJsonObject> events;
    QHash<qint64, int> lookOfImage; // QImage::cacheKey of a look's pixels
    QList<int> imageOfLook;
    QHash<QByteArray, int> imageOfDigest;
    int images = 0;
    bool failed = false;
    QThreadPool encoder;

    double millis()
    {
        const TaskClock::TimePoint now = clock->now();
        QMutexLocker lock(&mutex);
        if (!origin)
            origin = now;
        return std::chrono::duration<double, std::milli>(now - *origin).count();
    }

    void add(QJsonObject event)
    {
        QMutexLocker lock(&mutex);
        events.append(std::move(event));
    }

    int lookOf(const ScrollingFramePtr &frame)
    {
        QMutexLocker lock(&mutex);
        return frame ? lookOfImage.value(frame->image().cacheKey(), -1) : -1;
    }

    // The look's pixels are written once, however often the window showed them.
    int addLook(const QImage &image)
    {
        int look = 0;
        {
            QMutexLocker lock(&mutex);
            look = int(imageOfLook.size());
            imageOfLook.append(-1);
            lookOfImage.insert(image.cacheKey(), look);
        }
        encoder.start([this, image, look] {
            const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
            QCryptographicHash digest(QCryptographicHash::Sha1);
            digest.addData(
                QByteArrayView(reinterpret_cast<const char *>(pixels.constBits()), pixels.sizeInBytes()));
            const QByteArray key = digest.result();
            int id = -1;
            bool fresh = false;
            {
                QMutexLocker lock(&mutex);
                id = imageOfDigest.value(key, -1);
                if (id < 0) {
                    id = images++;
                    imageOfDigest.insert(key, id);
                    fresh = true;
                }
                imageOfLook[look] = id;
            }
            if (!fresh)
                return;
            QSaveFile file(QDir(folder).filePath(QStringLiteral("%1.png").arg(id, 4, 10, QLatin1Char('0'))));
            QImageWriter writer(&file, "png");
            writer.setQuality(0); // the smallest file
            if (!file.open(QIODevice::WriteOnly) || !writer.write(pixels) || !file.commit()) {
                QMutexLocker lock(&mutex);
                failed = true;
            }
        });
        return look;
    }

    static QJsonArray marks(const ScrollingFramePtr &frame, bool changing)
    {
        QJsonArray rows;
        for (int row = 0; frame && row < frame->height(); ++row)
            rows.append(qint64(changing ? frame->volatileBands(row) : frame->changedBands(row)));
        return rows;
    }

    // What the analyzer was told about a look besides its pixels: cells seen changing at rest.
    void describeFrame(QJsonObject &event, const char *name, const ScrollingFramePtr &frame)
    {
        event.insert(QLatin1String(name), lookOf(frame));
        if (frame && frame->hasChangedCells())
            event.insert(QLatin1String(name) + QStringLiteral("Changed"), marks(frame, false));
        if (frame && frame->hasVolatileCells())
            event.insert(QLatin1String(name) + QStringLiteral("Volatile"), marks(frame, true));
    }
};

class ScrollingCaptureRecorder::Clock final : public TaskClock
{
public:
    Clock(std::shared_ptr<State> state, TaskClock &inner)
        : m_state(std::move(state))
        , m_inner(inner)
    { }

    TimePoint now() const override { return m_inner.now(); }
    std::unique_ptr<Timer> schedule(Duration delay, std::function<void()> fire) override
    {
        m_state->add({ { "t", m_state->millis() }, { "kind", "wait" },
            { "ms", std::chrono::duration<double, std::milli>(delay).count() } });
        return m_inner.schedule(delay, std::move(fire));
    }

private:
    std::shared_ptr<State> m_state;
    TaskClock &m_inner;
};

ScrollingCaptureRecorder::ScrollingCaptureRecorder(QString folder)
    : m_state(std::make_shared<State>())
{
    m_state->folder = std::move(folder);
    m_state->clock = &TaskClock::system();
    m_state->encoder.setMaxThreadCount(1);
    if (!QDir().mkpath(m_state->folder))
        m_state->failed = true;
}

ScrollingCaptureRecorder::~ScrollingCaptureRecorder()
{
    m_state->encoder.waitForDone();
}

QString ScrollingCaptureRecorder::folder() const
{
    return m_state->folder;
}

ScrollingCaptureCoordinator::CaptureViewport ScrollingCaptureRecorder::viewport(
    ScrollingCaptureCoordinator::CaptureViewport inner)
{
    return [state = m_state, inner = std::move(inner)](
               ScrollingRegionGeometry geometry) { return recordedLook(state, inner, std::move(geometry)); };
}

ScrollingCaptureEnvironment ScrollingCaptureRecorder::environment(ScrollingCaptureEnvironment inner)
{
    TaskClock &clock = inner.clock ? *inner.clock : TaskClock::system();
    m_state->clock = &clock;
    m_clock = std::make_unique<Clock>(m_state, clock);
    inner.clock = m_clock.get();
    inner.scrollDown = [state = m_state, scroll = std::move(inner.scrollDown)](QPoint point, int notches) {
        state->add({ { "t", state->millis() }, { "kind", "step" }, { "notches", notches } });
        return scroll(point, notches);
    };
    return inner;
}

ScrollingCaptureCoordinator::FrameFunctions ScrollingCaptureRecorder::frames(
    ScrollingCaptureCoordinator::FrameFunctions inner)
{
    ScrollingCaptureCoordinator::FrameFunctions functions;
    functions.prepareFrame = [state = m_state, prepare = inner.prepareFrame](QImage image) {
        const qint64 key = image.cacheKey();
        // A frame converted to another format carries new pixels: they stand for the same look.
        return prepare(std::move(image)).then(QtFuture::Launch::Sync, [state, key](ScrollingFramePtr frame) {
            if (frame) {
                QMutexLocker lock(&state->mutex);
                state->lookOfImage.insert(frame->image().cacheKey(), state->lookOfImage.value(key, -1));
            }
            return frame;
        });
    };
    functions.alignFrames = [state = m_state, align = inner.alignFrames](
                                ScrollingFramePtr from, ScrollingFramePtr to, QList<int> expected) {
        QJsonObject event { { "t", state->millis() }, { "kind", "align" },
            { "expected", numbers(expected) } };
        state->describeFrame(event, "from", from);
        state->describeFrame(event, "to", to);
        return align(std::move(from), std::move(to), std::move(expected))
            .then(QtFuture::Launch::Sync, [state, event](ScrollingAlignment alignment) mutable {
                QJsonArray excluded;
                for (const auto &[left, right] : alignment.excludedColumns)
                    excluded.append(QJsonArray { left, right });
                event.insert(QStringLiteral("answer"),
                    QJsonObject { { "offset", alignment.offset }, { "confidence", alignment.confidence },
                        { "basis", basisName(alignment.basis) }, { "identical", alignment.identical },
                        { "fixedTop", alignment.fixedTop }, { "fixedBottom", alignment.fixedBottom },
                        { "period", alignment.period }, { "fitsShorterStep", alignment.fitsShorterStep },
                        { "fitsLongerStep", alignment.fitsLongerStep }, { "excludedColumns", excluded },
                        { "undrawnFrom", alignment.undrawnFrom } });
                state->add(event);
                return alignment;
            });
    };
    functions.frameDifference = [state = m_state, difference = inner.frameDifference](
                                    ScrollingFramePtr from, ScrollingFramePtr to) {
        QJsonObject event { { "t", state->millis() }, { "kind", "difference" } };
        state->describeFrame(event, "from", from);
        state->describeFrame(event, "to", to);
        return difference(std::move(from), std::move(to))
            .then(QtFuture::Launch::Sync, [state, event](double value) mutable {
                event.insert(QStringLiteral("value"), value);
                state->add(event);
                return value;
            });
    };
    return functions;
}

bool ScrollingCaptureRecorder::finish(const QJsonObject &about)
{
    m_state->encoder.waitForDone();
    QMutexLocker lock(&m_state->mutex);
    if (m_state->failed)
        return false;
    QList<QJsonObject> events = m_state->events;
    std::stable_sort(events.begin(), events.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value(QStringLiteral("t")).toDouble() < b.value(QStringLiteral("t")).toDouble();
    });
    QJsonArray timeline;
    for (QJsonObject event : events) {
        if (event.value(QStringLiteral("kind")).toString() == QStringLiteral("look"))
            event.insert(QStringLiteral("image"),
                m_state->imageOfLook.value(event.value(QStringLiteral("look")).toInt(), -1));
        timeline.append(event);
    }
    QJsonArray images;
    for (int id = 0; id < m_state->images; ++id)
        images.append(QStringLiteral("%1.png").arg(id, 4, 10, QLatin1Char('0')));
    QJsonObject manifest = about;
    manifest.insert(QStringLiteral("format"), 1);
    manifest.insert(QStringLiteral("images"), images);
    manifest.insert(QStringLiteral("events"), timeline);
    QSaveFile file(QDir(m_state->folder).filePath(QStringLiteral("manifest.json")));
    return file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(manifest).toJson(QJsonDocument::Indented)) >= 0 && file.commit();
}

Task<QImage> ScrollingCaptureRecorder::recordedLook(std::shared_ptr<State> state,
    ScrollingCaptureCoordinator::CaptureViewport inner, ScrollingRegionGeometry geometry)
{
    const double asked = state->millis();
    Task<QImage> reading = inner(std::move(geometry));
    QImage image = co_await reading;
    const double took = state->millis() - asked;
    if (!image.isNull()) {
        const int look = state->addLook(image);
        state->add({ { "t", asked }, { "kind", "look" }, { "look", look }, { "took", took } });
    }
    co_return image;
}
