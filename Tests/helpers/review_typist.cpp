// Resumes the stored draft of a draft folder into the real review window, types into its title,
// note, tags and text, says so on stdout with the temporary folder of its own that the killer
// removes ("typed <folder>"), then waits to be killed.
// Usage: review_typist <draft folder>

#include "ModelHarness.h"

#include "Services/WindowActivation.h"
#include "Windows/FramedTextEditor.h"
#include "Windows/ReviewEditorPane.h"
#include "Windows/ReviewInspector.h"
#include "Windows/ReviewView.h"
#include "Windows/ReviewWindowController.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    WindowActivation::installIfNeeded();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    ModelHarness h;
    AppSettings settings;
    settings.setupComplete = true;
    h.setSettings(settings);
    const auto standard = std::make_shared<InMemoryDefaultsStore>();
    ReviewWindowController *controller = nullptr;
    h.adjust = [&](ModelServices &services) {
        services.draftFolder = [folder] { return std::optional(folder); };
        services.makeReviewWindow = [&] {
            auto made = std::make_unique<ReviewWindowController>(standard);
            controller = made.get();
            return made;
        };
    };
    AppModel &model = h.make();
    if (!ModelHarness::finish(model.startDraftStoreIfNeeded())
        || !ModelHarness::finish(model.resumePendingDraft()) || !controller)
        return 1;
    ReviewView *view = controller->view();
    view->inspector()->titleField()->end(false);
    QTest::keyClicks(view->inspector()->titleField(), QStringLiteral(" typed"));
    QTest::keyClicks(view->inspector()->noteField(), QStringLiteral("a note"));
    QTest::keyClicks(view->inspector()->tagsField(), QStringLiteral("Crash, test"));
    QPlainTextEdit *editor = view->editorPane()->editor()->editor();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral(" typed"));
    std::printf("typed %s\n", qPrintable(h.dir.path()));
    std::fflush(stdout);
    return app.exec();
}
