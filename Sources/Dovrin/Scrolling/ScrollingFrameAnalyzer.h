#pragma once

#include <QFuture>
#include <QImage>
#include <QList>

#include <memory>
#include <vector>

class QThreadPool;

// One viewport prepared for alignment: its pixels and a 64-bit signature of every cell, a cell being
// one pixel row of one vertical band of the frame. Comparing signatures instead of pixels keeps an
// alignment of two full-screen frames to a few milliseconds; bands let a scrollbar, a caret or a
// small animation be left out without throwing away the rows they sit in.
class ScrollingFrame
{
public:
    static constexpr int maximumBands = 32;

    ScrollingFrame() = default;
    // Prepares `image` (any format; compared as opaque RGB, the alpha byte ignored).
    explicit ScrollingFrame(const QImage &image);
    // A look recorded earlier, with the cells it saw change at rest (bands per row, as changedBands()
    // and volatileBands() answer them; empty when none); rows past the image's are ignored.
    ScrollingFrame(const QImage &image, std::vector<quint32> changed, std::vector<quint32> changing);

    const QImage &image() const { return m_image; }
    bool isNull() const { return m_image.isNull(); }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    int bandCount() const { return m_bandCount; }
    // The pixel columns of one band.
    int bandLeft(int band) const { return band * m_bandWidth; }
    int bandRight(int band) const { return std::min(width(), (band + 1) * m_bandWidth); }

    quint64 cell(int row, int band) const
    {
        return m_cells[size_t(row) * size_t(m_bandCount) + size_t(band)];
    }
    // Bit b set: band b of the row is a single colour (it tells nothing about where the content is).
    quint32 uniformBands(int row) const { return m_uniform[size_t(row)]; }
    quint32 allBands() const { return m_bandCount >= 32 ? 0xffffffffu : ((1u << m_bandCount) - 1u); }
    // Bit b set: band b of the row kept changing while the page was at rest (an animation, a
    // spinner): it tells nothing about movement and is left out of every comparison.
    quint32 volatileBands(int row) const { return m_volatile.empty() ? 0u : m_volatile[size_t(row)]; }
    bool hasVolatileCells() const { return !m_volatile.empty(); }
    // Bit b set: band b of the row changed at least once while the page was at rest (it includes
    // the volatile cells). Left out when telling whether the page has settled.
    quint32 changedBands(int row) const { return m_changed.empty() ? 0u : m_changed[size_t(row)]; }
    bool hasChangedCells() const { return !m_changed.empty(); }

    // Rows of this frame whose cell in `band` has the signature `signature`; at most `limit` + 1 are
    // reported (more than `limit` means the cell is too common to say anything).
    int rowsWithCell(int band, quint64 signature, int limit, int *rows) const;

private:
    friend class ScrollingFrameAnalyzer;
    struct Slot
    {
        quint64 key = 0;
        int head = -1;
        int count = 0;
    };
    void buildIndex();

    QImage m_image;
    int m_bandCount = 0;
    int m_bandWidth = 1;
    std::vector<quint64> m_cells;
    std::vector<quint32> m_uniform;
    std::vector<quint32> m_volatile;
    std::vector<quint32> m_changed;
    // Where each informative cell signature occurs: open addressing over (signature, band).
    std::vector<Slot> m_slots;
    std::vector<int> m_next;
    std::vector<int> m_rowOf;
};

using ScrollingFramePtr = std::shared_ptr<const ScrollingFrame>;

// How the content moved from one frame to the next.
struct ScrollingAlignment
{
    static constexpr double minimumConfidence = 0.5;
    // Image evidence this sure outweighs the step the capture expected.
    static constexpr double overrulingConfidence = 0.8;

    // What decided the offset.
    enum class Basis {
        // The pixels alone.
        image,
        // The step the capture expected, which the pixels fit as well as they fit other offsets
        // (rows that repeat).
        expectedStep,
        // The step the capture expected, which the pixels can neither confirm nor refute (rows of one
        // colour); fixedTop and fixedBottom are unknown then.
        unchecked,
    };

    // Rows the content moved up from the previous frame to the current one (positive after a
    // downward scroll step; negative when the content moved down).
    int offset = 0;
    // 0 to 1. Low when little of the frames agrees at the offset, or when another offset explains
    // them almost as well (repeated rows make the step ambiguous).
    double confidence = 0;
    // Rows at the top and bottom of the current frame that stayed where they were while the content
    // moved: a sticky header or footer, or the rows from the top of an element floating over the
    // lower part of the content (a button in a corner) down. Never part of a new strip.
    int fixedTop = 0;
    int fixedBottom = 0;
    // Rows of the previous frame from this one down to its fixed bottom were blank there and show
    // content at the offset here: the window had not drawn them yet, and they come from this frame.
    // -1 when none.
    int undrawnFrom = -1;
    // Pixel column ranges [left, right) left out of the comparison because they did not move with
    // the content (a scrollbar, a fixed side panel, an animation).
    QList<std::pair<int, int>> excludedColumns;
    // The two frames are the same, pixel for pixel.
    bool identical = false;
    Basis basis = Basis::image;
    // Another offset fits the pixels as well, this many rows away: the content repeats. 0 when none.
    int period = 0;
    // Taken on the expected step, which a shorter step fits as well (rows that repeat): a step that
    // stopped short at the end of the content would look just the same.
    bool fitsShorterStep = false;
    // Taken on an expected step, which a longer one expected as well fits too.
    bool fitsLongerStep = false;

    bool isConfident() const { return basis != Basis::image || confidence >= minimumConfidence; }
};

// Prepares and aligns the frames of one scrolling capture. Its work runs in order on a thread of its
// own, away from the event loop; one analyzer serves one capture.
class ScrollingFrameAnalyzer
{
public:
    ScrollingFrameAnalyzer();
    ~ScrollingFrameAnalyzer();
    ScrollingFrameAnalyzer(const ScrollingFrameAnalyzer &) = delete;
    ScrollingFrameAnalyzer &operator=(const ScrollingFrameAnalyzer &) = delete;

    QFuture<ScrollingFramePtr> prepare(QImage image);
    QFuture<ScrollingAlignment> align(
        ScrollingFramePtr previous, ScrollingFramePtr current, QList<int> expectedOffsets = {});
    QFuture<double> difference(ScrollingFramePtr previous, ScrollingFramePtr current);

    // The same work on the calling thread.
    static ScrollingFramePtr prepareFrame(const QImage &image);
    // Frames of different sizes, or without pixels, do not align (confidence 0). `expectedOffsets`
    // are the steps the capture expects, most likely first: the first that the pixels fit is taken
    // when they fit other offsets as well, and the first they cannot check when they tell nothing;
    // only image evidence of overrulingConfidence beats them. Without them, the pixels decide.
    static ScrollingAlignment alignFrames(const ScrollingFrame &previous, const ScrollingFrame &current,
        const QList<int> &expectedOffsets = {});
    // The rows [top, bottom) of `frame` look the same moved by `shift` rows: a step of that size
    // would not show in them.
    static bool hidesStep(const ScrollingFrame &frame, int top, int bottom, int shift);
    // Rows [first, second) of `later` that are blank, one colour, where `earlier` showed something
    // at the same place, and that are all the two looks differ in (cells either saw change at rest
    // aside): the window has not moved, and is drawing those rows again. Empty when not so.
    static std::pair<int, int> blankedRows(const ScrollingFrame &earlier, const ScrollingFrame &later);
    // The first of the rows at the bottom of `later` that are blank, in one colour, down to its last,
    // when they are a quarter of it or more and `earlier` showed something in a third of them: a
    // look whose lower part the window has not drawn yet, or a stretch of page of one colour.
    // `later`'s height when none.
    static int blankTail(const ScrollingFrame &earlier, const ScrollingFrame &later);
    // The share of cells that differ between the frames at the same place, 0 to 1 (1 for frames of
    // different sizes); cells either frame saw change at rest do not count.
    static double frameDifference(const ScrollingFrame &previous, const ScrollingFrame &current);
    // `later`, a look at the same place as `earlier`, carrying what changed while the page was at
    // rest: when the page did not move between the two looks, the cells that differ join those
    // `earlier` saw change, and cells seen changing twice are volatile; when it moved, nothing.
    static ScrollingFramePtr restingLook(const ScrollingFramePtr &earlier, const ScrollingFramePtr &later);

private:
    std::unique_ptr<QThreadPool> m_worker;
};
