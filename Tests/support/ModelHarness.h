#pragma once

#include "Model/AppModel.h"

#include <QTemporaryDir>
#include <QTest>

// The real application model over fake services: settings in memory (able to refuse writes), a real
// draft store in a temporary folder, a hot key, launch at login, review window and relaunch that
// record what is asked of them.
struct ModelHarness
{
    // A settings suite whose writes can fail the way a full disk makes them fail.
    class Defaults final : public DefaultsStore
    {
    public:
        QVariant value(const QString &key) const override { return values.value(key); }
        void setValue(const QString &key, const QVariant &value) override;
        void remove(const QString &key) override { setValue(key, QVariant()); }
        std::optional<QString> writeFailure() const override { return failure; }

        QHash<QString, QVariant> values;
        std::optional<QString> refuseWrites;
        std::optional<QString> failure;
        int writes = 0;
    };

    QTemporaryDir dir;
    std::shared_ptr<Defaults> defaults = std::make_shared<Defaults>();
    QStringList arguments;
    bool screenGranted = true;
    HotKeyRegistrationState hotKeyAnswer = HotKeyRegistrationState::registered;
    QList<CaptureShortcut> registered;
    int activationInstalls = 0;
    bool relaunchPending = true;
    int relaunchCommits = 0;
    int relaunchCancels = 0;
    // Review window.
    int presents = 0;
    int orderOuts = 0;
    ReviewWindowPresenter::CloseVeto closeVeto;
    // Launch at login: every call waits for the test to answer it.
    QList<TaskPromise<LaunchAtLoginStatus>> statusCalls;
    QList<std::pair<bool, TaskPromise<LaunchAtLoginStatus>>> setCalls;
    // Feedback.
    bool mailLinkBuilds = true;
    bool mailOpens = true;
    QStringList alerts;

    std::unique_ptr<AppModel> model;

    ModelHarness();
    AppModel &make();
    ModelContext &context() { return model->flowContext(); }
    QString draftFolder() const { return dir.filePath(QStringLiteral("data")); }
    void setSettings(const AppSettings &settings);

    // A sealed draft in the draft folder, under the folder's real key.
    CaptureDraft storeDraft();
    // A folder where the draft file goes: saving and deleting the draft both fail.
    void breakDraftFile();
    // Runs the event loop until the task is done.
    template <typename T> static bool finish(const Task<T> &task);
};

template <typename T> bool ModelHarness::finish(const Task<T> &task)
{
    return QTest::qWaitFor([&] { return task.isFinished(); }, 10000);
}
