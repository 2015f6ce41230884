#pragma once

#include <QRect>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

// The small floating panel of a running scrolling capture: Done ends it with what was captured so
// far, Cancel throws it away. It never takes the keyboard focus from the window being scrolled and
// stays outside the captured rectangle.
class ScrollingControlPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ScrollingControlPanel(QWidget *parent = nullptr);

    // Moves the panel next to `region` (global coordinates) on the region's screen: below it,
    // else above, else beside it; inside the screen's corner only when nothing else fits.
    void placeOutside(const QRect &region);

    // A line under the buttons telling why the capture stopped scrolling; hidden until set.
    void showMessage(const QString &text);
    void clearMessage();
    QLabel *message() const { return m_message; }

    QPushButton *doneButton() const { return m_done; }
    QPushButton *cancelButton() const { return m_cancel; }

    // Where the panel goes for `region` on a screen of `screen` (both global), given its size.
    static QRect placement(const QRect &region, const QRect &screen, const QSize &size);

signals:
    void doneRequested();
    void cancelRequested();

private:
    QPushButton *m_done;
    QPushButton *m_cancel;
    QLabel *m_message;
    std::optional<QRect> m_region;
};
