#pragma once

#include <QIcon>
#include <QString>

#include <optional>

// One entry of a settings pop-up. No id stands for the automatic choice (the default microphone,
// the whole computer as the Others source). Entries are equal when id and title are; the icon is
// not compared.
struct VemiPopUpItem
{
    std::optional<QString> id;
    QString title;
    QIcon image;

    bool operator==(const VemiPopUpItem &other) const { return id == other.id && title == other.title; }
};
