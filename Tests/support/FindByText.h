#pragma once

#include <QLabel>
#include <QWidget>

#include <algorithm>

// The first widget of type T inside `root` whose text() is `text`, or none.
template <typename T> T *findByText(const QWidget *root, const QString &text)
{
    for (T *candidate : root->findChildren<T *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

// Whether a label inside `root` with that text is visible there.
inline bool showsText(const QWidget *root, const QString &text)
{
    const QList<QLabel *> labels = root->findChildren<QLabel *>();
    return std::any_of(labels.begin(), labels.end(),
        [&](const QLabel *label) { return label->text() == text && label->isVisibleTo(root); });
}
