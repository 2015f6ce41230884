#pragma once

#include "Settings/VemiPopUpItem.h"

#include <QComboBox>
#include <QList>

#include <optional>

// A settings pop-up menu. Only the user's choices are reported (userSelected); setItems() from the
// model rebuilds it silently, and never while its menu is open: the newest items wait until the menu
// closes, so a refresh cannot snatch the menu from under the pointer.
class VemiMenuPopUp : public QComboBox
{
    Q_OBJECT
public:
    VemiMenuPopUp(const QString &accessibilityName, const QString &accessibilityID,
        bool includeSeparatorAfterFirst, QWidget *parent = nullptr);

    // The selected entry is the first whose id equals `selection`; the first entry when there is none.
    void setItems(const QList<VemiPopUpItem> &items, const std::optional<QString> &selection);
    const QList<VemiPopUpItem> &items() const { return m_items; }
    std::optional<QString> selectedID() const;
    bool isMenuOpen() const { return m_menuOpen; }
    // How often the entries were rebuilt (an unchanged list is not rebuilt).
    int rebuildCount() const { return m_rebuilds; }

    void showPopup() override;
    void hidePopup() override;
    QSize sizeHint() const override;
    static constexpr int maximumHintWidth = 320;

protected:
    // A rounded, raised field with the chosen entry and a chevron, in the window's palette.
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

signals:
    void userSelected(const std::optional<QString> &id);

private:
    void rebuild();
    void applyPending();

    bool m_separatorAfterFirst;
    QList<VemiPopUpItem> m_items;
    std::optional<QString> m_selection;
    std::optional<std::pair<QList<VemiPopUpItem>, std::optional<QString>>> m_pending;
    bool m_menuOpen = false;
    bool m_keyboardFocus = false;
    int m_rebuilds = 0;
};
