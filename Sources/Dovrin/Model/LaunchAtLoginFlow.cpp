#include "Model/LaunchAtLoginFlow.h"

namespace {

// A change that ended in any way counts as done: only the order matters here.
Task<> settled(Task<> task)
{
    if (!task.isValid())
        co_return;
    try {
        co_await task;
    } catch (const std::exception &) { }
}

} // namespace

LaunchAtLoginFlow::LaunchAtLoginFlow(LaunchAtLoginService service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
{ }

Task<> LaunchAtLoginFlow::refresh()
{
    return completeRefresh(m_applyTask, m_generation);
}

Task<> LaunchAtLoginFlow::completeRefresh(Task<> previous, int generation)
{
    co_await settled(previous);
    const LaunchAtLoginStatus status = co_await m_service.status();
    if (generation != m_generation)
        co_return;
    const bool same = status == m_presentation.status;
    setPresentation(
        LaunchAtLoginPresentation::resolve(status, same ? m_presentation.errorMessage : std::nullopt));
}

Task<> LaunchAtLoginFlow::applyLaunchAtLogin(bool enabled)
{
    if (m_presentation.status == LaunchAtLoginStatus::pending
        || m_presentation.status == LaunchAtLoginStatus::notFound)
        return settled(Task<>());
    const int generation = ++m_generation;
    setPresentation(LaunchAtLoginPresentation::resolve(
        enabled ? LaunchAtLoginStatus::enabled : LaunchAtLoginStatus::notRegistered, std::nullopt));
    m_applyTask = completeApply(m_applyTask, enabled, generation);
    return m_applyTask;
}

Task<> LaunchAtLoginFlow::completeApply(Task<> previous, bool enabled, int generation)
{
    co_await settled(previous);
    if (generation != m_generation)
        co_return;
    LaunchAtLoginStatus status = LaunchAtLoginStatus::pending;
    std::optional<QString> error;
    try {
        status = co_await m_service.setEnabled(enabled);
    } catch (const std::exception &) {
        error = LaunchAtLoginPresentation::updateFailedMessage();
    }
    if (error)
        status = co_await m_service.status();
    if (generation == m_generation)
        setPresentation(LaunchAtLoginPresentation::resolve(status, error));
}

void LaunchAtLoginFlow::setPresentation(const LaunchAtLoginPresentation &presentation)
{
    if (m_presentation == presentation)
        return;
    m_presentation = presentation;
    emit presentationChanged();
}
