// Region capture on a real X server: stills, the selection overlay, the crop, its text, and the
// windows under a scrolling outline.

#include "Capture/OCRService.h"
#include "Capture/ScreenCaptureService.h"
#include "Capture/SelectionOverlay.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include <xcb/xcb.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QStringList boardLines { "Quarterly budget review", "Invoice number 4821 approved",
    "Shipping address updated", "Meeting notes from Tuesday" };

// A window of ours with known colours and text.
class TextBoard : public QWidget
{
public:
    TextBoard()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    { }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0xf4, 0xf1, 0xe8));
        painter.fillRect(QRect(0, 0, width(), 24), QColor(0x1d, 0x4e, 0x89));
        painter.fillRect(QRect(width() - 40, height() - 40, 30, 30), QColor(0xd6, 0x28, 0x28));
        QFont font("DejaVu Sans");
        font.setPixelSize(15);
        painter.setFont(font);
        painter.setPen(QColor(0x20, 0x20, 0x20));
        for (int i = 0; i < boardLines.size(); ++i)
            painter.drawText(24, 60 + i * 28, boardLines[i]);
    }
};

// True when no client holds the keyboard: a grab of our own succeeds (and is let go at once).
bool keyboardIsFree()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(c,
        xcb_grab_keyboard(c, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC), nullptr);
    const bool free = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    xcb_flush(c);
    xcb_disconnect(c);
    return free;
}

int visibleOverlayWindows()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("SelectionOverlayWindow") && widget->isVisible())
            ++count;
    }
    return count;
}

bool sameImage(const QImage &a, const QImage &b)
{
    return a.size() == b.size()
        && a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

// A window of another process; closed with its stdin.
class TargetProcess
{
public:
    explicit TargetProcess(QStringList arguments)
    {
        m_process.setProgram(TestSupport::binaryDir() + "/region_target");
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~TargetProcess()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    void write(const QByteArray &line) { m_process.write(line); }
    quint64 waitReady()
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < 10000)
            m_process.waitForReadyRead(100);
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        return line.startsWith("ready ") ? line.mid(6).toULongLong() : 0;
    }

private:
    QProcess m_process;
};

} // namespace

class TestRegionCapture : public QObject
{
    Q_OBJECT

    std::unique_ptr<TextBoard> m_board;
    QRect m_boardFrame { 120, 140, 520, 220 };

    // Runs snapshots and select the way the capture flow does, until the overlay is up.
    Task<CapturedRegion> startSelection(SelectionOverlayCoordinator &overlay, ScreenCaptureService &service,
        QList<DisplaySnapshot> *stills = nullptr)
    {
        overlay.prepareForSnapshotCapture();
        Task<QList<DisplaySnapshot>> grabbing
            = service.snapshots([&overlay] { return overlay.screenChangeGeneration(); },
                [&overlay](quint64 generation) { overlay.setAcceptedSnapshotGeneration(generation); });
        [&] { QTRY_VERIFY(grabbing.isFinished()); }();
        const QList<DisplaySnapshot> snapshots = grabbing.result();
        if (stills)
            *stills = snapshots;
        return overlay.select(snapshots);
    }

    static ScreenCaptureError::Code errorOf(const Task<CapturedRegion> &task)
    {
        try {
            task.result();
        } catch (const ScreenCaptureError &error) {
            return error.code();
        }
        return ScreenCaptureError::Code(-1);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (run through scripts/test.sh)");
        m_board = std::make_unique<TextBoard>();
        m_board->setGeometry(m_boardFrame);
        m_board->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_board.get()));
        QTest::qWait(200);
    }

    void cleanupTestCase() { m_board.reset(); }

    void cleanup()
    {
        QTRY_COMPARE(visibleOverlayWindows(), 0);
        QTRY_VERIFY(keyboardIsFree());
    }

    void snapshotsArePixelExact()
    {
        ScreenCaptureService service;
        std::optional<quint64> accepted;
        Task<QList<DisplaySnapshot>> task = service.snapshots(
            [] { return quint64(7); }, [&](quint64 generation) { accepted = generation; });
        QTRY_VERIFY(task.isFinished());
        const QList<DisplaySnapshot> snapshots = task.result();
        QCOMPARE(snapshots.size(), QGuiApplication::screens().size());
        QCOMPARE(accepted, std::optional<quint64>(7));
        const DisplaySnapshot &still = snapshots.front();
        QCOMPARE(still.screenFrame, QGuiApplication::primaryScreen()->geometry());
        QCOMPARE(still.image.size(),
            still.screenFrame.size() * QGuiApplication::primaryScreen()->devicePixelRatio());
        const QImage onScreen = still.image.copy(m_boardFrame);
        QVERIFY(sameImage(onScreen, m_board->grab().toImage()));
        QCOMPARE(QColor(still.image.pixel(m_boardFrame.topLeft() + QPoint(5, 5))), QColor(0x1d, 0x4e, 0x89));
    }

    // Board on screen -> stills -> a drag on the overlay -> the crop -> its words.
    void dragSelectsExactPixelsAndTheirText()
    {
        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::region);
        QList<DisplaySnapshot> stills;
        Task<CapturedRegion> selection = startSelection(overlay, service, &stills);
        QTRY_COMPARE(visibleOverlayWindows(), int(stills.size()));
        QCOMPARE(
            overlay.acceptedSnapshotGeneration(), std::optional<quint64>(overlay.screenChangeGeneration()));
        QVERIFY(!keyboardIsFree());

        QWidget *window = overlay.windows().front();
        const QRect wanted = m_boardFrame.adjusted(10, 30, -60, -10);
        const QPoint from = wanted.topLeft() - window->geometry().topLeft();
        const QPoint to = wanted.bottomRight() + QPoint(1, 1) - window->geometry().topLeft();
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        QTest::mouseMove(window, from + QPoint(40, 20));
        QTest::mouseMove(window, to);
        QTest::mouseRelease(window, Qt::LeftButton, {}, to);
        QTRY_VERIFY(selection.isFinished());
        const CapturedRegion region = selection.result();

        QCOMPARE(region.displayID, stills.front().displayID);
        QVERIFY(!region.scrollingGeometry);
        QVERIFY(qAbs(region.observedAt.secsTo(QDateTime::currentDateTime())) < 60);
        QCOMPARE(region.image.size(), wanted.size());
        QVERIFY(sameImage(region.image, stills.front().image.copy(wanted)));
        // The same pixels as the window itself drew.
        QVERIFY(sameImage(
            region.image, m_board->grab().toImage().copy(wanted.translated(-m_boardFrame.topLeft()))));
        QTRY_COMPARE(visibleOverlayWindows(), 0);

        const QList<CaptureTextObservation> lines = OCRService::recognizeLines(region.image);
        QStringList read;
        for (const CaptureTextObservation &line : lines)
            read += line.text.split(' ');
        int found = 0;
        int total = 0;
        for (const QString &line : boardLines) {
            for (const QString &word : line.split(' ')) {
                ++total;
                found += read.contains(word) ? 1 : 0;
            }
        }
        QVERIFY2(found * 10 >= total * 9, qPrintable(read.join(' ')));
    }

    // Ordinary widgets at their usual small sizes, read from a real grab of the screen.
    void readsAWidgetWindow()
    {
        const QStringList folders { "Inbox", "Drafts", "Sent", "Archive", "Spam", "Trash" };
        const QStringList subjects { "Budget for the spring campaign", "Your order has shipped",
            "Lunch next Thursday", "Invoice 3391 from Northwind", "Password reset requested",
            "Weekly team update" };
        QWidget window(nullptr, Qt::FramelessWindowHint);
        auto *list = new QListWidget;
        list->addItems(folders);
        list->setFixedWidth(140);
        auto *tree = new QTreeWidget;
        tree->setHeaderLabels({ "Subject", "From" });
        for (qsizetype i = 0; i < subjects.size(); ++i)
            tree->addTopLevelItem(new QTreeWidgetItem({ subjects[i], i % 2 ? "Maria" : "Jonas" }));
        tree->setColumnWidth(0, 300);
        auto *search = new QLineEdit("quarterly report");
        auto *send = new QPushButton("Send");
        auto *side = new QHBoxLayout;
        side->addWidget(list);
        side->addWidget(tree);
        auto *form = new QFormLayout(&window);
        form->addRow(new QLabel("Search"), search);
        form->addRow(side);
        form->addRow(send);
        QFont font("DejaVu Sans");
        font.setPixelSize(12);
        window.setFont(font);
        window.setGeometry(700, 150, 560, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(200);

        ScreenCaptureService service;
        Task<QList<DisplaySnapshot>> task = service.snapshots({}, {});
        QTRY_VERIFY(task.isFinished());
        const QImage grab = task.result().front().image.copy(window.geometry());
        const OCRResult result = OCRService::recognize(grab);
        const QStringList read = result.text.simplified().split(' ');
        int found = 0;
        int total = 0;
        for (const QString &line :
            folders + subjects + QStringList { "Subject", "From", "Search", "quarterly report", "Send" }) {
            for (const QString &word : line.split(' ')) {
                ++total;
                found += read.contains(word) ? 1 : 0;
            }
        }
        QVERIFY2(found * 10 >= total * 9,
            qPrintable(QStringLiteral("%1 of %2: %3").arg(found).arg(total).arg(result.text)));
    }

    void scrollingModeReportsTheOutline()
    {
        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::scrolling);
        QList<DisplaySnapshot> stills;
        Task<CapturedRegion> selection = startSelection(overlay, service, &stills);
        QTRY_COMPARE(visibleOverlayWindows(), int(stills.size()));
        QWidget *window = overlay.windows().front();
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(300, 200));
        QTest::mouseMove(window, QPoint(200, 150));
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(200, 150));
        QTRY_VERIFY(selection.isFinished());
        const CapturedRegion region = selection.result();
        QVERIFY(region.scrollingGeometry);
        const ScrollingRegionGeometry geometry = *region.scrollingGeometry;
        QCOMPARE(geometry.displayID, stills.front().displayID);
        QCOMPARE(geometry.displayFrame, stills.front().screenFrame);
        QCOMPARE(
            geometry.globalRect, QRectF(200, 150, 100, 50).translated(stills.front().screenFrame.topLeft()));
        QCOMPARE(geometry.pixelRect, QRect(200, 150, 100, 50));
        QCOMPARE(geometry.displayPixelSize, stills.front().image.size());
        QCOMPARE(region.image.size(), QSize(100, 50));
    }

    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("expected");
        QTest::newRow("Escape") << "escape" << int(ScreenCaptureError::canceled);
        QTest::newRow("click without a drag") << "click" << int(ScreenCaptureError::invalidSelection);
        QTest::newRow("5 x 5 drag") << "small" << int(ScreenCaptureError::invalidSelection);
        QTest::newRow("10 x 9 drag") << "thin" << int(ScreenCaptureError::invalidSelection);
        QTest::newRow("time-out") << "timeout" << int(ScreenCaptureError::selectionTimedOut);
        QTest::newRow("cancel twice") << "cancel" << int(ScreenCaptureError::canceled);
        QTest::newRow("display change") << "display" << int(ScreenCaptureError::displaysChanged);
    }

    void endings()
    {
        QFETCH(QString, how);
        QFETCH(int, expected);
        ScreenCaptureService service;
        DisplayChangeCenter center;
        const auto timeout = how == "timeout" ? TaskClock::Duration(300ms) : TaskClock::Duration(120s);
        SelectionOverlayCoordinator overlay(&center, timeout, CaptureSelectionMode::region);
        QElapsedTimer elapsed;
        Task<CapturedRegion> selection = startSelection(overlay, service);
        elapsed.start();
        QTRY_VERIFY(visibleOverlayWindows() > 0);
        QWidget *window = overlay.windows().front();
        if (how == "escape") {
            QTest::keyClick(window, Qt::Key_Escape);
        } else if (how == "click") {
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(400, 300));
        } else if (how == "small" || how == "thin") {
            const QPoint end = how == "small" ? QPoint(405, 305) : QPoint(410, 309);
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
        }
        QTRY_VERIFY(selection.isFinished());
        QCOMPARE(int(errorOf(selection)), expected);
        if (how == "timeout")
            QVERIFY(elapsed.elapsed() >= 250);
        // Once ended, the overlay stays ended.
        overlay.cancel();
        QCOMPARE(visibleOverlayWindows(), 0);
        QVERIFY(overlay.windows().isEmpty());
    }

    void keyboardHeldElsewhereMakesTheOverlayUnavailable()
    {
        xcb_connection_t *other = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(other));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_grab_keyboard_reply_t *grab = xcb_grab_keyboard_reply(other,
            xcb_grab_keyboard(other, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        QVERIFY(grab && grab->status == XCB_GRAB_STATUS_SUCCESS);
        std::free(grab);

        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::region);
        Task<CapturedRegion> selection = startSelection(overlay, service);
        QTRY_VERIFY(selection.isFinished());
        xcb_ungrab_keyboard(other, XCB_CURRENT_TIME);
        xcb_flush(other);
        xcb_disconnect(other);
        QCOMPARE(errorOf(selection), ScreenCaptureError::overlayUnavailable);
        QCOMPARE(visibleOverlayWindows(), 0);
    }

    // Another application taking the focus ends the selection as canceled.
    void losingActivationCancels()
    {
        TargetProcess other({ "--rect", "1500,50,200,100", "--class", "Focusthief", "--take-focus" });
        QVERIFY(other.waitReady());
        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::region);
        Task<CapturedRegion> selection = startSelection(overlay, service);
        QTRY_VERIFY(visibleOverlayWindows() > 0);
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationActive);
        QVERIFY(!selection.isFinished());
        other.write("focus\n");
        QTRY_VERIFY(selection.isFinished());
        QCOMPARE(errorOf(selection), ScreenCaptureError::canceled);
    }

    void refocusTakesTheKeyboardBack()
    {
        ScreenCaptureService service;
        SelectionOverlayCoordinator overlay(
            DisplayChangeCenter::defaultCenter(), 120s, CaptureSelectionMode::region);
        overlay.refocus(); // nothing to focus yet
        Task<CapturedRegion> selection = startSelection(overlay, service);
        QTRY_VERIFY(visibleOverlayWindows() > 0);
        QWindow *handle = overlay.windows().front()->windowHandle();
        QVERIFY(handle->setKeyboardGrabEnabled(false));
        QTRY_VERIFY(keyboardIsFree());
        overlay.refocus();
        QVERIFY(!keyboardIsFree());
        overlay.cancel();
        QTRY_VERIFY(selection.isFinished());
        QCOMPARE(errorOf(selection), ScreenCaptureError::canceled);
    }

    // The window of another application under an outline, as its desktop file names it.
    void scrollingTargetFindsTheFrontWindowOfAnotherApplication()
    {
        QTemporaryDir data;
        QVERIFY(QDir().mkpath(data.path() + "/applications"));
        QFile entry(data.path() + "/applications/org.example.Ledger.desktop");
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write(
            "[Desktop Entry]\nType=Application\nName=Ledger Book\nExec=ledger\nStartupWMClass=Ledgerbook\n");
        entry.close();
        const QByteArray previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", previousData); });

        // Below: the ledger; above it, partly overlapping, a window that announces its own ID.
        TargetProcess ledger({ "--rect", "700,400,400,300", "--class", "Ledgerbook", "--color", "#2e7d32" });
        const quint64 ledgerWindow = ledger.waitReady();
        TargetProcess notes({ "--rect", "1000,500,400,300", "--class", "Notesapp", "--announce",
            "org.example.Notes", "--color", "#6a1b9a" });
        const quint64 notesWindow = notes.waitReady();
        QVERIFY(ledgerWindow && notesWindow);

        ScreenCaptureService service;
        const QRect display = QGuiApplication::primaryScreen()->geometry();
        const auto outline = [&](QRect rect) {
            ScrollingRegionGeometry geometry;
            geometry.displayID = ScreenCaptureService::displayID(QGuiApplication::primaryScreen());
            geometry.displayFrame = display;
            geometry.globalRect = QRectF(rect);
            geometry.pixelRect = rect.translated(-display.topLeft());
            geometry.displayPixelSize = display.size();
            return geometry;
        };
        const auto target = [&](QRect rect, std::optional<QString> preferred) {
            Task<std::optional<ScrollingCaptureTarget>> task
                = service.scrollingTarget(outline(rect), preferred);
            [&] { QTRY_VERIFY(task.isFinished()); }();
            return task.result();
        };

        const auto onlyLedger = target(QRect(720, 420, 100, 100), std::nullopt);
        QVERIFY(onlyLedger);
        QCOMPARE(onlyLedger->windowID, ledgerWindow);
        QCOMPARE(onlyLedger->bundleID, QString("org.example.Ledger"));
        QCOMPARE(onlyLedger->name, std::optional<QString>("Ledger Book"));

        const QRect overlap(1020, 520, 60, 60);
        const auto front = target(overlap, std::nullopt);
        QVERIFY(front);
        QCOMPARE(front->windowID, notesWindow);
        QCOMPARE(front->bundleID, QString("org.example.Notes"));
        QCOMPARE(front->name, std::optional<QString>("Notesapp"));

        const auto preferred = target(overlap, QString("org.example.Ledger"));
        QVERIFY(preferred);
        QCOMPARE(preferred->windowID, ledgerWindow);
        // A preferred application without a window there does not hide the others.
        const auto absent = target(overlap, QString("org.example.Absent"));
        QVERIFY(absent);
        QCOMPARE(absent->windowID, notesWindow);

        // Our own window on top of the ledger is never the target.
        TextBoard own;
        own.setGeometry(710, 410, 200, 200);
        own.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own));
        const auto underOwn = target(QRect(750, 450, 50, 50), std::nullopt);
        QVERIFY(underOwn);
        QCOMPARE(underOwn->windowID, ledgerWindow);

        QCOMPARE(target(QRect(10, 900, 40, 40), std::nullopt), std::nullopt);
    }

    // The viewport is read at the outline's pixels with our own windows kept out of it.
    void scrollingViewportLeavesOurWindowsOut()
    {
        TargetProcess below(
            { "--rect", "120,600,400,200", "--class", "Below", "--color", "#00897b", "--text", " " });
        QVERIFY(below.waitReady());
        TextBoard own;
        own.setGeometry(200, 650, 150, 100);
        own.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own));
        QTest::qWait(100);

        ScreenCaptureService service;
        ScrollingRegionGeometry geometry;
        QScreen *screen = QGuiApplication::primaryScreen();
        geometry.displayID = ScreenCaptureService::displayID(screen);
        geometry.displayFrame = screen->geometry();
        geometry.globalRect = QRectF(180, 630, 200, 140);
        geometry.pixelRect = QRect(180, 630, 200, 140);
        geometry.displayPixelSize = screen->geometry().size();
        Task<QImage> task = service.scrollingViewport(geometry);
        QTRY_VERIFY(task.isFinished());
        const QImage viewport = task.result();
        QCOMPARE(viewport.size(), QSize(200, 140));
        QImage expected(viewport.size(), QImage::Format_RGB32);
        expected.fill(QColor("#00897b"));
        QVERIFY(sameImage(viewport, expected));
        QTRY_VERIFY(own.isVisible());

        // Where none of our windows is, nothing is hidden.
        geometry.globalRect = QRectF(400, 610, 100, 50);
        geometry.pixelRect = QRect(400, 610, 100, 50);
        bool ownHidden = false;
        QObject watcher;
        connect(own.windowHandle(), &QWindow::visibleChanged, &watcher,
            [&](bool visible) { ownHidden |= !visible; });
        Task<QImage> beside = service.scrollingViewport(geometry);
        QTRY_VERIFY(beside.isFinished());
        QCOMPARE(beside.result().size(), QSize(100, 50));
        QVERIFY(sameImage(beside.result(), expected.copy(0, 0, 100, 50)));
        QVERIFY(!ownHidden);
    }
};

QTEST_MAIN(TestRegionCapture)
#include "tst_RegionCapture.moc"
