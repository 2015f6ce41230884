#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// Environment variables changed for a scope. Each one goes back to exactly what it was when the
// scope ends: a variable that was unset is unset again, never left set to an empty value.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    ScopedEnvironment &set(const char *name, const QByteArray &value);
    ScopedEnvironment &unset(const char *name);
    // Puts every variable back now; changes made after this are undone when the scope ends.
    void restore();

private:
    void remember(const char *name);

    struct Saved
    {
        QByteArray name;
        std::optional<QByteArray> value;
    };
    std::vector<Saved> m_saved;
};
