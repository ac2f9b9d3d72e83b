// SPDX-License-Identifier: Apache-2.0
#include "windows/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <utility>

#include "dialogs/About.h"
#include "work/BackgroundWork.h"
#include "commands/MarcCommands.h"
#include "windows/RecordListPane.h"
#include "dialogs/Chgfmt.h"
#include "windows/FileDrop.h"
#include "windows/FindResults.h"
#include "windows/HelpWindow.h"
#include "windows/Marc.h"
#include "windows/OnlineSearchWindow.h"
#include "dialogs/Prompt.h"
#include "state/RecentFiles.h"
#include "iso2709/RecordLayout.h"
#include "windows/RecordText.h"
#include "state/Settings.h"
#include "state/SharedState.h"
#include "windows/SettingMenu.h"

TFormMain* FormMain = nullptr;
TAboutBox* AboutBox = nullptr;

namespace {

// ImageList1, shared by the menus and the tool bar; the index is the image number.
constexpr const char* kImageList1[] = {
    ":/icons/open.png",   ":/icons/close.png",   ":/icons/previous.png", ":/icons/next.png",
    ":/icons/count.png",  ":/icons/delimiter.png", ":/icons/exit.png",   ":/icons/extract.png",
    ":/icons/find.png",   ":/icons/find-next.png",
};
constexpr int kNoImage = -1;

constexpr int kToolBarHeight = 27;
constexpr int kToolBarIndent = 4;
constexpr QSize kToolButtonSize(26, 24);
constexpr int kToolBarSeparatorWidth = 8;
constexpr QSize kFirstStartSize(803, 614);

// Qt applies a geometry that was cut short as far as it goes, down to a window
// of one pixel: it is tried on a stand-in first.
bool usableGeometry(const QByteArray& geometry, QSize minimum)
{
    QWidget standIn;
    return standIn.restoreGeometry(geometry) && standIn.width() >= minimum.width()
        && standIn.height() >= minimum.height();
}

}  // namespace

TFormMain::TFormMain(QWidget* parent)
    : QMainWindow(parent), m_mdiArea(new QMdiArea(this)), m_recordTextPixelSize(kDefaultRecordTextPixelSize)
{
    // The images live in the static viewer library, whose resources load only when asked.
    Q_INIT_RESOURCE(icons);
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Veltrane"));
    QIcon applicationIcon;
    for (const char* size : {"16", "32", "48"})
        applicationIcon.addFile(QStringLiteral(":/application/veltrane-%1.png").arg(QLatin1String(size)));
    setWindowIcon(applicationIcon);
    resize(kFirstStartSize);
    m_mdiArea->setObjectName(QStringLiteral("MdiArea"));
    m_mdiArea->setBackground(palette().brush(QPalette::Dark));
    setCentralWidget(m_mdiArea);
    createActions();
    m_recentFiles = new RecentFiles(this);
    connect(m_recentFiles, &RecentFiles::openRequested, this, &TFormMain::openPath);
    // Before the menus, which offer its toggle, and before the settings, which
    // restore its place.
    m_findResults = new FindResultsDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_findResults);
    m_findResults->hide();
    createMenus();
    createToolBar();
    createStatusBar();
    connect(InstallFileDrop(this), &FileDrop::filesDropped, this, [this](const QStringList& paths) {
        for (const QString& path : paths)
            openPath(path);
    });
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (auto* document = qobject_cast<TFormMarc*>(window))
            document->FormActivate();
        updateWorkState();
        syncSettingMenus();
    });
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    cancel->setContext(Qt::WindowShortcut);
    connect(cancel, &QShortcut::activated, this, &TFormMain::cancelActiveWork);
    restoreSettings();
    if (FormMain == nullptr)
        FormMain = this;
}

TFormMain::~TFormMain()
{
    // The document windows write this window's status bar while they go.
    qDeleteAll(m_mdiArea->subWindowList());
    if (FormMain == this)
        FormMain = nullptr;
}

QAction* TFormMain::createAction(const char* name, const QString& caption, int image,
                                 void (TFormMain::*handler)(), const QString& hint)
{
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    if (image != kNoImage)
        action->setIcon(QIcon(QString::fromLatin1(kImageList1[image])));
    if (!hint.isEmpty())
        action->setToolTip(hint);
    if (handler != nullptr)
        connect(action, &QAction::triggered, this, handler);
    return action;
}

void TFormMain::createActions()
{
    createAction("MOpen", QStringLiteral("打开(&O)..."), 0, &TFormMain::MOpenClick, QStringLiteral("打开"));
    createAction("MClose", QStringLiteral("关闭(&C)"), 1, &TFormMain::MCloseClick, QStringLiteral("关闭"));
    createAction("MExit", QStringLiteral("退出(&X)"), 6, &TFormMain::MExitClick, QStringLiteral("退出"));
    createAction("MPrev", QStringLiteral("上条(&P)"), 2, &TFormMain::MPrevClick, QStringLiteral("上条"))
        ->setShortcut(Qt::Key_F7);
    createAction("MNext", QStringLiteral("下条(&N)"), 3, &TFormMain::MNextClick, QStringLiteral("下条"))
        ->setShortcut(Qt::Key_F8);
    createAction("NGoto", QStringLiteral("到纪录(&G)..."), kNoImage, &TFormMain::NGotoClick);
    createAction("MFind", QStringLiteral("查找(&F)"), 8, &TFormMain::MFindClick, QStringLiteral("查找"))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    createAction("MFindNext", QStringLiteral("继续查找(&C)"), 9, &TFormMain::MFindNextClick, QStringLiteral("继续查找"))
        ->setShortcut(Qt::Key_F3);
    createAction("MTotal", QStringLiteral("记录总数(&T)"), 4, &TFormMain::MTotalClick, QStringLiteral("总数"));
    createAction("MGet", QStringLiteral("抽取纪录->文件(S)..."), 7, &TFormMain::MGetClick, QStringLiteral("取纪录"));
    createAction("MDeli", QStringLiteral("MARC(&D)分隔符..."), 5, &TFormMain::MDeliClick, QStringLiteral("分隔符"));
    createAction("N13", QStringLiteral("层叠(&C)"), kNoImage, &TFormMain::N13Click);
    createAction("N14", QStringLiteral("水平(&H)"), kNoImage, &TFormMain::N14Click);
    createAction("N15", QStringLiteral("垂直(&V)"), kNoImage, &TFormMain::N15Click);
    createAction("MHelp", QStringLiteral("关于(&A)"), kNoImage, &TFormMain::MHelpClick);
    createAction("MContent", QStringLiteral("主题(&C)"), kNoImage, nullptr);
    createAction("MGuide", QStringLiteral("使用说明(&U)"), kNoImage, &TFormMain::MGuideClick)->setShortcut(Qt::Key_F1);

    createAction("MFirst", QStringLiteral("首条(&H)"), kNoImage, &TFormMain::MFirstClick)
        ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    createAction("MLast", QStringLiteral("末条(&E)"), kNoImage, &TFormMain::MLastClick)
        ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_End));
    createAction("MZoomIn", QStringLiteral("放大(&I)"), kNoImage, &TFormMain::MZoomInClick)
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)});
    createAction("MZoomOut", QStringLiteral("缩小(&O)"), kNoImage, &TFormMain::MZoomOutClick)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    createAction("MZoomReset", QStringLiteral("原始大小(&Z)"), kNoImage, &TFormMain::MZoomResetClick)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    createAction("MFindAll", QStringLiteral("在所有窗口中查找(&A)..."), kNoImage, &TFormMain::MFindAllClick)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    createAction("MExport", QStringLiteral("导出(&E)..."), kNoImage, &TFormMain::MExportClick);
    createAction("MOnlineSearch", QStringLiteral("联机检索(&Z)..."), kNoImage, &TFormMain::MOnlineSearchClick);
    createAction("MCheckRecord", QStringLiteral("检查纪录(&K)..."), kNoImage, &TFormMain::MCheckRecordClick);
    createAction("MProfile", QStringLiteral("文件概况(&I)"), kNoImage, &TFormMain::MProfileClick);
    QAction* recordList = createAction("MRecordList", QStringLiteral("记录列表(&L)"), kNoImage, nullptr);
    recordList->setShortcut(Qt::Key_F9);
    recordList->setCheckable(true);
    recordList->setChecked(settings::recordListShown());
    connect(recordList, &QAction::toggled, this, &TFormMain::MRecordListToggled);
}

void TFormMain::createMenus()
{
    const auto action = [this](const char* name) { return findChild<QAction*>(QString::fromLatin1(name)); };
    const auto menu = [this](const char* name, const QString& caption) {
        QMenu* m = menuBar()->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    const auto separator = [](QMenu* m, const char* name) { m->addSeparator()->setObjectName(QString::fromLatin1(name)); };

    QMenu* file = menu("F1", QStringLiteral("文件(&F)"));
    file->addActions({action("MOpen"), action("MClose")});
    file->addMenu(m_recentFiles->menu());
    file->addActions({action("MExport"), action("MOnlineSearch")});
    separator(file, "N2");
    file->addAction(action("MExit"));

    QMenu* records = menu("MARC1", QStringLiteral("记录(&R)"));
    records->addActions({action("MPrev"), action("MNext"), action("NGoto")});
    separator(records, "N5");
    records->addActions({action("MFind"), action("MFindNext")});
    separator(records, "N7");
    records->addActions({action("MTotal"), action("MGet")});
    records->addSeparator();
    records->addActions({action("MFirst"), action("MLast")});
    records->addAction(action("MCheckRecord"));
    records->addSeparator();
    records->addActions({action("MFindAll"), action("MProfile")});

    QMenu* view = menu("V1", QStringLiteral("查看(&V)"));
    view->addAction(action("MDeli"));
    view->addSeparator();
    view->addActions({action("MZoomIn"), action("MZoomOut"), action("MZoomReset")});
    view->addSeparator();
    createSettingMenus(view);
    QAction* findResults = m_findResults->toggleViewAction();
    findResults->setObjectName(QStringLiteral("MFindResults"));
    findResults->setText(QStringLiteral("查找结果(&R)"));
    view->addAction(findResults);
    view->addAction(action("MRecordList"));
    AddViewToggle(view, "MFieldNames", QStringLiteral("字段说明(&N)"), settings::fieldNamesShown(), [this](bool shown) {
        settings::setFieldNamesShown(shown);
        for (TFormMarc* document : documents())
            document->setFieldNamesShown(shown);
    });

    m_windowMenu = menu("Windows", QStringLiteral("窗口(&W)"));
    m_windowMenu->addActions({action("N13"), action("N14"), action("N15")});
    connect(m_windowMenu, &QMenu::aboutToShow, this, &TFormMain::rebuildWindowMenu);

    QMenu* help = menu("N10", QStringLiteral("帮助(&H)"));
    help->addActions({action("MHelp"), action("MContent"), action("MGuide")});
}

void TFormMain::createToolBar()
{
    m_toolBar = new QToolBar(QStringLiteral("ToolBar1"), this);
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setFixedHeight(kToolBarHeight);
    m_toolBar->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
    m_toolBar->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    // The tool bar's own margins follow the style; an empty item makes the indent.
    auto* indent = new QWidget(m_toolBar);
    indent->setFixedSize(kToolBarIndent, 1);
    m_toolBar->addWidget(indent);

    struct Item {
        const char* button;
        const char* action;  // nullptr: a separator
    };
    static constexpr Item kItems[] = {
        {"ToolButton1", "MOpen"},   {"ToolButton2", "MClose"}, {"ToolButton6", nullptr},
        {"ToolButton3", "MPrev"},   {"ToolButton4", "MNext"},  {"ToolButton12", "MFind"},
        {"ToolButton11", "MFindNext"}, {"ToolButton13", nullptr}, {"ToolButton5", "MTotal"},
        {"ToolButton9", "MGet"},    {"ToolButton10", nullptr}, {"ToolButton7", "MDeli"},
        {"ToolButton8", "MExit"},
    };
    for (const Item& item : kItems) {
        if (item.action == nullptr) {
            auto* separator = new QFrame(m_toolBar);
            separator->setFrameStyle(QFrame::VLine | QFrame::Sunken);
            separator->setFixedSize(kToolBarSeparatorWidth, kToolButtonSize.height());
            separator->setObjectName(QString::fromLatin1(item.button));
            m_toolBar->addWidget(separator);
            continue;
        }
        QAction* action = findChild<QAction*>(QString::fromLatin1(item.action));
        m_toolBar->addAction(action);
        QWidget* button = m_toolBar->widgetForAction(action);
        button->setObjectName(QString::fromLatin1(item.button));
        button->setFixedSize(kToolButtonSize);
        if (auto* toolButton = qobject_cast<QToolButton*>(button))
            toolButton->setAutoRaise(true);
    }
}

void TFormMain::createSettingMenus(QMenu* view)
{
    // Each is the active window's own setting; a new window starts at the first item.
    using veltrane::CharsetSetting;
    const auto charsetItem = [](CharsetSetting setting, const char* name) {
        return SettingMenuItem{CharsetSettingCaption(setting), name, static_cast<int>(setting)};
    };
    m_charsetMenu = AddSettingMenu(
        view, QStringLiteral("字符集(&S)"), QStringLiteral("MCharset"),
        {charsetItem(CharsetSetting::Auto, "auto"), charsetItem(CharsetSetting::Gbk, "gbk"),
         charsetItem(CharsetSetting::Gb18030, "gb18030"), charsetItem(CharsetSetting::Utf8, "utf-8"),
         charsetItem(CharsetSetting::Marc8, "marc-8")},
        [this](int value) {
            if (TFormMarc* document = activeDocument())
                document->setCharsetChoice(static_cast<CharsetSetting>(value));
        },
        [this] { return static_cast<int>(activeDocument() ? activeDocument()->CharsetChoice : CharsetSetting::Auto); });
    // Named as `check --rules` names them.
    using veltrane::RuleSetting;
    const auto rulesItem = [](RuleSetting setting, const char* name) {
        return SettingMenuItem{RuleSettingCaption(setting), name, static_cast<int>(setting)};
    };
    m_rulesMenu = AddSettingMenu(
        view, QStringLiteral("规则(&U)"), QStringLiteral("MRules"),
        {rulesItem(RuleSetting::Auto, "auto"), rulesItem(RuleSetting::Marc21, "marc21"),
         rulesItem(RuleSetting::Unimarc, "unimarc"), rulesItem(RuleSetting::Cnmarc, "cnmarc"),
         rulesItem(RuleSetting::None, "none")},
        [this](int value) {
            if (TFormMarc* document = activeDocument())
                document->setRuleChoice(static_cast<RuleSetting>(value));
        },
        [this] { return static_cast<int>(activeDocument() ? activeDocument()->RuleChoice : RuleSetting::Auto); });
}

void TFormMain::syncSettingMenus()
{
    const TFormMarc* document = activeDocument();
    CheckSettingItem(m_charsetMenu,
                     static_cast<int>(document != nullptr ? document->CharsetChoice : veltrane::CharsetSetting::Auto));
    CheckSettingItem(m_rulesMenu,
                     static_cast<int>(document != nullptr ? document->RuleChoice : veltrane::RuleSetting::Auto));
}

void TFormMain::updateWorkState()
{
    TFormMarc* active = activeDocument();
    BackgroundWork* work = active != nullptr ? active->work() : nullptr;
    if (work != nullptr) {
        const QString file = fontMetrics().elidedText(work->fileName(), Qt::ElideMiddle, 180);
        m_workLabel->setText(QStringLiteral("%1：%2").arg(work->operation(), file));
        m_workLabel->setToolTip(work->fileName());
        const std::uint64_t total = work->total();
        m_workBar->setValue(total == 0 ? 0 : static_cast<int>(work->done() * 1000 / total));
        m_workBar->setAccessibleName(QStringLiteral("%1 %2%").arg(work->operation()).arg(m_workBar->value() / 10));
    }
    m_workPanel->setVisible(work != nullptr);
    bool anyWork = false;
    for (TFormMarc* document : documents())
        anyWork = anyWork || document->work() != nullptr;
    for (const char* name : {"MPrev", "MNext", "NGoto", "MFind", "MFindNext", "MTotal", "MGet", "MFirst", "MLast"})
        findChild<QAction*>(QString::fromLatin1(name))->setEnabled(work == nullptr);
    findChild<QAction*>(QStringLiteral("MDeli"))->setEnabled(!anyWork);
    // Each shows the record again or reads the file: not while the window works.
    for (const char* name : {"MExport", "MCheckRecord", "MProfile"})
        findChild<QAction*>(QString::fromLatin1(name))->setEnabled(work == nullptr);
    m_charsetMenu->setEnabled(work == nullptr);
    m_rulesMenu->setEnabled(work == nullptr);
}

void TFormMain::cancelActiveWork()
{
    if (TFormMarc* document = activeDocument())
        document->cancelWork();
    else if (auto* online = qobject_cast<OnlineSearchWindow*>(m_mdiArea->activeSubWindow()))
        online->stop();
}

void TFormMain::restoreSettings()
{
    // Nothing kept, or nothing usable: the window keeps its first-start size.
    if (const QByteArray geometry = settings::mainWindowGeometry(); usableGeometry(geometry, minimumSizeHint()))
        (void)restoreGeometry(geometry);
    (void)restoreState(settings::mainWindowState());
    m_recordTextPixelSize = settings::recordTextPixelSize(kDefaultRecordTextPixelSize, kMinRecordTextPixelSize,
                                                          kMaxRecordTextPixelSize);
}

void TFormMain::setStatusText(const QString& file, const QString& record, const QString& info)
{
    m_panels[0]->setText(file);
    m_panels[1]->setText(record);
    m_infoPanel->setText(info);
    m_infoPanel->setFixedWidth(m_infoPanel->fontMetrics().horizontalAdvance(info) + 2 * m_infoPanel->frameWidth() + 8);
    m_infoPanel->setVisible(!info.isEmpty());
}

TFormMarc* TFormMain::activeDocument() const
{
    return qobject_cast<TFormMarc*>(m_mdiArea->activeSubWindow());
}

QList<TFormMarc*> TFormMain::documents() const
{
    QList<TFormMarc*> result;
    for (QMdiSubWindow* window : m_mdiArea->subWindowList(QMdiArea::StackingOrder)) {
        if (auto* document = qobject_cast<TFormMarc*>(window))
            result.append(document);
    }
    return result;
}

void TFormMain::openPath(const QString& path)
{
    m_shared.openQueue.waiting.append(path);
    openNextPath();
}

TFormMarc* TFormMain::openDocument(const QString& path)
{
    auto* document = new TFormMarc(m_shared, m_mdiArea, m_recordTextPixelSize);
    connect(document, &TFormMarc::statusChanged, this, &TFormMain::setStatusText);
    connect(document, &TFormMarc::workChanged, this, &TFormMain::updateWorkState);
    connect(document, &TFormMarc::openingEnded, this, [this, document] { documentOpened(document); });
    connect(document, &TFormMarc::zoomRequested, this, &TFormMain::zoomRecordText);
    connect(document, &TFormMarc::exportSelectionRequested, this, [document] {
        if (document->recordList() != nullptr)
            ExportCommand(document, document->recordList()->selectedRecords());
    });
    document->setRecordListShown(findChild<QAction*>(QStringLiteral("MRecordList"))->isChecked());
    // The window may close itself while it opens: a guard sees it go.
    const QPointer<TFormMarc> opened(document);
    FormMarc = document;
    document->open(path);
    return opened.data();
}

int OpenMarcFile(TFormMain* mainForm, const QString& path)
{
    (void)mainForm->openDocument(path);
    return 0;
}

void TFormMain::openNextPath()
{
    OpenQueue& queue = m_shared.openQueue;
    while (queue.opening == nullptr && !queue.waiting.isEmpty()) {
        const QString path = queue.waiting.takeFirst();
        TFormMarc* document = openDocument(path);
        if (document != nullptr && document->isOpening())
            queue.opening = document;
        else if (document != nullptr && document->isOpen())
            m_recentFiles->add(path);
    }
}

void TFormMain::documentOpened(TFormMarc* document)
{
    if (document != m_shared.openQueue.opening)
        return;
    m_shared.openQueue.opening = nullptr;
    if (document->isOpen())
        m_recentFiles->add(document->TitleName);
    // Later, so that the window that ended has finished what it does.
    QTimer::singleShot(0, this, &TFormMain::openNextPath);
}

void TFormMain::setRecordTextPixelSize(int pixelSize)
{
    pixelSize = ZoomedPixelSize(pixelSize, 0);
    if (pixelSize == m_recordTextPixelSize)
        return;
    m_recordTextPixelSize = pixelSize;
    for (TFormMarc* document : documents())
        SetRecordTextPixelSize(document->MemoMarc, pixelSize);
    settings::setRecordTextPixelSize(pixelSize);
}

void TFormMain::zoomRecordText(int steps)
{
    setRecordTextPixelSize(ZoomedPixelSize(m_recordTextPixelSize, steps));
}

void TFormMain::MOpenClick()
{
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setWindowTitle(QStringLiteral("打开MARC文件"));
    // The first entry is selected; the last lets files with other names (.marc, .dat, .usmarc) be picked.
    const QString allFiles = QStringLiteral("所有文件 (*)");
    dialog.setNameFilters({QStringLiteral("MARC文件(*.mrc)"), QStringLiteral("ISO文件(*.iso)"), allFiles});
    dialog.setDefaultSuffix(QStringLiteral("mrc"));
    // Among all files a name without an extension means that very file.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, allFiles](const QString& filter) {
        dialog.setDefaultSuffix(filter == allFiles ? QString() : QStringLiteral("mrc"));
    });
    // A typed name of a missing file is handed on: the document window reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (const QString folder = settings::openFolder(); !folder.isEmpty())
        dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return;
    settings::setOpenFolder(QFileInfo(chosen.first()).absolutePath());
    openPath(chosen.first());
}

void TFormMain::MCloseClick()
{
    if (QMdiSubWindow* window = m_mdiArea->activeSubWindow())
        window->close();
}

void TFormMain::MExitClick()
{
    close();
}

void TFormMain::MPrevClick()
{
    if (TFormMarc* document = activeDocument())
        document->ShowPrevRecord();
}

void TFormMain::MNextClick()
{
    if (TFormMarc* document = activeDocument())
        document->ShowNextRecord();
}

void TFormMain::NGotoClick()
{
    if (TFormMarc* document = activeDocument())
        GotoRecordCommand(document);
}

void TFormMain::MFindClick()
{
    if (TFormMarc* document = activeDocument())
        FindCommand(document);
}

void TFormMain::MFindNextClick()
{
    if (TFormMarc* document = activeDocument())
        FindNextCommand(document);
}

void TFormMain::MTotalClick()
{
    if (TFormMarc* document = activeDocument())
        Prompt().showInformation(QStringLiteral("    纪录总数是: %1    ").arg(document->RecordCount));
}

void TFormMain::MGetClick()
{
    if (TFormMarc* document = activeDocument())
        ExtractCommand(document);
}

void TFormMain::MDeliClick()
{
    AskDelimiterMode(this, m_shared.delimiterMode);
    // Whether or not the mode changed, every document shows its record again.
    const QList<TFormMarc*> windows = documents();
    for (const QPointer<TFormMarc>& document : QList<QPointer<TFormMarc>>(windows.begin(), windows.end())) {
        if (document)
            document->RedisplayRecord();
    }
}

void TFormMain::N13Click()
{
    m_mdiArea->cascadeSubWindows();
}

void TFormMain::N14Click()
{
    tile(Qt::Horizontal);
}

void TFormMain::N15Click()
{
    tile(Qt::Vertical);
}

void TFormMain::MFirstClick()
{
    if (TFormMarc* document = activeDocument())
        document->ShowFirstRecord();
}

void TFormMain::MLastClick()
{
    if (TFormMarc* document = activeDocument())
        document->ShowLastRecord();
}

void TFormMain::MZoomInClick()
{
    zoomRecordText(1);
}

void TFormMain::MZoomOutClick()
{
    zoomRecordText(-1);
}

void TFormMain::MZoomResetClick()
{
    setRecordTextPixelSize(kDefaultRecordTextPixelSize);
}

void TFormMain::MRecordListToggled(bool shown)
{
    settings::setRecordListShown(shown);
    for (TFormMarc* document : documents())
        document->setRecordListShown(shown);
}

void TFormMain::MFindAllClick()
{
    FindAllCommand(m_mdiArea, m_findResults);
}

void TFormMain::MExportClick()
{
    if (TFormMarc* document = activeDocument())
        ExportCommand(document);
}

void TFormMain::MOnlineSearchClick()
{
    (void)ShowOnlineSearch({m_mdiArea, &m_shared, m_recordTextPixelSize,
                            [this](const QString& path) { return openDocument(path); },
                            [this](int steps) { zoomRecordText(steps); }});
}

void TFormMain::MCheckRecordClick()
{
    if (TFormMarc* document = activeDocument())
        CheckRecordCommand(document);
}

void TFormMain::MProfileClick()
{
    if (TFormMarc* document = activeDocument())
        ProfileCommand(document, m_findResults);
}

void TFormMain::MHelpClick()
{
    if (m_aboutBox != nullptr)
        m_aboutBox->exec();
}

void TFormMain::MGuideClick()
{
    (void)ShowUserGuide(this);
}

QList<QRect> TileRects(const QRect& area, int n, Qt::Orientation orientation)
{
    QList<QRect> rects;
    if (n <= 0)
        return rects;
    // Laid out as vertical tiling in a frame whose axes may be exchanged: lines
    // are the columns of vertical tiling and the rows of horizontal tiling.
    const bool vertical = orientation == Qt::Vertical;
    const int across = vertical ? area.width() : area.height();
    const int along = vertical ? area.height() : area.width();
    const int perLine = static_cast<int>(std::sqrt(static_cast<double>(n)));
    const int lines = n / perLine;
    int placed = 0;
    for (int line = 0; line < lines; ++line) {
        const int count = line == lines - 1 ? n - placed : perLine;
        const int a0 = line * across / lines;
        const int a1 = (line + 1) * across / lines;
        for (int k = 0; k < count; ++k) {
            const int b0 = k * along / count;
            const int b1 = (k + 1) * along / count;
            const QRect r = vertical ? QRect(a0, b0, a1 - a0, b1 - b0) : QRect(b0, a0, b1 - b0, a1 - a0);
            rects.append(r.translated(area.topLeft()));
        }
        placed += count;
    }
    return rects;
}

void TFormMain::tile(Qt::Orientation orientation)
{
    QList<QMdiSubWindow*> windows;
    const QList<QMdiSubWindow*> stacked = m_mdiArea->subWindowList(QMdiArea::StackingOrder);
    // Topmost first: the active window takes the first place.
    for (auto it = stacked.crbegin(); it != stacked.crend(); ++it) {
        if ((*it)->isVisible() && !(*it)->isMinimized())
            windows.append(*it);
    }
    if (windows.isEmpty())
        return;
    for (QMdiSubWindow* window : windows) {
        if (window->isMaximized())
            window->showNormal();
    }
    const QList<QRect> rects = TileRects(m_mdiArea->viewport()->rect(), static_cast<int>(windows.size()), orientation);
    for (qsizetype i = 0; i < windows.size(); ++i)
        windows[i]->setGeometry(rects[i]);
}

void TFormMain::rebuildWindowMenu()
{
    for (QAction* action : std::as_const(m_windowListActions)) {
        m_windowMenu->removeAction(action);
        action->deleteLater();
    }
    m_windowListActions.clear();
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    m_windowListActions.append(m_windowMenu->addSeparator());
    QMdiSubWindow* active = m_mdiArea->activeSubWindow();
    for (qsizetype i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows[i];
        const QString number = i < 9 ? QStringLiteral("&%1 ").arg(i + 1) : QStringLiteral("%1 ").arg(i + 1);
        QString title = window->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* entry = m_windowMenu->addAction(number + title);
        entry->setCheckable(true);
        entry->setChecked(window == active);
        connect(entry, &QAction::triggered, this, [this, target = QPointer<QMdiSubWindow>(window)] {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            m_mdiArea->setActiveSubWindow(target);
        });
        m_windowListActions.append(entry);
    }
}

void TFormMain::FormShow()
{
    // Every argument is opened, whether or not an earlier one could be.
    const QStringList paths = std::exchange(m_commandLine, {});
    for (const QString& path : paths)
        openPath(path);
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Once the window is on screen, so that messages about bad files appear over it.
    QTimer::singleShot(0, this, &TFormMain::FormShow);
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Files still waiting to open are not opened any more.
    m_shared.openQueue.waiting.clear();
    m_findResults->cancelSearchAndWait();
    settings::setMainWindowLayout(saveGeometry(), saveState());
    m_shared.deleteScratchFile();
    // Bottom-most first, as the frame lists them last to first.
    const QList<QMdiSubWindow*> stacked = m_mdiArea->subWindowList(QMdiArea::StackingOrder);
    for (const QPointer<QMdiSubWindow>& window : QList<QPointer<QMdiSubWindow>>(stacked.begin(), stacked.end())) {
        if (window)
            window->close();
    }
    QMainWindow::closeEvent(event);
}
