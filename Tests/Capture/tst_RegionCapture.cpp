// Region capture on a real X server: stills, the selection overlay, the crop and its text, the
// overlay's endings, and the windows under a scrolling outline.

#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Capture/SelectionOverlay.h"
#include "ScopedEnvironment.h"
#include "ScrollTargetProcess.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <xcb/xcb.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

// Ordinary widgets at their usual small sizes; `words` gets what they show.
std::unique_ptr<QWidget> widgetWindow(QStringList *words)
{
    const QStringList folders { "Inbox", "Drafts", "Sent", "Archive", "Spam", "Trash" };
    const QStringList subjects { "Budget for the spring campaign", "Your order has shipped",
        "Lunch next Thursday", "Invoice 3391 from Northwind", "Password reset requested",
        "Weekly team update" };
    auto window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    auto *list = new QListWidget;
    list->addItems(folders);
    list->setFixedWidth(140);
    auto *tree = new QTreeWidget;
    tree->setHeaderLabels({ "Subject", "From" });
    for (qsizetype i = 0; i < subjects.size(); ++i)
        tree->addTopLevelItem(new QTreeWidgetItem({ subjects[i], i % 2 ? "Maria" : "Jonas" }));
    tree->setColumnWidth(0, 300);
    auto *side = new QHBoxLayout;
    side->addWidget(list);
    side->addWidget(tree);
    auto *form = new QFormLayout(window.get());
    form->addRow(new QLabel("Search"), new QLabel("quarterly report"));
    form->addRow(side);
    form->addRow(new QPushButton("Send"));
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    window->setFont(font);
    *words = folders + subjects + QStringList { "Subject", "From", "Search", "quarterly report", "Send" };
    return window;
}

// A plain window of ours.
std::unique_ptr<QWidget> plainWindow()
{
    auto window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->setPalette(QPalette(QColor(0x1d, 0x4e, 0x89)));
    window->setAutoFillBackground(true);
    return window;
}

bool sameImage(const QImage &a, const QImage &b)
{
    return a.size() == b.size()
        && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// The server's pixels now, read without the service.
QImage onScreen(const QRect &rect)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height())
        .toImage();
}

// Shows a window and waits until the server shows what it drew.
void showOnScreen(QWidget *window, const QRect &frame)
{
    window->setGeometry(frame);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(sameImage(onScreen(frame), window->grab().toImage()));
}

// True when no client holds the keyboard: a grab of our own succeeds (and is let go at once).
bool keyboardIsFree()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(c,
        xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool free = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    xcb_disconnect(c);
    return free;
}

int visibleOverlayWindows()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return int(std::count_if(windows.begin(), windows.end(), [](QWidget *widget) {
        return widget->objectName() == QLatin1String("SelectionOverlayWindow") && widget->isVisible();
    }));
}

int errorOf(const Task<CapturedRegion> &task)
{
    try {
        task.result();
    } catch (const ScreenCaptureError &error) {
        return error.code();
    }
    return -1;
}

// The share of the words of `lines` found in `text`.
double wordsFound(const QStringList &lines, const QString &text)
{
    const QStringList read = text.simplified().split(' ');
    const QStringList words = lines.join(' ').split(' ');
    return double(std::count_if(words.begin(), words.end(), [&](const QString &w) {
        return read.contains(w);
    })) / double(words.size());
}

// A window of another process; closed with its stdin.
class TargetProcess
{
public:
    explicit TargetProcess(QStringList arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        TestSupport::endWithTest(m_process);
        m_process.start(TestSupport::binaryDir() + "/region_target", arguments);
    }
    ~TargetProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    void write(const QByteArray &line) { m_process.write(line); }
    // The window's ID once it is on screen.
    quint64 waitReady()
    {
        [&] { QTRY_VERIFY(m_process.canReadLine()); }();
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        return line.startsWith("ready ") ? line.mid(6).toULongLong() : 0;
    }

private:
    QProcess m_process;
};

template <typename T> T finished(const Task<T> &task)
{
    [&] { QTRY_VERIFY(task.isFinished()); }();
    return task.result();
}

} // namespace

class TestRegionCapture : public QObject
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_board;
    QStringList m_boardWords;
    QRect m_boardFrame { 120, 140, 560, 300 };

    // The stills the capture flow takes for the overlay, accepted under its generation.
    static QList<DisplaySnapshot> stillsFor(SelectionOverlayCoordinator &overlay)
    {
        ScreenCaptureService service;
        overlay.prepareForSnapshotCapture();
        return finished(service.snapshots([&overlay] { return overlay.screenChangeGeneration(); },
            [&overlay](quint64 generation) { overlay.setAcceptedSnapshotGeneration(generation); }));
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through scripts/test.sh)");
        m_board = widgetWindow(&m_boardWords);
        showOnScreen(m_board.get(), m_boardFrame);
    }

    void cleanupTestCase() { m_board.reset(); }

    void cleanup()
    {
        QTRY_COMPARE(visibleOverlayWindows(), 0);
        QTRY_VERIFY(keyboardIsFree());
        // What the overlay covered is drawn again.
        QTRY_VERIFY(sameImage(onScreen(m_boardFrame), m_board->grab().toImage()));
    }

    // Board on screen -> pixel-exact stills -> a drag on the overlay -> the crop -> its words, or in
    // scrolling mode the outline.
    void dragSelects_data()
    {
        QTest::addColumn<bool>("scrolling");
        QTest::newRow("region") << false;
        QTest::newRow("scrolling, dragged backwards") << true;
    }

    void dragSelects()
    {
        QFETCH(bool, scrolling);
        SelectionOverlayCoordinator overlay(DisplayChangeCenter::defaultCenter(), 120s,
            scrolling ? CaptureSelectionMode::scrolling : CaptureSelectionMode::region);
        const QList<DisplaySnapshot> stills = stillsFor(overlay);
        Task<CapturedRegion> selection = overlay.select(stills);
        QCOMPARE(stills.size(), QGuiApplication::screens().size());
        const DisplaySnapshot &still = stills.front();
        QCOMPARE(still.screenFrame, QGuiApplication::primaryScreen()->geometry());
        QCOMPARE(still.image.size(),
            still.screenFrame.size() * QGuiApplication::primaryScreen()->devicePixelRatio());
        QVERIFY(sameImage(still.image.copy(m_boardFrame), m_board->grab().toImage()));
        QTRY_COMPARE(visibleOverlayWindows(), int(stills.size()));
        QCOMPARE(
            overlay.acceptedSnapshotGeneration(), std::optional<quint64>(overlay.screenChangeGeneration()));
        QVERIFY(!keyboardIsFree());

        QWidget *window = overlay.windows().front();
        const QRect wanted = m_boardFrame.adjusted(2, 2, -2, -2);
        QPoint from = wanted.topLeft() - window->geometry().topLeft();
        QPoint to = wanted.bottomRight() + QPoint(1, 1) - window->geometry().topLeft();
        if (scrolling)
            std::swap(from, to);
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        QTest::mouseMove(window, from + (to - from) / 2);
        QTest::mouseMove(window, to);
        QTest::mouseRelease(window, Qt::LeftButton, {}, to);
        const CapturedRegion region = finished(selection);
        QCOMPARE(region.displayID, still.displayID);
        QVERIFY(qAbs(region.observedAt.secsTo(QDateTime::currentDateTime())) < 60);
        QVERIFY(sameImage(region.image, still.image.copy(wanted)));
        QCOMPARE(region.scrollingGeometry.has_value(), scrolling);
        if (scrolling) {
            const ScrollingRegionGeometry expected = ScrollTargetProcess::geometryOf(wanted);
            QCOMPARE(region.scrollingGeometry->displayID, still.displayID);
            QCOMPARE(region.scrollingGeometry->displayFrame, expected.displayFrame);
            QCOMPARE(region.scrollingGeometry->globalRect, expected.globalRect);
            QCOMPARE(region.scrollingGeometry->pixelRect, expected.pixelRect);
            QCOMPARE(region.scrollingGeometry->displayPixelSize, still.image.size());
            return;
        }
        const QList<CaptureTextObservation> lines = OCRService::recognizeLines(region.image);
        QString read;
        for (const CaptureTextObservation &line : lines)
            read += line.text + ' ';
        QVERIFY2(wordsFound(m_boardWords, read) >= 0.9, qPrintable(read));
    }

    // Every way a selection ends without a region; once ended, the overlay stays ended.
    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("expected");
        const int canceled = ScreenCaptureError::canceled;
        const int invalid = ScreenCaptureError::invalidSelection;
        const int changed = ScreenCaptureError::displaysChanged;
        QTest::newRow("Escape") << "escape" << canceled;
        QTest::newRow("Escape in a round prepared again after an ended one") << "again" << canceled;
        QTest::newRow("click without a drag") << "click" << invalid;
        QTest::newRow("5 x 5 drag") << "small" << invalid;
        QTest::newRow("10 x 9 drag") << "thin" << invalid;
        QTest::newRow("a drag over no visible pixels") << "blank" << int(ScreenCaptureError::blankSurface);
        QTest::newRow("cancel twice") << "cancel" << canceled;
        QTest::newRow("canceled while the stills were read") << "cancelFirst" << canceled;
        QTest::newRow("display change") << "display" << changed;
        QTest::newRow("stills accepted under an older generation") << "stale" << changed;
        QTest::newRow("no stills") << "empty" << int(ScreenCaptureError::noDisplays);
        QTest::newRow("time-out, counted from the overlay showing")
            << "timeout" << int(ScreenCaptureError::selectionTimedOut);
        QTest::newRow("keyboard held elsewhere") << "held" << int(ScreenCaptureError::overlayUnavailable);
        QTest::newRow("another application takes the focus") << "focus" << canceled;
        QTest::newRow("cancel once refocus took the keyboard back") << "refocus" << canceled;
    }

    void endings()
    {
        QFETCH(QString, how);
        QFETCH(int, expected);
        std::unique_ptr<TargetProcess> other;
        if (how == "focus") {
            other = std::make_unique<TargetProcess>(
                QStringList { "--rect", "1500,50,200,100", "--class", "Focusthief", "--take-focus" });
            QVERIFY(other->waitReady());
        }
        xcb_connection_t *holder = xcb_connect(nullptr, nullptr);
        if (how == "held") {
            const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(holder)).data->root;
            std::free(xcb_grab_keyboard_reply(holder,
                xcb_grab_keyboard(
                    holder, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                nullptr));
            QVERIFY(!keyboardIsFree());
        }
        DisplayChangeCenter center;
        ManualTaskClock clock;
        SelectionOverlayCoordinator overlay(&center, 120s, CaptureSelectionMode::region, {}, clock);
        overlay.refocus(); // nothing to focus yet
        QList<DisplaySnapshot> stills = stillsFor(overlay);
        if (how == "again") {
            overlay.cancel();
            emit center.displaysChanged();
            overlay.prepareForSnapshotCapture();
            QVERIFY(!overlay.acceptedSnapshotGeneration());
        } else if (how == "cancelFirst") {
            overlay.cancel();
        } else if (how == "stale") {
            emit center.displaysChanged();
        } else if (how == "blank") {
            stills.front().image.fill(Qt::transparent);
        }
        Task<CapturedRegion> selection = overlay.select(how == "empty" ? QList<DisplaySnapshot>() : stills);
        const bool shows = !QStringList { "held", "cancelFirst", "stale", "empty" }.contains(how);
        if (shows)
            QTRY_VERIFY(visibleOverlayWindows() > 0);
        QWidget *window = overlay.windows().value(0);
        if (how == "escape" || how == "again") {
            QTest::keyClick(window, Qt::Key_Escape);
        } else if (how == "click") {
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(400, 300));
        } else if (how == "small" || how == "thin" || how == "blank") {
            const QPoint end = how == "small" ? QPoint(405, 305)
                : how == "thin"               ? QPoint(410, 309)
                                              : QPoint(500, 380);
            QTest::mousePress(window, Qt::LeftButton, {}, QPoint(400, 300));
            QTest::mouseMove(window, end);
            QTest::mouseRelease(window, Qt::LeftButton, {}, end);
        } else if (how == "cancel") {
            overlay.cancel();
            overlay.cancel();
        } else if (how == "display") {
            const quint64 before = overlay.screenChangeGeneration();
            emit center.displaysChanged();
            QCOMPARE(overlay.screenChangeGeneration(), before + 1);
        } else if (how == "timeout") {
            QTRY_COMPARE(clock.pendingTimers(), 1);
            clock.advance(119s);
            QCOMPARE(clock.pendingTimers(), 1); // not yet due
            clock.advance(1s);
        } else if (how == "refocus") {
            QVERIFY(window->windowHandle()->setKeyboardGrabEnabled(false));
            QTRY_VERIFY(keyboardIsFree());
            overlay.refocus();
            QVERIFY(!keyboardIsFree());
            overlay.cancel();
        } else if (how == "focus") {
            // The overlay's own activation is through first, or it would take the focus back.
            QTRY_VERIFY(window->isActiveWindow());
            QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationActive);
            QVERIFY(!selection.isFinished());
            other->write("focus\n");
        }
        QTRY_VERIFY(selection.isFinished());
        xcb_disconnect(holder); // lets go of its grab
        QCOMPARE(errorOf(selection), expected);
        QCOMPARE(clock.pendingTimers(), 0);
        overlay.cancel();
        QCOMPARE(visibleOverlayWindows(), 0);
        QVERIFY(overlay.windows().isEmpty());
    }

    // The window of another application under an outline, named as its desktop file names it; our
    // own windows are never the target.
    void scrollingTargetFindsTheFrontWindowOfAnotherApplication()
    {
        QTemporaryDir data;
        QVERIFY(QDir().mkpath(data.path() + "/applications"));
        QFile entry(data.path() + "/applications/org.example.Ledger.desktop");
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(
            "[Desktop Entry]\nType=Application\nName=Ledger Book\nExec=ledger\nStartupWMClass=Ledgerbook\n");
        entry.close();
        ScopedEnvironment environment;
        environment.set("XDG_DATA_HOME", data.path().toUtf8());

        // Below: the ledger; above it, partly overlapping, a window that announces its own ID.
        TargetProcess ledger({ "--rect", "700,400,400,300", "--class", "Ledgerbook", "--color", "#2e7d32" });
        const quint64 ledgerWindow = ledger.waitReady();
        TargetProcess notes({ "--rect", "1000,500,400,300", "--class", "Notesapp", "--announce",
            "org.example.Notes", "--color", "#6a1b9a" });
        const quint64 notesWindow = notes.waitReady();
        QVERIFY(ledgerWindow && notesWindow);
        const std::unique_ptr<QWidget> own = plainWindow();
        showOnScreen(own.get(), QRect(710, 410, 200, 200));

        ScreenCaptureService service;
        const auto target = [&](QRect rect, std::optional<QString> preferred = std::nullopt) {
            return finished(service.scrollingTarget(ScrollTargetProcess::geometryOf(rect), preferred));
        };
        const auto underOwn = target(QRect(750, 450, 50, 50));
        QVERIFY(underOwn);
        QCOMPARE(underOwn->windowID, ledgerWindow);
        QCOMPARE(underOwn->bundleID, QString("org.example.Ledger"));
        QCOMPARE(underOwn->name, std::optional<QString>("Ledger Book"));
        const auto front = target(QRect(1020, 520, 60, 60));
        QVERIFY(front);
        QCOMPARE(front->windowID, notesWindow);
        QCOMPARE(front->bundleID, QString("org.example.Notes"));
        QCOMPARE(front->name, std::optional<QString>("Notesapp"));
        QCOMPARE(target(QRect(1020, 520, 60, 60), QString("org.example.Ledger"))->windowID, ledgerWindow);
        QCOMPARE(target(QRect(10, 900, 40, 40)), std::nullopt);
    }

    // The viewport is read at the outline's pixels with our own windows kept out of it; where none
    // of them is, none is hidden.
    void scrollingViewportLeavesOurWindowsOut()
    {
        TargetProcess below(
            { "--rect", "120,600,400,200", "--class", "Below", "--color", "#00897b", "--text", " " });
        QVERIFY(below.waitReady());
        const std::unique_ptr<QWidget> own = plainWindow();
        showOnScreen(own.get(), QRect(200, 650, 150, 100));
        bool ownHidden = false;
        QObject watcher;
        connect(own->windowHandle(), &QWindow::visibleChanged, &watcher,
            [&](bool visible) { ownHidden |= !visible; });

        ScreenCaptureService service;
        QImage expected(200, 140, QImage::Format_RGB32);
        expected.fill(QColor("#00897b"));
        QVERIFY(sameImage(
            finished(service.scrollingViewport(ScrollTargetProcess::geometryOf(QRect(180, 630, 200, 140)))),
            expected));
        QVERIFY(ownHidden);
        QTRY_VERIFY(own->isVisible());
        ownHidden = false;
        QVERIFY(sameImage(
            finished(service.scrollingViewport(ScrollTargetProcess::geometryOf(QRect(400, 610, 100, 50)))),
            expected.copy(0, 0, 100, 50)));
        QVERIFY(!ownHidden);
    }
};

QTEST_MAIN(TestRegionCapture)
#include "tst_RegionCapture.moc"
