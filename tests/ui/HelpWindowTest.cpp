// SPDX-License-Identifier: Apache-2.0
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTreeWidget>

#include "state/RecentFiles.h"
#include "windows/HelpWindow.h"
#include "windows/Main.h"
#include "ViewerHarness.h"

class HelpWindowTest : public QObject {
    Q_OBJECT

    std::optional<viewertest::Viewer> m_v;

    [[nodiscard]] QList<HelpWindow*> helpWindows() const { return m_v->main.findChildren<HelpWindow*>(); }

    // The guide's h2 and h3 headings in order, read from its HTML, an h3 as
    // "  " plus its title.
    static QStringList headingsOfTheGuide()
    {
        QFile guide(QStringLiteral(":/help/guide.html"));
        if (!guide.open(QIODevice::ReadOnly))
            return {};
        const QString html = QString::fromUtf8(guide.readAll());
        static const QRegularExpression heading(QStringLiteral("<h([23])>(.*?)</h\\1>"),
                                                QRegularExpression::DotMatchesEverythingOption);
        QStringList headings;
        for (const QRegularExpressionMatch& match : heading.globalMatch(html)) {
            const QString title = QTextDocumentFragment::fromHtml(match.captured(2)).toPlainText().trimmed();
            headings.append(match.captured(1) == QLatin1String("3") ? QStringLiteral("  ") + title : title);
        }
        return headings;
    }

    static QTreeWidgetItem* section(QTreeWidget* contents, const QString& title)
    {
        const QList<QTreeWidgetItem*> found = contents->findItems(title, Qt::MatchExactly | Qt::MatchRecursive);
        return found.size() == 1 ? found.front() : nullptr;
    }

private slots:
    void init()
    {
        m_v.emplace();
        m_v->main.show();
        QVERIFY(QTest::qWaitForWindowActive(&m_v->main));
    }
    void cleanup() { m_v.reset(); }

    // F1 makes the window once; closed and asked for again, the same one comes to the front.
    void f1ShowsTheOneHelpWindowInFront()
    {
        QVERIFY(helpWindows().isEmpty());
        QTest::keySequence(&m_v->main, QKeySequence(Qt::Key_F1));
        QCOMPARE(helpWindows().size(), 1);
        HelpWindow* help = helpWindows().front();
        QVERIFY(help->isWindow());
        QTRY_VERIFY(help->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), help);

        help->close();
        QVERIFY(!help->isVisible());
        m_v->main.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &m_v->main);
        QTest::keySequence(&m_v->main, QKeySequence(Qt::Key_F1));
        QCOMPARE(helpWindows(), QList<HelpWindow*>{help});
        QTRY_VERIFY(help->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), help);

        // It goes with the main window, so the program still ends when that closes.
        m_v->main.close();
        QVERIFY(!help->isVisible());
    }

    void contentsListTheGuidesSections()
    {
        const QStringList expected = headingsOfTheGuide();
        QVERIFY(expected.size() > 10);
        QTreeWidget* contents = ShowUserGuide(&m_v->main)->contents();
        QStringList listed;
        for (int i = 0; i < contents->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = contents->topLevelItem(i);
            listed.append(item->text(0));
            for (int k = 0; k < item->childCount(); ++k)
                listed.append(QStringLiteral("  ") + item->child(k)->text(0));
        }
        QCOMPARE(listed, expected);
    }

    // A click on a section, from the start of the page and back up from further down.
    void clickingASectionScrollsThePageToItsHeading()
    {
        HelpWindow* help = ShowUserGuide(&m_v->main);
        QVERIFY(QTest::qWaitForWindowExposed(help));
        QTextBrowser* page = help->page();
        QTreeWidget* contents = help->contents();
        QCOMPARE(page->verticalScrollBar()->value(), 0);
        for (const QString& title : {QStringLiteral("字符集"), QStringLiteral("在所有窗口中查找"), QStringLiteral("概述")}) {
            QTreeWidgetItem* item = section(contents, title);
            QVERIFY2(item != nullptr, qPrintable(title));
            contents->scrollToItem(item);
            QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(item).center());
            // The first line in view is the heading.
            QTRY_COMPARE(page->cursorForPosition(QPoint(8, 8)).block().text().trimmed(), title);
        }
    }

    // The guide keeps up with the menus: every command's caption, as the menu
    // shows it, and every key of the main window is named in it.
    void guideNamesEveryMenuCommandAndKey()
    {
        const QString guide = ShowUserGuide(&m_v->main)->page()->toPlainText();
        QStringList missing;
        const auto require = [&](const QString& text) {
            if (!guide.contains(text))
                missing.append(text);
        };
        std::function<void(QAction*)> visit = [&](QAction* action) {
            if (action->isSeparator())
                return;
            QString caption = action->text().remove(QLatin1Char('&'));
            if (caption.endsWith(QLatin1String("...")))
                caption.chop(3);
            require(caption);
            for (const QKeySequence& key : action->shortcuts())
                require(key.toString(QKeySequence::PortableText));
            // The recent files are the user's, not the program's.
            if (action->menu() != nullptr && action->menu() != m_v->main.recentFiles()->menu()) {
                for (QAction* item : action->menu()->actions())
                    visit(item);
            }
        };
        for (QAction* menu : m_v->main.menuBar()->actions())
            visit(menu);
        for (const QShortcut* shortcut : m_v->main.findChildren<QShortcut*>())
            require(shortcut->key().toString(QKeySequence::PortableText));
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QStringLiteral(", "))));
    }
};

QTEST_MAIN(HelpWindowTest)
#include "HelpWindowTest.moc"
