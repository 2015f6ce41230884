#include "ScopedEnvironment.h"

#include <algorithm>

ScopedEnvironment::~ScopedEnvironment()
{
    restore();
}

ScopedEnvironment &ScopedEnvironment::set(const char *name, const QByteArray &value)
{
    remember(name);
    qputenv(name, value);
    return *this;
}

ScopedEnvironment &ScopedEnvironment::unset(const char *name)
{
    remember(name);
    qunsetenv(name);
    return *this;
}

void ScopedEnvironment::restore()
{
    for (auto saved = m_saved.crbegin(); saved != m_saved.crend(); ++saved) {
        if (saved->value)
            qputenv(saved->name.constData(), *saved->value);
        else
            qunsetenv(saved->name.constData());
    }
    m_saved.clear();
}

void ScopedEnvironment::remember(const char *name)
{
    // Only the value from before the first change is the one to go back to.
    if (std::any_of(m_saved.cbegin(), m_saved.cend(), [&](const Saved &saved) { return saved.name == name; }))
        return;
    m_saved.push_back(
        { QByteArray(name), qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt });
}
