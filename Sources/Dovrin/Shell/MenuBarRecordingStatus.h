#pragma once

#include "Rules/MenuBarStatusPresentation.h"

#include <QIcon>
#include <QWidget>

#include <optional>

// The status label: the character's one-colour icon, a dot while an audio session is live and, when
// the presence asks for it, the elapsed time, which keeps one width from 0:00 to 59:59 and grows once
// at one hour. As a widget it heads the window shown where there is no tray.
//
// A tray icon is square and small, so the tray gets the icon with its dot only; the time goes into
// its tooltip and into the menu's "Stop Recording (m:ss)".
class MenuBarRecordingStatus : public QWidget
{
    Q_OBJECT

public:
    explicit MenuBarRecordingStatus(QWidget *parent = nullptr);

    const MenuBarStatusPresentation &presentation() const { return m_presentation; }
    void setPresentation(const MenuBarStatusPresentation &presentation);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The tray's icon at the usual tray sizes, drawn in `ink`.
    static QIcon trayIcon(bool isActive, const QColor &ink);
    static void paintTrayIcon(QPainter &painter, const QRectF &square, bool isActive, const QColor &ink);
    // The tray's tooltip, which also names it to assistive technology: the label, and the value in
    // brackets while there is one ("Recording audio (1:02:03)").
    static QString toolTip(const MenuBarStatusPresentation &presentation);
    // The text the elapsed label's width is kept for: "00:00:00" from one hour on, else "00:00".
    static QString widthTemplate(const QString &elapsedLabel);
    // The icon's colour on the panel: what the tray asks for; else, where the colour of the panel under
    // the icon is known, dark on a light panel and light on a dark one; else light on desktops whose
    // panel is dark whatever the theme; else the desktop theme's text colour.
    static QColor panelInk(const std::optional<QColor> &trayForeground, const QString &currentDesktop,
        const QPalette &palette, const std::optional<QColor> &panelBackground = std::nullopt);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QFont labelFont() const;
    int iconWidth() const;

    MenuBarStatusPresentation m_presentation;
};
