// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QWidget>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

/// 帮助 → 使用说明: the user guide, a page bundled with the program, beside
/// the list of its sections (its h2 headings, each with its h3 headings
/// beneath). Choosing a section scrolls the page to its heading.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    /// A window of its own that goes with owner: it closes when owner does.
    explicit HelpWindow(QWidget* owner);

    [[nodiscard]] QTextBrowser* page() const { return m_page; }
    [[nodiscard]] QTreeWidget* contents() const { return m_contents; }
    /// Scrolls the page so that the heading of item's section is at its top
    /// (as near as the page's end allows).
    void showSection(const QTreeWidgetItem* item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void listSections();

    QTextBrowser* m_page;
    QTreeWidget* m_contents;
};

/// Shows owner's help window in front, made on first use: one per owner.
HelpWindow* ShowUserGuide(QWidget* owner);
