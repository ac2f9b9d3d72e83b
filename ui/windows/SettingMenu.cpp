// SPDX-License-Identifier: Apache-2.0
#include "windows/SettingMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

QMenu* AddSettingMenu(QMenu* parent, const QString& caption, const QString& objectName,
                      std::initializer_list<SettingMenuItem> items, std::function<void(int value)> choose,
                      std::function<int()> current)
{
    QMenu* menu = parent->addMenu(caption);
    menu->setObjectName(objectName);
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    bool first = true;
    for (const SettingMenuItem& entry : items) {
        QAction* item = menu->addAction(entry.caption);
        item->setObjectName(objectName + QLatin1Char('_') + QLatin1String(entry.name));
        item->setData(entry.value);
        item->setCheckable(true);
        item->setChecked(std::exchange(first, false));
        group->addAction(item);
        QObject::connect(item, &QAction::triggered, menu, [menu, choose, current, value = entry.value] {
            choose(value);
            CheckSettingItem(menu, current());
        });
    }
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, current] { CheckSettingItem(menu, current()); });
    return menu;
}

void CheckSettingItem(QMenu* menu, int value)
{
    for (QAction* item : menu->actions())
        item->setChecked(item->data().toInt() == value);
}

QAction* AddViewToggle(QMenu* view, const char* objectName, const QString& caption, bool shown,
                       std::function<void(bool shown)> toggled)
{
    QAction* item = view->addAction(caption);
    item->setObjectName(QLatin1String(objectName));
    item->setCheckable(true);
    item->setChecked(shown);
    QObject::connect(item, &QAction::toggled, view, std::move(toggled));
    return item;
}
