#pragma once

#include "Rules/PermissionPresentation.h"

#include <QLabel>

// A permission's status as a small tinted capsule: teal when allowed, grey when unverified, coral
// otherwise.
class PermissionStatusCapsule : public QLabel
{
    Q_OBJECT
public:
    PermissionStatusCapsule(const QString &accessibilityID, QWidget *parent = nullptr);

    // `kindTitle` names the permission for the spoken label ("Screen Recording status Allowed").
    void setStatus(PermissionStatus status, const QString &title, const QString &kindTitle);
    PermissionStatus status() const { return m_status; }
    // The capsule's text colour in the widget's palette, legible on its tint.
    QColor textColor() const;
    // The tint behind the text.
    QColor fillColor() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyTextColor();

    PermissionStatus m_status = PermissionStatus::notRequested;
};
