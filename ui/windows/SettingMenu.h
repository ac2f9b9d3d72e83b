// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <functional>
#include <initializer_list>

class QAction;
class QMenu;

/// One choice of a setting menu: its caption, the suffix of its object name,
/// and the setting's value as an int.
struct SettingMenuItem {
    QString caption;
    const char* name;
    int value;
};

/// Adds to parent a submenu of radio items for a per-window setting (the
/// character set, the rules), the first one checked, named objectName and
/// objectName + "_" + each item's name. Choosing an item calls choose with its
/// value; the menu asks current() for the value to check as it opens.
QMenu* AddSettingMenu(QMenu* parent, const QString& caption, const QString& objectName,
                      std::initializer_list<SettingMenuItem> items, std::function<void(int value)> choose,
                      std::function<int()> current);

/// Adds to view a checkable item named objectName, checked when shown;
/// toggling it calls toggled.
QAction* AddViewToggle(QMenu* view, const char* objectName, const QString& caption, bool shown,
                       std::function<void(bool shown)> toggled);

/// Checks the item of menu whose value is value.
void CheckSettingItem(QMenu* menu, int value);
