#include "ModelHarness.h"
#include "Platform/FreedMemory.h"
#include "Shell/MenuBarExtra.h"
#include "Shell/WindowRegistry.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

class TestWindowRouting : public QObject
{
    Q_OBJECT

    std::unique_ptr<ModelHarness> m_harness;
    std::unique_ptr<WindowRegistry> m_windows;
    std::unique_ptr<MenuBarExtra> m_extra;
    ModelCommands m_commands;
    QHash<QString, int> m_made;
    // The Screen Recording row as each window saw it when it was made.
    QHash<QString, PermissionPresentation> m_screenSeen;

private slots:
    void requestsOpenOneWindowEach_data()
    {
        QTest::addColumn<bool>("setupComplete");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QSize>("size");
        QTest::newRow("settings") << true << QStringList { "settings" } << "settings" << QSize(700, 500);
        QTest::newRow("preferences, then settings: one window")
            << true << QStringList { "preferences", "settings" } << "settings" << QSize(700, 500);
        QTest::newRow("receipt twice: one window, sized to its content")
            << true << QStringList { "receipt", "receipt" } << "receipt" << QSize(300, 120);
        QTest::newRow("an unknown id is cleared") << true << QStringList { "nonsense" } << "" << QSize();
        // No request after start: the one the model made while it started.
        QTest::newRow("first launch: setup") << false << QStringList() << "setup" << QSize(720, 500);
        QTest::newRow("a draft left behind: recovery, once the store has started")
            << true << QStringList() << "recovery" << QSize(300, 120);
    }

    void requestsOpenOneWindowEach()
    {
        QFETCH(bool, setupComplete);
        QFETCH(QStringList, requests);
        QFETCH(QString, window);
        QFETCH(QSize, size);
        m_extra.reset();
        m_windows.reset();
        m_harness = std::make_unique<ModelHarness>();
        AppSettings settings;
        settings.setupComplete = setupComplete;
        m_harness->setSettings(settings);
        if (requests.isEmpty())
            m_harness->storeDraft();
        m_harness->make();
        m_windows = std::make_unique<WindowRegistry>();
        m_made.clear();
        for (const WindowRegistry::Scene &scene : WindowRegistry::scenes()) {
            m_windows->setFactory(scene.id, [this, id = scene.id] {
                ++m_made[id];
                m_screenSeen[id] = m_harness->model->permissions().screen().presentation;
                auto *content = new QLabel(id);
                content->setFixedSize(300, 120);
                return content;
            });
        }
        auto open = [this](const QString &id) { m_windows->open(WindowRegistry::windowId(id)); };
        m_extra = std::make_unique<MenuBarExtra>(*m_harness->model, m_commands,
            MenuBarExtra::Environment {
                open, [open] { open("settings"); }, [] {}, [] {}, [] { return true; } });

        const PermissionPresentation before = m_harness->model->permissions().screen().presentation;
        if (requests.isEmpty()) {
            // Asked for while the program starts, and left waiting until the tray first shows.
            QTRY_COMPARE(m_harness->model->requestedWindow(), std::optional(window));
            QVERIFY(m_made.isEmpty());
            // Access is withdrawn meanwhile: only the activation refresh finds out.
            m_harness->screenGranted = false;
        }
        m_extra->show();
        for (const QString &request : requests)
            m_harness->context().requestWindow(request);
        QTRY_VERIFY(!m_harness->model->requestedWindow());
        QCOMPARE(m_made.keys(), window.isEmpty() ? QStringList() : QStringList { window });
        if (window.isEmpty())
            return;
        QCOMPARE(m_made.value(window), 1);
        QCOMPARE(m_screenSeen.value(window) != before, requests.isEmpty());
        QWidget *opened = m_windows->window(window);
        QVERIFY(opened && opened->isVisible());
        QCOMPARE(opened->size(), size);
        // Centred where the user works, not in a corner.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(qAbs(opened->geometry().center().x() - screen.center().x()) <= 1
                && qAbs(opened->geometry().center().y() - screen.center().y()) <= 1,
            qPrintable(QStringLiteral("at %1,%2").arg(opened->x()).arg(opened->y())));
        // A window that takes its content's size keeps it.
        QCOMPARE(opened->minimumSize() == opened->maximumSize(), !WindowRegistry::scene(window)->defaultSize);
    }

    void closedWindowLetsGo_data()
    {
        QTest::addColumn<QString>("id");
        for (const WindowRegistry::Scene &scene : WindowRegistry::scenes())
            QTest::newRow(qPrintable(scene.id)) << scene.id;
    }

    // A closed window is destroyed with its content, the freed pages go back to the system, and
    // the next open makes the window afresh.
    void closedWindowLetsGo()
    {
        QFETCH(QString, id);
        WindowRegistry windows;
        int made = 0;
        windows.setFactory(id, [&made] {
            ++made;
            return new QLabel(QStringLiteral("content"));
        });
        QWidget *window = windows.open(id);
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QPointer<QWidget> content = window->findChild<QLabel *>();
        QVERIFY(content);
        const int returned = FreedMemory::returnedCount();

        window->close();
        QTRY_VERIFY(!content);
        QVERIFY(!windows.window(id));
        QTRY_VERIFY(FreedMemory::returnedCount() > returned);

        QWidget *again = windows.open(id);
        QVERIFY(again && again->isVisible());
        QCOMPARE(made, 2);
        QVERIFY(again->findChild<QLabel *>());
    }
};

QTEST_MAIN(TestWindowRouting)
#include "tst_WindowRouting.moc"
