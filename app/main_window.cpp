#include "analysis/result_words.h"
#include "app/main_window.h"

#include "app/advanced_tab.h"
#include "app/analysis_window.h"
#include "app/background_work.h"
#include "app/run_report.h"
#include "app/run_status.h"
#include "app/source_probe.h"
#include "app/platform/open_folder.h"
#include "app/program_values.h"
#include "app/qt_text.h"
#include "app/update_check.h"
#include "app/widgets.h"
#include "engine/core/command_line.h"
#include "engine/core/control_names.h"
#include "engine/core/program_dir.h"
#include "engine/core/settings.h"
#include "engine/core/text_rules.h"
#include "engine/output/run_report.h"
#include "engine/run/answer_limits.h"
#include "engine/run/mining_run.h"
#include "engine/store/run_history.h"
#include "engine/store/store_factory.h"
#include "sources/endpoints.h"
#include "sources/sources.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QDesktopServices>
#include <QUrl>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QTabWidget>
#include <QTextLayout>
#include <QTimer>

// Resources of a static library are registered by hand; outside any namespace, as Qt requires.
static void initAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace zelkor::app {

// The engine's run controller, held apart so the header stays free of engine types.
class WindowRun {
  public:
    MiningController controller;
    WindowRun(std::shared_ptr<Controls> controls, std::filesystem::path home,
              MiningController::SourceFactory f)
        : controller(std::move(controls), home, std::move(f)) {
        controller.setWordColumns([home](const std::vector<ResultRecord>& records) -> Expected<ExtraColumns> {
            Expected<IntentTags> tags = loadIntentTags(home);
            if (!tags) return tags.error();
            Expected<KeywordWords> words = analyseResults(records, *tags);
            if (!words) return words.error();
            return wordColumns(*words);
        });
    }
};

namespace {

const char* const kContactNotice =
    "联系我们：邮箱 support@zelkor.example，网站 www.zelkor.example（工作日 9:00-18:00 回复）";

struct Hint {
    std::string_view control;
    const char* text;
};
const Hint kHints[] = {
    {ctl::kSeeds, "这里填写你需要搜索的关键词，如果有多个，一行写一个就可以了。"},
    {ctl::kForbidden, "这里填写违禁词，一行一个，如果采集到包含这里面的内容，不保存"},
    {ctl::kLimit, "设置采集上限，设置为0不限制个数，无限采集"},
    {ctl::kHangupDir,
     "这里填写目录地址，采集到到关键词会放到里面。裂变或者上传软件，会使用到这个目录里面的内容。"},
};

QString name(std::string_view control) {
    return QString::fromUtf8(control.data(), qsizetype(control.size()));
}

template <typename W> W* place(QWidget* parent, std::string_view control, int x, int y, int w, int h) {
    auto* widget = new W(parent); // owned by its parent
    widget->setObjectName(name(control));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* label(QWidget* parent, std::string_view control, QRect r, const char* text) {
    auto* l = place<QLabel>(parent, control, r.x(), r.y(), r.width(), r.height());
    l->setTextFormat(Qt::PlainText);
    l->setText(qs(text));
    l->setFocusPolicy(Qt::NoFocus);
    return l;
}

QPlainTextEdit* multiLine(QWidget* parent, std::string_view control, QRect r, bool scrollBar) {
    auto* e = place<QPlainTextEdit>(parent, control, r.x(), r.y(), r.width(), r.height());
    e->setVerticalScrollBarPolicy(scrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    e->setTabChangesFocus(true);
    return e;
}

QCheckBox* checkBox(QWidget* parent, std::string_view control, QRect r, const char* text, bool checked) {
    auto* c = place<QCheckBox>(parent, control, r.x(), r.y(), r.width(), r.height());
    c->setText(qs(text));
    c->setChecked(checked);
    return c;
}

QPushButton* button(QWidget* parent, std::string_view control, QRect r, const char* text) {
    auto* b = place<QPushButton>(parent, control, r.x(), r.y(), r.width(), r.height());
    b->setText(qs(text));
    b->setAutoDefault(false);
    return b;
}

QGroupBox* groupBox(QWidget* parent, std::string_view control, QRect r, const char* title) {
    auto* g = place<QGroupBox>(parent, control, r.x(), r.y(), r.width(), r.height());
    g->setTitle(qs(title));
    g->setFocusPolicy(Qt::NoFocus);
    return g;
}

PictureBox* picture(QWidget* parent, std::string_view control, QRect r, const char* resource) {
    auto* p = place<PictureBox>(parent, control, r.x(), r.y(), r.width(), r.height());
    p->setPixmap(QPixmap(QString::fromLatin1(resource)));
    return p;
}

// Controls on a page are placed from the tab control's own top-left corner, the strip of tabs
// included, as the layout's coordinates were made: the page area starts under a slim tab strip
// drawn over it, so nothing at the bottom of a page is cut off. Group box frames run through the
// middle of their titles, clear of the controls placed under them.
const int kTabStripHeight = 21;
const char* const kTabsStyle = R"(
QTabBar::tab { height: 19px; padding: 0 8px; border: 1px solid #a0a0a0; background: #e6e6e6;
               margin-right: -1px; }
QTabBar::tab:selected { background: palette(window); border-bottom-color: palette(window); }
QTabBar::tab:!selected { margin-top: 2px; height: 17px; }
QTabWidget::pane { top: -20px; border: 1px solid #a0a0a0; border-top: none; }
QGroupBox { border: 1px solid #a0a0a0; border-radius: 2px; margin-top: 7px; }
QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }
)";

// Where each control of the window itself sits at the first size, and how it follows a larger
// window: moved right (dx) or down (dy), or grown in width or height. Extra room goes to the output
// panel and the source list; the bottom row and the notice follow the bottom edge.
enum Follow { Stay = 0, Right = 1, Down = 2, Wider = 4, Taller = 8 };
struct Place {
    const char* control;
    QRect rect;
    int follow;
};
const Place kPlaces[] = {
    {"图片框1", {0, 0, MainWindow::kWidth, 90}, Wider},
    {"输出_面板", {336, 136, 616, 360}, Wider | Taller},
    {"标签_tishi", {344, 504, 552, 120}, Down | Wider},
    {"按钮_开始", {24, 635, 104, 37}, Down},
    {"按钮1", {144, 632, 88, 40}, Down},
    {"按钮_测试来源", {144, 635, 88, 37}, Down},
    {"按钮5", {248, 635, 72, 37}, Down},
    {"选择框_自动保存结果", {339, 638, 96, 32}, Down},
    {"编辑框_默认保存目录", {441, 638, 312, 32}, Down | Wider},
    {"标签4", {763, 638, 72, 32}, Down | Right},
    {"标签5", {872, 638, 72, 32}, Down | Right},
    {"标签_分析", {940, 638, 32, 32}, Down | Right},
    {"状态条1", {0, 695, 1009, 20}, Down | Wider},
    {"选择夹1", {0, 94, 328, 530}, Taller},
    {"分组框2", {8, 173, 272, 341}, Taller},
    {"选择列表框1", {8, 20, 248, 313}, Taller},
};

// The caption's spaces make room for a box laid over it, but a CJK font's spaces are narrower
// than the layout's: the characters are set a little apart until the last one starts at `x` or
// after, the text itself unchanged. (Word spacing would be the natural tool; it does not reach
// spaces inside a run of Han text.)
void widenSpacesBefore(QLabel* caption, int x) {
    const QString text = caption->text();
    const int gaps = static_cast<int>(text.size()) - 1;
    auto lastAt = [&](const QFont& font) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        return line.cursorToX(static_cast<int>(text.size()) - 1);
    };
    QFont font = caption->font();
    const qreal short_ = x - lastAt(font);
    if (short_ <= 0 || gaps <= 0) return;
    font.setLetterSpacing(QFont::AbsoluteSpacing, std::ceil(short_ / gaps * 4) / 4);
    caption->setFont(font);
}

QString qstr(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

// ASCII and ideographic spaces at both ends, as the folder chooser's result is read.
QString trimSpaces(QString s) {
    auto space = [](QChar c) { return c == QLatin1Char(' ') || c == QChar(0x3000); };
    while (!s.isEmpty() && space(s.front()))
        s.remove(0, 1);
    while (!s.isEmpty() && space(s.back()))
        s.chop(1);
    return s;
}

} // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QWidget(parent), m_options(std::move(options)) {
    initAppResources();
    if (!m_options.chooseFolder) {
        m_options.chooseFolder = [](const QString& title, const QString& start) {
            return QFileDialog::getExistingDirectory(nullptr, title, start, QFileDialog::ShowDirsOnly);
        };
    }
    if (!m_options.showFile) m_options.showFile = platform::showInFolder;
    if (!m_options.openFile) {
        m_options.openFile = [](const std::filesystem::path& file) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string())));
        };
    }
    if (!m_options.askYesNo) {
        m_options.askYesNo = [this](const QString& title, const QString& question, const QString& detail,
                                    std::function<void(bool)> answer) {
            auto* box = new QMessageBox(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No, this);
            box->setInformativeText(detail);
            box->setDefaultButton(QMessageBox::Yes);
            box->setAttribute(Qt::WA_DeleteOnClose);
            connect(box, &QMessageBox::finished, this,
                    [answer = std::move(answer)](int result) { answer(result == QMessageBox::Yes); });
            box->open();
        };
    }
    if (!m_options.showWarning) {
        m_options.showWarning = [this](const QString& title, const QString& text) {
            auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open(); // an unattended run goes on while the box waits for its reader
        };
    }

    // A broken sources file must not half-apply: the built-in table stands and the user is told.
    std::string sourcesError;
    std::optional<SourceRows> rows = loadSources(m_options.home, {}, &sourcesError);
    m_sourceRows = rows ? std::move(*rows) : builtInSourceRows();

    WindowControls::Face face;
    face.setText = [this](const std::string& c, const Text& v) { applyText(c, v); };
    face.setChecked = [this](const std::string& c, bool v) { applyChecked(c, v); };
    face.appendOutput = [this](const Text& t) { appendOutput(t); };
    face.appendOutputs = [this](const std::vector<Text>& t) { appendOutputs(t); };
    face.showNotice = [this](const Text& t) { showNotice(t); };
    face.closeWindow = [this] { close(); };
    m_controls = std::make_shared<WindowControls>(this, std::move(face));

    buildLayout();
    connectMirror();

    m_background = std::make_unique<BackgroundWork>(this);
    RunStatus::Hooks hooks;
    hooks.showFile = [this](const std::filesystem::path& file) { m_options.showFile(file); };
    hooks.markSource = [this](int source, bool trouble, const QString& tip) { markSource(source, trouble, tip); };
    hooks.notice = [this](const Text& text) { m_controls->showNotice(text); };
    hooks.reportWanted = [this] { return m_controls->checked(ctl::kExportReport); };
    hooks.openReport = [this](std::shared_ptr<MiningRun> run) {
        QPointer<MainWindow> self(this);
        m_background->post([self, run = std::move(run), controls = m_controls,
                            home = m_options.home]() -> std::function<void()> {
            const std::optional<std::filesystem::path> file = writeRunReport(*run, *controls, home);
            return [self, file] {
                if (self && file) self->m_options.openFile(*file);
            };
        });
    };
    hooks.analyse = [this] { onAnalyse(); };
    m_status = new RunStatus(findChild<QStatusBar*>(qs("状态条1")), std::move(hooks), this);

    const std::filesystem::path home = m_options.home;
    std::weak_ptr<WindowControls> weakControls = m_controls;
    m_run = std::make_unique<WindowRun>(m_controls, home, [home, weakControls, table = m_sourceRows]() {
        std::string error;
        std::optional<Endpoints> endpoints = Endpoints::loadDefault(home, &error, static_cast<int>(table.size()));
        if (!endpoints) {
            // A named endpoints file that cannot be used: say so, and ask nobody rather than the
            // public services the user meant to replace.
            if (auto controls = weakControls.lock())
                controls->showNotice(utf8_to_gbk("服务地址文件无法使用，本次不查询任何来源：" + error));
            return SourceSet{};
        }
        return make_sources(table, *endpoints);
    });

    m_run->controller.setSummaryNotices(true);

    creationSteps();
    if (!rows)
        m_options.showWarning(qs("数据来源文件有误"),
                              qs("数据来源文件无法使用，已改用内置的数据来源：\n") + QString::fromStdString(sourcesError));
}

MainWindow::~MainWindow() {
    // Its reads may hold the current run: they end before the controller does.
    delete m_analysis;
    // A run or a cache cleanup still going must not write into a window that is gone.
    m_controls->detach();
    if (m_run) m_run->controller.stop();
}

void MainWindow::buildLayout() {
    setObjectName(QStringLiteral("MainWindow"));
    resize(kWidth, kHeight);
    setMinimumSize(kWidth, kHeight);
    move(50, 50);

    // The banner reaches the right edge: the picture's own last column carries on past its width.
    picture(this, "图片框1", {0, 0, kWidth, 90}, ":/zelkor/banner.png")->setExtendRight(true);
    label(this, ctl::kCountLabel, {348, 99, 244, 24}, "采集结果预览");
    m_noOutput = checkBox(this, ctl::kNoOutput, {624, 96, 184, 32}, "数据不输出到界面", false);
    m_panel = multiLine(this, ctl::kPanel, {336, 136, 616, 360}, true);
    m_notice = label(this, ctl::kNoticeLabel, {344, 504, 552, 120}, "");
    m_notice->setWordWrap(true);
    m_notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    button(this, ctl::kStartButton, {24, 635, 104, 37}, "开始");
    QPushButton* cloud = button(this, "按钮1", {144, 632, 88, 40}, "开始云端采集");
    cloud->setEnabled(false);
    cloud->setVisible(false);
    // Where the hidden 按钮1 would be: the row has room, and the button belongs beside Start.
    QPushButton* probe = button(this, "按钮_测试来源", {144, 635, 88, 37}, "测试来源");
    probe->setToolTip(qs("把勾选的来源各询问一次（用关键词框的第一个词），在表格里看每个来源的应答"));
    // 开始, 清理缓存 and the 自动保存 row share one middle line.
    button(this, "按钮5", {248, 635, 72, 37}, "清理缓存");
    checkBox(this, ctl::kAutoSave, {339, 638, 96, 32}, "自动保存结果", true);
    auto* saveDir = place<QLineEdit>(this, ctl::kSaveDir, 441, 638, 312, 32);
    saveDir->setPlaceholderText(qs("空：程序目录"));
    auto* choose = place<PressLabel>(this, "标签4", 763, 638, 72, 32);
    choose->setText(qs("选择目录"));
    auto* exportLabel = place<PressLabel>(this, "标签5", 872, 638, 72, 32);
    exportLabel->setText(qs("导出数据"));
    auto* analyseLabel = place<PressLabel>(this, "标签_分析", 940, 638, 32, 32);
    analyseLabel->setText(qs("分析"));
    analyseLabel->setToolTip(qs("打开分析窗口：结果表格（排序、筛选、复制、导出）、图表、需求图和历史记录"));
    for (QLabel* l : {static_cast<QLabel*>(choose), static_cast<QLabel*>(exportLabel),
                      static_cast<QLabel*>(analyseLabel)}) {
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(
            QStringLiteral("color: #1565c0; text-decoration: underline;")); // they act like links
    }
    auto* status = place<QStatusBar>(this, "状态条1", 0, 695, 1009, 20);
    status->setSizeGripEnabled(false);

    auto* tabs = place<QTabWidget>(this, "选择夹1", 0, 94, 328, 530);
    const char* const pages[] = {"采集设置", "过滤", "设置", "联系方式", kAdvancedPage};
    QWidget* pageWidgets[5];
    for (int i = 0; i < 5; ++i) {
        pageWidgets[i] = new QWidget(tabs);
        pageWidgets[i]->setObjectName(qs(pages[i]));
        tabs->addTab(pageWidgets[i], qs(pages[i]));
    }
    buildCollectPage(pageWidgets[0]);
    buildFilterPage(pageWidgets[1]);
    buildSettingsPage(pageWidgets[2]);
    buildContactPage(pageWidgets[3]);
    buildAdvancedPage(pageWidgets[4]);
    tabs->setCurrentIndex(0);
    tabs->setStyleSheet(QString::fromLatin1(kTabsStyle));
    // The line under the tabs, beside the last one; the selected tab stays open towards its page.
    auto* strip = new QFrame(tabs);
    strip->setGeometry(0, kTabStripHeight - 1, 328, 1);
    strip->setStyleSheet(QStringLiteral("background: #a0a0a0;"));
    strip->stackUnder(tabs->tabBar());

    connect(findChild<QPushButton*>(name(ctl::kStartButton)), &QPushButton::clicked, this,
            &MainWindow::onStartStop);
    connect(findChild<QPushButton*>(qs("按钮5")), &QPushButton::clicked, this, &MainWindow::onClearCache);
    connect(probe, &QPushButton::clicked, this, &MainWindow::onProbe);
    connect(choose, &PressLabel::leftPressed, this, &MainWindow::onChooseFolder);
    connect(exportLabel, &PressLabel::leftPressed, this, &MainWindow::onExport);
    connect(analyseLabel, &PressLabel::leftPressed, this, &MainWindow::onAnalyse);
    connect(findChild<PictureBox*>(qs("图片框1")), &PictureBox::leftPressed, this,
            &MainWindow::onBannerPressed);
    for (const char* contact : {"图片框2", "图片框3"}) {
        connect(findChild<PictureBox*>(qs(contact)), &PictureBox::leftPressed, this,
                [this] { showNotice(utf8_to_gbk(kContactNotice)); });
    }
    for (const Hint& hint : kHints) {
        QWidget* box = findChild<QWidget*>(name(hint.control));
        if (auto* multi = qobject_cast<QPlainTextEdit*>(box))
            multi->viewport()->installEventFilter(this);
        else
            box->installEventFilter(this);
    }
}

void MainWindow::buildCollectPage(QWidget* page) {
    label(page, "标签1", {16, 21, 96, 16}, "关键词 一行一个");
    multiLine(page, ctl::kSeeds, {8, 40, 136, 98}, true)->setPlainText(qs("抖音\n快手"));
    checkBox(page, ctl::kMainWordOnly, {8, 142, 128, 25}, "结果必须包含原词", true);

    QGroupBox* rate = groupBox(page, "分组框1", {155, 43, 157, 103}, "频率限制");
    QLabel* delayLabel = label(rate, "标签2", {14, 26, 135, 16}, "查询延时：          秒");
    widenSpacesBefore(delayLabel, 78 + 31 + 3 - 14); // clear of 编辑框_延时 below
    auto* delay = new SpinEdit(1, 100, rate);
    delay->setObjectName(name(ctl::kDelay));
    delay->setGeometry(78, 19, 31, 31);
    delay->setTextValue(QStringLiteral("1"));
    label(rate, "标签3", {13, 66, 56, 24}, "挖掘数量：");
    place<QLineEdit>(rate, ctl::kLimit, 78, 65, 55, 28)->setText(QStringLiteral("30"));

    QGroupBox* sourceBox = groupBox(page, "分组框2", {8, 173, 272, 341}, "数据来源");
    m_sources = place<QListWidget>(sourceBox, ctl::kSourceList, 8, 20, 248, 313);
    for (const SourceRow& row : m_sourceRows) {
        auto* item = new QListWidgetItem(QString::fromStdString(row.label), m_sources);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }

    connect(button(page, "按钮3", {288, 202, 32, 32}, "全"), &QPushButton::clicked, this,
            &MainWindow::onSelectAll);
    connect(button(page, "按钮4", {288, 250, 32, 32}, "国"), &QPushButton::clicked, this,
            &MainWindow::onSelectDomestic);
}

void MainWindow::buildFilterPage(QWidget* page) {
    QGroupBox* box = groupBox(page, "分组框3", {8, 28, 208, 318}, "违禁词列表");
    multiLine(box, ctl::kForbidden, {8, 24, 184, 256}, false)
        ->setPlainText(qs("成人\n色情\n棋牌\nQQ\n微信\nV信\nVX\nqq\nQq\nqQ\nvx"));
}

void MainWindow::buildSettingsPage(QWidget* page) {
    m_hangupBox = place<ShapeBox>(page, "外形框_挂机", 8, 34, 312, 480);
    label(m_hangupBox, "标签6", {8, 8, 272, 64},
          "此模式主要兼容Zelkor软件出品的配套软件。\n普通用户不用配置这个选项。")
        ->setWordWrap(true);
    label(m_hangupBox, "标签7", {8, 96, 104, 24}, "待使用关键词目录：");
    place<QLineEdit>(m_hangupBox, ctl::kHangupDir, 9, 125, 272, 40);
    checkBox(m_hangupBox, ctl::kHangup, {16, 174, 104, 32}, "启用挂机模式", false);
    label(m_hangupBox, "标签8", {21, 217, 256, 198},
          "配套软件一：关键词裂变，把目录里的词继续扩展成更多长尾词。\n"
          "配套软件二：文章生成，按目录里的词批量生成文章草稿。\n"
          "配套软件三：批量发布，把生成的内容发布到您自己的站点。\n"
          "联系方式：support@zelkor.example")
        ->setWordWrap(true);
}

void MainWindow::buildContactPage(QWidget* page) {
    QLabel* text = label(page, "标签13", {8, 28, 304, 140},
                         "Zelkor工作室\n\n"
                         "邮箱：support@zelkor.example\n"
                         "网站：www.zelkor.example\n"
                         "回复时间：工作日 9:00-18:00\n\n"
                         "使用中遇到问题或有新来源的建议，欢迎来信。");
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture(page, "图片框2", {8, 180, 148, 148}, ":/zelkor/contact_mail.jpg");
    picture(page, "图片框3", {164, 180, 148, 148}, ":/zelkor/contact_web.png");
    auto* notices = new UpdateNoticeArea(page); // filled by the update check
    notices->setGeometry(8, 336, 304, 160);
}

// Every change a user or the engine makes reaches the mirror before anything else can read it.
void MainWindow::connectMirror() {
    for (QWidget* w : findChildren<QWidget*>()) {
        const std::string control = w->objectName().toStdString();
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            if (qobject_cast<SpinEdit*>(w->parentWidget())) continue; // the spinner's own line
            connect(e, &QLineEdit::textChanged, this,
                    [this, control](const QString& t) { m_controls->recordText(control, lineText(control, t)); });
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            connect(m, &QPlainTextEdit::textChanged, this,
                    [this, control, m] { m_controls->recordText(control, toGbkLines(m->toPlainText())); });
        } else if (auto* s = qobject_cast<SpinEdit*>(w)) {
            connect(s, &SpinEdit::textValueChanged, this,
                    [this, control](const QString& t) { m_controls->recordText(control, toGbk(t)); });
        } else if (auto* v = qobject_cast<ValueWidget*>(w)) {
            connect(v, &ValueWidget::textValueChanged, this,
                    [this, control](const QString& t) { m_controls->recordText(control, toGbk(t)); });
        } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
            connect(c, &QCheckBox::toggled, this,
                    [this, control](bool on) { m_controls->recordChecked(control, on); });
        }
        recordWidget(w);
    }
    connect(m_sources, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        m_controls->recordItem(m_sources->row(item), item->checkState() == Qt::Checked);
    });
    for (int i = 0; i < m_sources->count(); ++i)
        m_controls->recordItem(i, m_sources->item(i)->checkState() == Qt::Checked);
}

void MainWindow::recordWidget(QWidget* w) {
    const std::string control = w->objectName().toStdString();
    if (control.empty()) return;
    if (auto* e = qobject_cast<QLineEdit*>(w))
        m_controls->recordText(control, lineText(control, e->text()));
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w))
        m_controls->recordText(control, toGbkLines(m->toPlainText()));
    else if (auto* s = qobject_cast<SpinEdit*>(w))
        m_controls->recordText(control, toGbk(s->textValue()));
    else if (auto* v = qobject_cast<ValueWidget*>(w))
        m_controls->recordText(control, toGbk(v->textValue()));
    else if (auto* c = qobject_cast<QCheckBox*>(w)) {
        m_controls->recordChecked(control, c->isChecked());
        m_controls->recordText(control, toGbk(c->text()));
    } else if (auto* b = qobject_cast<QAbstractButton*>(w))
        m_controls->recordText(control, toGbk(b->text()));
    else if (auto* l = qobject_cast<QLabel*>(w))
        m_controls->recordText(control, toGbkLines(l->text()));
}

Text MainWindow::lineText(const std::string& control, const QString& text) const {
    // An empty save folder means the program directory: results never land in the root folder.
    if (control == ctl::kSaveDir && trimSpaces(text).isEmpty()) return toGbk(qstr(m_options.home) + QLatin1Char('/'));
    return toGbk(text);
}

void MainWindow::applyText(const std::string& control, const Text& value) {
    QWidget* w = findChild<QWidget*>(QString::fromStdString(control));
    if (!w) return;
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(toQString(value));
    else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        m->setPlainText(toQStringLines(value));
        // Read back as written: the box shows a lone CR or LF as a line break too, and reading
        // that back as CR LF would turn "\na" into a blank line plus "a".
        m_controls->recordText(control, value);
        return;
    } else if (auto* s = qobject_cast<SpinEdit*>(w))
        s->setTextValue(toQString(value));
    else if (auto* v = qobject_cast<ValueWidget*>(w))
        v->setTextValue(toQString(value));
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(toQString(value));
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(toQStringLines(value));
    recordWidget(w);
}

void MainWindow::applyChecked(const std::string& control, bool value) {
    if (auto* c = findChild<QCheckBox*>(QString::fromStdString(control))) c->setChecked(value);
}

void MainWindow::appendOutput(const Text& text) {
    if (m_noOutput->isChecked()) return;
    QTextCursor caret = m_panel->textCursor();
    caret.movePosition(QTextCursor::End);
    m_panel->setTextCursor(caret);
    m_panel->ensureCursorVisible();
    m_panel->insertPlainText(toQStringLines(text));
    // The mirror holds the panel as GBK with CR LF, so its size is the byte count that matters.
    if (m_controls->text(ctl::kPanel).size() > static_cast<size_t>(ctl::kPanelLimit)) m_panel->clear();
}

void MainWindow::appendOutputs(const std::vector<Text>& texts) {
    if (m_noOutput->isChecked()) return;
    // Where appending them one by one would last have emptied the panel, and what would follow.
    const std::size_t limit = static_cast<std::size_t>(ctl::kPanelLimit);
    std::size_t size = m_controls->text(ctl::kPanel).size();
    std::size_t from = 0;
    bool cleared = false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        size += texts[i].size();
        if (size > limit) {
            size = 0;
            from = i + 1;
            cleared = true;
        }
    }
    if (cleared) m_panel->clear();
    Text rest;
    for (std::size_t i = from; i < texts.size(); ++i)
        rest += texts[i];
    if (rest.empty()) return;
    appendOutput(rest);
}

void MainWindow::showNotice(const Text& text) {
    appendOutput("\r\n\r\n" + text + "\r\n");
    m_notice->setText(toQStringLines(text));
    recordWidget(m_notice);
}

void MainWindow::creationSteps() {
    Controls& controls = *m_controls;
    applyWindowDefaults(controls, m_options.home);
    SettingsStore(SettingsStore::defaultFile(m_options.home)).restore(controls);
    m_sources->item(0)->setCheckState(Qt::Checked);
    m_unattended = applyCommandLine(m_options.arguments, controls, m_options.home);
    setWindowTitle(qs(kCaptionPrefix) + QString::fromLatin1(kVersion));
    if (m_unattended) {
        m_run->controller.setUnattended(true);
        // Nobody is there to answer a question: a run cut short stays in its store, untouched.
        if (!refuseStart()) {
            setWindowState(windowState() | Qt::WindowMinimized);
            startOrStop();
            watchNewRun(nullptr);
        }
    } else {
        // Asked once the window is up, so that it stands behind the question.
        QTimer::singleShot(0, this, &MainWindow::offerResume);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        m_closing = true;
        SettingsStore(SettingsStore::defaultFile(m_options.home)).save(*m_controls);
        if (m_options.afterClose) m_options.afterClose();
    }
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (const Hint& hint : kHints) {
            QWidget* box = findChild<QWidget*>(name(hint.control));
            auto* multi = qobject_cast<QPlainTextEdit*>(box);
            if (watched == box || (multi && watched == multi->viewport())) {
                showNotice(utf8_to_gbk(hint.text));
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event); // the press still places the caret
}

bool MainWindow::refuseStart() {
    QString title;
    Text problem;
    std::string storeError;
    const auto store = parseStoreSpec(gbk_to_utf8(m_controls->text(ctl::kRunStore)), m_options.home, &storeError);
    // Every box of 高级 that cannot be used, in one message. Unattended, only a broken pattern
    // stops the run, as ever: a run without the filters asked for would keep what they meant to
    // drop, while the other boxes fall back to their defaults with a notice.
    QStringList bad;
    for (const QString& line : advancedProblems(findChild<QWidget*>(qs(kAdvancedPage))))
        if (!m_unattended || line.startsWith(qs("包含规则")) || line.startsWith(qs("排除规则"))) bad << line;
    if (!bad.isEmpty()) {
        title = qs("高级设置有误");
        problem = toGbkLines(bad.join(QLatin1Char('\n')));
    } else if (!store) {
        title = qs("运行存储无法使用");
        problem = utf8_to_gbk("运行存储无法使用：" + storeError);
    } else if (store->kind == StoreSpec::Kind::Redis) {
        // A shared run is a thing of zelkor-cli's workers; the window runs on its own store.
        showNotice(utf8_to_gbk("运行存储 " + store->url + " 只供 zelkor-cli 的共享采集使用，本次使用默认存储"));
        m_run->controller.setStore(StoreSpec{});
        return false;
    } else {
        m_run->controller.setStore(*store);
        return false;
    }
    showNotice(utf8_to_gbk("未开始采集：") + problem);
    // Nobody is there to press a button in an unattended run: the panel says it and the window ends.
    if (m_unattended) {
        close();
        return true;
    }
    m_options.showWarning(title, toQStringLines(problem) + qs("\n\n请在“高级”页改正后再点开始。"));
    return true;
}

void MainWindow::offerResume() {
    std::string error;
    const auto spec = parseStoreSpec(gbk_to_utf8(m_controls->text(ctl::kRunStore)), m_options.home, &error);
    if (!spec || spec->kind != StoreSpec::Kind::Sqlite) return;
    // The outcome runs on the window thread, and never once the window is gone (the queue goes
    // with it), so `this` is safe there.
    m_background->post([this, spec = *spec]() -> std::function<void()> {
        std::error_code fsError;
        if (!std::filesystem::exists(spec.path, fsError)) return {};
        std::vector<RunSummary> runs;
        if (auto history = openRunHistory(spec, 1000))
            if (auto listed = (*history)->listRuns()) runs = std::move(*listed);
        // Only the newest run: one the user stopped, or one that later runs followed, is history.
        if (runs.empty() || runs.back().state != StoredRunState::Interrupted) return {};
        return [this, run = runs.back()] { askResume(run); };
    });
}

void MainWindow::askResume(const RunSummary& run) {
    QString seeds = toQStringLines(run.seeds).replace(QLatin1Char('\n'), QStringLiteral("、"));
    if (seeds.size() > 60) seeds = seeds.left(57) + QStringLiteral("…");
    const QString detail = qs("关键词：") + seeds + qs("\n开始于 ") + QString::fromStdString(run.started) +
                           qs("，已查询 %1 个词，已采集 %2 个结果。").arg(run.keywordsDone).arg(run.results);
    QPointer<MainWindow> self(this);
    m_options.askYesNo(windowTitle(), qs("继续上次未完成的采集？"), detail, [self](bool yes) {
        if (self && yes) self->resumeRun();
    });
}

void MainWindow::resumeRun() {
    // Meanwhile the user may have started a run of their own.
    if (m_controls->text(ctl::kStartButton) != utf8_to_gbk(ctl::kCaptionStart) || refuseStart()) return;
    // Opening the database and loading the run's results happen off the window thread. Until
    // they are done the controller is that thread's: Start and 清理缓存 wait, greyed.
    setResuming(true);
    const std::shared_ptr<MiningRun> before = m_run->controller.currentRun();
    const int rows = m_sources->count();
    m_background->post([this, controller = &m_run->controller, controls = m_controls, rows, before]()
                           -> std::function<void()> {
        SourceTicks ticks;
        // As many ticks as the run kept, and no more than the list has rows. The mirror takes
        // them at once, before the run reads them; the list shows them when this is back.
        const StartResult refusal = controller->resume([&](const SourceTicks& kept) {
            for (int i = 0; i < static_cast<int>(kept.size()) && i < rows; ++i) {
                ticks.push_back(kept[static_cast<std::size_t>(i)]);
                controls->recordItem(i, ticks.back());
            }
        });
        return [this, refusal, ticks, before] {
            setResuming(false);
            for (int i = 0; i < static_cast<int>(ticks.size()) && i < m_sources->count(); ++i)
                m_sources->item(i)->setCheckState(ticks[static_cast<std::size_t>(i)] ? Qt::Checked : Qt::Unchecked);
            if (!refusal) {
                watchNewRun(before);
                return;
            }
            QString text;
            if (refusal->why == StartRefusal::NoRunToResume)
                text = qs("无法继续上次的采集：没有未完成的采集");
            else if (refusal->why == StartRefusal::StoreUnusable)
                text = qs("无法继续上次的采集：") + QString::fromStdString(refusal->reason);
            else
                text = startRefusalText(*refusal);
            showNotice(toGbk(text));
            m_options.showWarning(windowTitle(), text);
        };
    });
}

void MainWindow::setResuming(bool on) {
    m_resuming = on;
    for (const char* control : {"按钮_开始", "按钮5"})
        if (auto* b = findChild<QPushButton*>(qs(control))) b->setEnabled(!on);
}

void MainWindow::onStartStop() {
    if (m_resuming) return; // the controller is the resume's until it is back
    if (m_controls->text(ctl::kStartButton) == utf8_to_gbk(ctl::kCaptionStart) && refuseStart()) return;
    const bool stopping = m_run->controller.state() == RunState::Running;
    const std::shared_ptr<MiningRun> run = m_run->controller.currentRun();
    startOrStop();
    // A run that ends by itself gives its summary from the worker; a stopped one from here.
    if (stopping && run && m_run->controller.state() == RunState::Idle) {
        for (const Text& notice : reportNotices(run->report(), run->resilienceInUse()))
            showNotice(notice);
        for (const Text& notice : failureNotices(run->report(), run->resilienceInUse()))
            showNotice(notice);
        m_status->stopped();
    }
    watchNewRun(run);
}

void MainWindow::watchNewRun(const std::shared_ptr<MiningRun>& before) {
    const std::shared_ptr<MiningRun> now = m_run->controller.currentRun();
    if (now && now != before && m_run->controller.state() != RunState::Idle) m_status->watch(now);
}

QString MainWindow::startRefusalText(const StartRefused& refusal) const {
    const QString home = qstr(m_options.home);
    switch (refusal.why) {
    case StartRefusal::HomeBusy:
        return qs("另一个采集正在使用程序目录 ") + home + qs("，请等它结束后再开始。");
    case StartRefusal::HomeUnwritable:
        return qs("程序目录 ") + home + qs(" 无法写入，不能开始采集。");
    case StartRefusal::HangupUnusable:
        return qs("挂机目录无法使用：") + toQStringLines(m_controls->text(ctl::kHangupDir));
    case StartRefusal::StoreUnusable:
        return qs("运行数据无法保存：") + QString::fromStdString(refusal.reason);
    case StartRefusal::NoRunToResume:
        return qs("没有未完成的采集");
    case StartRefusal::Stopped:
        return qs("采集在开始前已停止");
    }
    return {};
}

void MainWindow::leaveOutLossySeeds() {
    auto* box = findChild<QPlainTextEdit*>(name(ctl::kSeeds));
    if (!box) return;
    QStringList kept;
    bool dropped = false;
    int number = 0;
    for (const QString& line : box->toPlainText().split(QLatin1Char('\n'))) {
        ++number;
        // A "?" in place of a character GBK lacks would be asked as if the user had typed it. The
        // notice names the line: the panel cannot show the characters either.
        if (toQString(toGbk(line)) != line) {
            showNotice(utf8_to_gbk("关键词第 " + std::to_string(number) + " 行含有 GBK 无法表示的字符，已跳过"));
            dropped = true;
            continue;
        }
        kept << line;
    }
    if (dropped) m_controls->recordText(ctl::kSeeds, toGbkLines(kept.join(QLatin1Char('\n'))));
}

void MainWindow::startOrStop() {
    if (m_run->controller.state() == RunState::Idle) leaveOutLossySeeds();
    const StartResult refusal = m_run->controller.clickStart();
    if (!refusal) return;
    const QString text = startRefusalText(*refusal);
    // Nobody is there to press a button in an unattended run: say it in the panel and end.
    if (m_unattended) {
        showNotice(toGbk(text));
        close();
        return;
    }
    m_options.showWarning(windowTitle(), text);
}

void MainWindow::onClearCache() {
    if (m_resuming) return;
    m_run->controller.clearCache();
}

void MainWindow::onSelectAll() {
    for (int i = 0; i < m_sources->count(); ++i)
        m_sources->item(i)->setCheckState(Qt::Checked);
    showNotice(
        utf8_to_gbk("youtube和google接口需要软件配合才能访问，如果您无法访问请取消勾选。需要帮助请联系我"));
}

void MainWindow::onSelectDomestic() {
    onSelectAll();
    for (int i : kForeignSources)
        m_sources->item(i)->setCheckState(Qt::Unchecked);
}

void MainWindow::onChooseFolder() {
    const QString chosen = trimSpaces(m_options.chooseFolder(qs("选择默认保存目录"), qstr(m_options.home)));
    // A cancelled dialog keeps the folder the box had.
    if (chosen.isEmpty()) return;
    applyText(std::string(ctl::kSaveDir), toGbk(chosen));
}

void MainWindow::onExport() {
    // Writing, syncing and the xlsx happen off the window thread; the notice comes as ever from
    // the controller, the file browser once the file is there.
    QPointer<MainWindow> self(this);
    m_background->post([self, controller = &m_run->controller, controls = m_controls,
                        home = m_options.home]() -> std::function<void()> {
        const std::optional<std::filesystem::path> file = controller->exportResults();
        if (const auto run = controller->currentRun(); run && controls->checked(ctl::kExportReport))
            writeRunReport(*run, *controls, home);
        return [self, file] {
            if (self && file) self->m_options.showFile(*file);
        };
    });
}

void MainWindow::onProbe() {
    std::vector<SourceRow> rows;
    for (int i = 0; i < m_sources->count() && i < static_cast<int>(m_sourceRows.size()); ++i)
        if (m_sources->item(i)->checkState() == Qt::Checked) rows.push_back(m_sourceRows[static_cast<std::size_t>(i)]);
    if (rows.empty()) {
        showNotice(utf8_to_gbk("请先勾选要测试的来源"));
        return;
    }
    Text keyword;
    for (const Text& line : splitLines(m_controls->text(ctl::kSeeds)))
        if (!line.empty()) {
            keyword = line;
            break;
        }
    if (keyword.empty()) keyword = utf8_to_gbk("手机");
    if (!m_probe) m_probe = new SourceProbeDialog(m_options.home, m_sources->count(), this);
    m_probe->start(std::move(rows), keyword, readAnswerLimits(*m_controls));
    m_probe->show();
    m_probe->raise();
}

void MainWindow::onAnalyse() {
    if (!m_analysis) {
        AnalysisWindow::Hooks hooks;
        hooks.home = m_options.home;
        hooks.currentRun = [this] { return m_run->controller.currentRun(); };
        hooks.wordsAsked = [this] { return m_controls->checked(ctl::kKeywordWords); };
        hooks.store = [this]() -> std::optional<StoreSpec> {
            std::string error;
            return parseStoreSpec(gbk_to_utf8(m_controls->text(ctl::kRunStore)), m_options.home, &error);
        };
        hooks.canResume = [this] {
            return !m_resuming && m_controls->text(ctl::kStartButton) == utf8_to_gbk(ctl::kCaptionStart);
        };
        hooks.resume = [this] { resumeRun(); };
        hooks.showFile = [this](const std::filesystem::path& file) { m_options.showFile(file); };
        hooks.showWarning = m_options.showWarning;
        hooks.chooseSaveFile = m_options.chooseSaveFile;
        m_analysis = new AnalysisWindow(std::move(hooks), this);
    }
    m_analysis->show();
    m_analysis->raise();
    m_analysis->activateWindow();
}

void MainWindow::markSource(int source, bool trouble, const QString& tooltip) {
    if (source < 0 || source >= m_sources->count()) return;
    QListWidgetItem* item = m_sources->item(source);
    // Marks are data of the item, not its check state: the mirror is not told of them.
    const QSignalBlocker quiet(m_sources);
    if (trouble) {
        QPixmap dot(10, 10);
        dot.fill(Qt::transparent);
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
        painter.drawEllipse(1, 1, 8, 8);
        painter.end();
        item->setIcon(QIcon(dot));
        item->setForeground(QColor(0xc6, 0x28, 0x28));
    } else {
        item->setIcon(QIcon());
        item->setForeground(QBrush());
    }
    item->setData(kTroubleRole, trouble);
    item->setToolTip(tooltip);
    m_sources->viewport()->update();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeForSize();
}

void MainWindow::placeForSize() {
    const int dx = std::max(0, width() - kWidth);
    const int dy = std::max(0, height() - kHeight);
    for (const Place& p : kPlaces) {
        QWidget* w = findChild<QWidget*>(qs(p.control));
        if (!w) continue;
        QRect r = p.rect;
        if (p.follow & Right) r.translate(dx, 0);
        if (p.follow & Down) r.translate(0, dy);
        if (p.follow & Wider) r.setWidth(r.width() + dx);
        if (p.follow & Taller) r.setHeight(r.height() + dy);
        w->setGeometry(r);
    }
}

void MainWindow::onBannerPressed(Qt::KeyboardModifiers modifiers) {
    // Ctrl, Shift and Alt are the keys that count; Alt alone reveals the panel.
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    if (held == Qt::AltModifier) m_hangupBox->setVisible(true);
}

} // namespace zelkor::app
