#pragma once

#include <QObject>

#include <functional>

// Calls back when the widget it watches is hidden.
class HideWatch : public QObject
{
public:
    explicit HideWatch(std::function<void()> hidden);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_hidden;
};
