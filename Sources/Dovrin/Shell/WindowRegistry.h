#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

// The program's windows, one per id: "setup", "settings", "recents", "receipt", "recovery" and
// "audio-review". Each window's content comes from a factory its own layer registers; the registry
// gives it its title and size, shows it, and brings the one that exists forward instead of making a
// second. A closed window is destroyed, so the next open starts afresh.
class WindowRegistry : public QObject
{
    Q_OBJECT

public:
    // Makes the content of a window; the registry puts it into the window it owns.
    using Factory = std::function<QWidget *()>;

    struct Scene
    {
        QString id;
        QString title;
        // The size a new window opens at; absent: the window takes its content's size and keeps it.
        std::optional<QSize> defaultSize;
    };

    static inline const QString settingsId = QStringLiteral("settings");

    explicit WindowRegistry(QObject *parent = nullptr);
    ~WindowRegistry() override;

    // Every scene the program declares, in order.
    static const QList<Scene> &scenes();
    static std::optional<Scene> scene(const QString &id);
    // "preferences" and "settings" both name the settings window; every other value is an id.
    static QString windowId(const QString &request);

    void setFactory(const QString &id, Factory factory);
    bool hasFactory(const QString &id) const { return m_factories.contains(id); }

    // Shows the window (making it when there is none) and answers it; nothing for an id that names
    // no scene or whose content no layer has registered yet.
    QWidget *open(const QString &id);
    // The open window of `id`, if there is one.
    QWidget *window(const QString &id) const;

signals:
    void windowOpened(const QString &id, QWidget *window);

private:
    QHash<QString, Factory> m_factories;
    QHash<QString, QPointer<QWidget>> m_windows;
};
