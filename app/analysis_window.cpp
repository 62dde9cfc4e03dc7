#include "app/analysis_window.h"

#include "analysis/run_facts.h"
#include "app/background_work.h"
#include "app/demand_map_view.h"
#include "app/groups_panel.h"
#include "app/qt_text.h"
#include "app/results_model.h"
#include "app/row_words.h"
#include "app/run_pictures.h"
#include "engine/core/control_names.h"
#include "engine/output/rich_export.h"
#include "engine/run/mining_run.h"
#include "engine/store/store_factory.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace zelkor::app {

namespace {

// How long the filter waits for the next key before it runs over every row.
constexpr int kFilterDelayMs = 150;
// A store that another process holds locked is not waited for long: the page says so instead.
constexpr int kHistoryBusyMs = 1000;

QString stateText(StoredRunState state) {
    switch (state) {
    case StoredRunState::Running:
        return qs("正在采集");
    case StoredRunState::Finished:
        return qs("已完成");
    case StoredRunState::Stopped:
        return qs("已停止");
    case StoredRunState::Interrupted:
        return qs("中断（未完成）");
    case StoredRunState::Damaged:
        return qs("有损坏的记录");
    case StoredRunState::Incomplete:
        return qs("有未应答的词（未完成）");
    }
    return {};
}

QString seedsText(const Text& seeds) {
    QString text = toQStringLines(seeds).trimmed().replace(QLatin1Char('\n'), qs("、"));
    if (text.size() > 60) text = text.left(57) + qs("…");
    return text;
}

QString startedText(const std::string& iso) {
    ResultRecord at;
    at.time = iso;
    return ResultsModel::cellText(at, ResultsModel::Time);
}

QPushButton* button(QWidget* parent, const char* name, const char* text) {
    auto* b = new QPushButton(qs(text), parent);
    b->setObjectName(qs(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

AnalysisWindow::AnalysisWindow(Hooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window), m_hooks(std::move(hooks)), m_model(new ResultsModel(this)),
      m_filter(new ResultsFilter(m_model, this)), m_refresh(new QTimer(this)),
      m_filterDelay(new QTimer(this)), m_picturesDelay(new QTimer(this)), m_wordsDelay(new QTimer(this)) {
    if (!m_hooks.chooseSaveFile) {
        m_hooks.chooseSaveFile = [this](const QString& title, const QString& suggested) {
            return QFileDialog::getSaveFileName(this, title, suggested);
        };
    }
    if (!m_hooks.showWarning) {
        m_hooks.showWarning = [this](const QString& title, const QString& text) {
            auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        };
    }
    setObjectName(qs("分析窗口"));
    setWindowTitle(qs("分析"));
    resize(940, 640);
    setMinimumSize(560, 360);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_what = new QLabel(this);
    m_what->setObjectName(qs("标签_分析对象"));
    m_what->setTextFormat(Qt::PlainText);
    top->addWidget(m_what, 1);
    m_current = button(this, "按钮_当前采集", "回到当前采集");
    m_current->setToolTip(qs("表格改为显示主窗口正在进行或刚结束的采集"));
    top->addWidget(m_current);
    layout->addLayout(top);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(qs("分析页"));
    auto* results = new QWidget(m_pages);
    results->setObjectName(qs("结果"));
    m_chartsPage = new QWidget(m_pages);
    m_chartsPage->setObjectName(qs("图表"));
    m_mapPage = new QWidget(m_pages);
    m_mapPage->setObjectName(qs("需求图"));
    auto* history = new QWidget(m_pages);
    history->setObjectName(qs("历史"));
    m_pages->addTab(results, qs("结果"));
    m_pages->addTab(m_chartsPage, qs("图表"));
    m_pages->addTab(m_mapPage, qs("需求图"));
    m_pages->addTab(history, qs("历史"));
    layout->addWidget(m_pages, 1);
    buildResultsPage(results);
    buildChartsPage(m_chartsPage);
    buildMapPage(m_mapPage);
    buildHistoryPage(history);

    m_wordsWork = std::make_unique<BackgroundWork>(this);
    m_work = std::make_unique<BackgroundWork>(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &AnalysisWindow::refreshCurrent);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(kFilterDelayMs);
    connect(m_filterDelay, &QTimer::timeout, this, &AnalysisWindow::applyFilter);
    connect(m_current, &QPushButton::clicked, this, &AnalysisWindow::showCurrent);
    m_picturesDelay->setSingleShot(true);
    connect(m_picturesDelay, &QTimer::timeout, this, &AnalysisWindow::drawPictures);
    m_wordsDelay->setSingleShot(true);
    connect(m_wordsDelay, &QTimer::timeout, this, &AnalysisWindow::cutWords);
    connect(m_pages, &QTabWidget::currentChanged, this, [this, history](int) {
        if (m_pages->currentWidget() == history) refreshHistory();
        schedulePictures();
    });
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_filter, signal, this, &AnalysisWindow::updateCounts);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &AnalysisWindow::updateCounts);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &AnalysisWindow::updateCounts);
    // Rows that come while a choice hides them are counted, and their words cut, all the same.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &AnalysisWindow::updateCounts);
    // Other rows: the groups listed were of the old ones.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_groups->showGroups(nullptr);
        if (!m_cutting) m_wordsState->clear();
    });
    updateCounts();
}

AnalysisWindow::~AnalysisWindow() = default;

int AnalysisWindow::pendingWork() const {
    return m_work->pending() + m_wordsWork->pending();
}

void AnalysisWindow::buildResultsPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    auto* filterRow = new QHBoxLayout;
    auto* filterLabel = new QLabel(qs("筛选："), page);
    filterRow->addWidget(filterLabel);
    m_filterText = new QLineEdit(page);
    m_filterText->setObjectName(qs("编辑框_筛选"));
    m_filterText->setPlaceholderText(qs("输入要找的文字；勾选“正则”时为正则表达式"));
    m_filterText->setClearButtonEnabled(true);
    filterRow->addWidget(m_filterText, 1);
    m_filterColumn = new QComboBox(page);
    m_filterColumn->setObjectName(qs("组合框_筛选列"));
    m_filterColumn->addItem(qs("关键词"), int(ResultsModel::Keyword));
    m_filterColumn->addItem(qs("来源"), int(ResultsModel::Source));
    m_filterColumn->addItem(qs("主词"), int(ResultsModel::Seed));
    m_filterColumn->addItem(qs("父词"), int(ResultsModel::Parent));
    m_filterColumn->addItem(qs("以上任一列"), ResultsFilter::kAllTextColumns);
    filterRow->addWidget(m_filterColumn);
    m_pattern = new QCheckBox(qs("正则"), page);
    m_pattern->setObjectName(qs("选择框_正则"));
    m_pattern->setToolTip(qs("按正则表达式筛选，写法与“高级”页的包含规则相同，不区分大小写"));
    filterRow->addWidget(m_pattern);
    filterRow->addSpacing(12);
    m_wordsBox = new QCheckBox(qs("词根与意图"), page);
    m_wordsBox->setObjectName(qs("选择框_显示词根"));
    m_wordsBox->setToolTip(qs("给每个词加上词根和意图两列，并在右边按词根或意图分组；点一个组只看这一组。"
                              "采集时在“高级”页勾选了“导出词根与意图”的，打开时就显示"));
    filterRow->addWidget(m_wordsBox);
    layout->addLayout(filterRow);
    m_filterProblem = new QLabel(page);
    m_filterProblem->setObjectName(qs("标签_筛选问题"));
    m_filterProblem->setTextFormat(Qt::PlainText);
    m_filterProblem->setStyleSheet(QStringLiteral("color: #c62828;"));
    m_filterProblem->setWordWrap(true);
    m_filterProblem->hide();
    layout->addWidget(m_filterProblem);
    auto* choiceRow = new QHBoxLayout;
    m_mapChoice = new QLabel(page);
    m_mapChoice->setObjectName(qs("标签_图中选择"));
    m_mapChoice->setTextFormat(Qt::PlainText);
    m_clearMapChoice = button(page, "按钮_显示全部", "显示全部");
    choiceRow->addWidget(m_mapChoice, 1);
    choiceRow->addWidget(m_clearMapChoice);
    layout->addLayout(choiceRow);
    m_mapChoice->hide();
    m_clearMapChoice->hide();
    connect(m_clearMapChoice, &QPushButton::clicked, this, &AnalysisWindow::clearMapChoice);

    m_table = new QTableView(page);
    m_table->setObjectName(qs("表格_结果"));
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(true);
    // Rows of one height: the view places any of 10^5 rows without measuring the others.
    QHeaderView* rows = m_table->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const int widths[ResultsModel::ColumnCount] = {230, 110, 110, 200, 48, 150, 48, 56, 90, 110};
    for (int c = 0; c < ResultsModel::ColumnCount; ++c)
        m_table->setColumnWidth(c, widths[c]);
    // The words beside the phrase they are of, where they are seen without scrolling.
    header->moveSection(header->visualIndex(ResultsModel::Root), 1);
    header->moveSection(header->visualIndex(ResultsModel::Tags), 2);
    // The run's own order until a header is clicked; a third click brings it back.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    m_table->installEventFilter(this);
    m_groups = new GroupsPanel(page);
    m_groups->setObjectName(qs("分组"));
    m_groups->hide();
    auto* split = new QSplitter(Qt::Horizontal, page);
    split->setChildrenCollapsible(false);
    split->addWidget(m_table);
    split->addWidget(m_groups);
    split->setStretchFactor(0, 1);
    split->setSizes({700, 220});
    layout->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    m_counts = new QLabel(page);
    m_counts->setObjectName(qs("标签_行数"));
    bottom->addWidget(m_counts);
    m_wordsState = new QLabel(page);
    m_wordsState->setObjectName(qs("标签_词根状态"));
    m_wordsState->setTextFormat(Qt::PlainText);
    bottom->addWidget(m_wordsState, 1);
    QPushButton* copy = button(page, "按钮_复制", "复制选中");
    copy->setToolTip(qs("以制表符分隔复制选中的格子，可直接粘贴到表格软件（Ctrl+C 相同）"));
    bottom->addWidget(copy);
    bottom->addSpacing(12);
    bottom->addWidget(new QLabel(qs("导出格式："), page));
    m_exportFormat = new QComboBox(page);
    m_exportFormat->setObjectName(qs("组合框_导出格式"));
    for (ExportFormat f : {ExportFormat::Csv, ExportFormat::Xlsx, ExportFormat::Jsonl, ExportFormat::Txt}) {
        const std::string_view name = exportFormatName(f);
        m_exportFormat->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), int(f));
    }
    bottom->addWidget(m_exportFormat);
    QPushButton* exportSelected = button(page, "按钮_导出选中", "导出选中行");
    QPushButton* exportShown = button(page, "按钮_导出筛选", "导出筛选结果");
    exportShown->setToolTip(qs("导出表格现在显示的全部行，按显示的顺序"));
    bottom->addWidget(exportSelected);
    bottom->addWidget(exportShown);
    layout->addLayout(bottom);

    connect(m_filterText, &QLineEdit::textChanged, this, [this] { m_filterDelay->start(); });
    connect(m_filterText, &QLineEdit::returnPressed, this, &AnalysisWindow::applyFilter);
    connect(m_filterColumn, &QComboBox::currentIndexChanged, this, &AnalysisWindow::applyFilter);
    connect(m_pattern, &QCheckBox::toggled, this, &AnalysisWindow::applyFilter);
    connect(m_wordsBox, &QCheckBox::toggled, this, &AnalysisWindow::wordsToggled);
    connect(m_groups, &GroupsPanel::choiceChanged, this, &AnalysisWindow::groupChosen);
    connect(copy, &QPushButton::clicked, this, &AnalysisWindow::copySelection);
    connect(exportSelected, &QPushButton::clicked, this, [this] { exportRows(ExportScope::Selection); });
    connect(exportShown, &QPushButton::clicked, this, [this] { exportRows(ExportScope::Shown); });

    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    const std::pair<const char*, std::function<void()>> actions[] = {
        {"复制", [this] { copySelection(); }},
        {"导出选中行…", [this] { exportRows(ExportScope::Selection); }},
        {"导出筛选结果…", [this] { exportRows(ExportScope::Shown); }},
    };
    for (const auto& [text, act] : actions) {
        auto* action = new QAction(qs(text), m_table);
        connect(action, &QAction::triggered, this, act);
        m_table->addAction(action);
    }
}

void AnalysisWindow::buildHistoryPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    m_historyState = new QLabel(page);
    m_historyState->setObjectName(qs("标签_历史状态"));
    m_historyState->setTextFormat(Qt::PlainText);
    m_historyState->setWordWrap(true);
    layout->addWidget(m_historyState);
    m_history = new QTableWidget(0, 6, page);
    m_history->setObjectName(qs("表格_历史"));
    m_history->setHorizontalHeaderLabels(
        {qs("编号"), qs("开始时间"), qs("关键词"), qs("状态"), qs("已查询"), qs("结果数")});
    m_history->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_history->setSelectionMode(QAbstractItemView::SingleSelection);
    m_history->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_history->verticalHeader()->hide();
    m_history->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {50, 150, 300, 110, 70, 70};
    for (int c = 0; c < 6; ++c)
        m_history->setColumnWidth(c, widths[c]);
    layout->addWidget(m_history, 1);
    auto* buttons = new QHBoxLayout;
    QPushButton* refresh = button(page, "按钮_刷新历史", "刷新");
    m_open = button(page, "按钮_查看历史", "查看结果");
    m_resume = button(page, "按钮_继续采集", "继续采集");
    m_resume->setToolTip(qs("从中断处继续这次采集（只能继续最近一次未完成的采集）"));
    buttons->addWidget(refresh);
    buttons->addStretch(1);
    buttons->addWidget(m_open);
    buttons->addWidget(m_resume);
    layout->addLayout(buttons);

    connect(refresh, &QPushButton::clicked, this, &AnalysisWindow::refreshHistory);
    connect(m_history, &QTableWidget::itemSelectionChanged, this, &AnalysisWindow::selectedRunChanged);
    connect(m_history, &QTableWidget::cellDoubleClicked, this, [this] {
        if (auto id = selectedRun()) showStored(*id);
    });
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (auto id = selectedRun()) showStored(*id);
    });
    connect(m_resume, &QPushButton::clicked, this, [this] {
        const auto id = selectedRun();
        if (!id || id != resumableRun()) return;
        if (!m_hooks.canResume || !m_hooks.canResume()) {
            m_hooks.showWarning(windowTitle(), qs("主窗口正在采集：停止后才能继续这次采集。"));
            return;
        }
        if (m_hooks.resume) m_hooks.resume();
        showCurrent();
        showPage(Page::Results);
    });
    selectedRunChanged();
}

void AnalysisWindow::buildChartsPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    auto* scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    auto* inner = new QWidget(scroll);
    auto* charts = new QVBoxLayout(inner);
    m_chartsState = new QLabel(inner);
    m_chartsState->setObjectName(qs("标签_图表状态"));
    m_chartsState->setTextFormat(Qt::PlainText);
    charts->addWidget(m_chartsState);
    const char* const names[] = {"图_来源", "图_层级", "图_增长"};
    for (int i = 0; i < 3; ++i) {
        m_charts[i] = new QSvgWidget(inner);
        m_charts[i]->setObjectName(qs(names[i]));
        charts->addWidget(m_charts[i], 0, Qt::AlignLeft);
    }
    charts->addStretch(1);
    scroll->setWidget(inner);
    layout->addWidget(scroll);
}

void AnalysisWindow::buildMapPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(qs("种子："), page));
    m_mapSeed = new QComboBox(page);
    m_mapSeed->setObjectName(qs("组合框_种子"));
    m_mapSeed->setMinimumContentsLength(12);
    top->addWidget(m_mapSeed);
    QPushButton* in = button(page, "按钮_放大", "放大");
    QPushButton* out = button(page, "按钮_缩小", "缩小");
    QPushButton* whole = button(page, "按钮_适应窗口", "适应窗口");
    for (QPushButton* b : {in, out, whole})
        top->addWidget(b);
    m_mapState = new QLabel(page);
    m_mapState->setObjectName(qs("标签_需求图状态"));
    m_mapState->setTextFormat(Qt::PlainText);
    top->addWidget(m_mapState, 1);
    layout->addLayout(top);
    m_map = new DemandMapView(page);
    m_map->setObjectName(qs("需求图谱"));
    m_map->setToolTip(qs("滚轮缩放，拖动平移；点一个词，表格里只留它和它下面的词"));
    layout->addWidget(m_map, 1);
    connect(in, &QPushButton::clicked, this, [this] { m_map->zoomBy(1.25); });
    connect(out, &QPushButton::clicked, this, [this] { m_map->zoomBy(0.8); });
    connect(whole, &QPushButton::clicked, m_map, &DemandMapView::fit);
    connect(m_mapSeed, &QComboBox::currentIndexChanged, this, &AnalysisWindow::showSeedMap);
    connect(m_map, &DemandMapView::labelClicked, this, &AnalysisWindow::chooseMapLabel);
}

void AnalysisWindow::showPage(Page page) {
    QWidget* pages[] = {m_pages->widget(0), m_chartsPage, m_mapPage, m_pages->widget(3)};
    m_pages->setCurrentWidget(pages[static_cast<int>(page)]);
}

bool AnalysisWindow::picturesPageShown() const {
    return isVisible() && (m_pages->currentWidget() == m_chartsPage || m_pages->currentWidget() == m_mapPage);
}

void AnalysisWindow::schedulePictures() {
    if (!picturesPageShown() || m_drawing || m_picturesDelay->isActive()) return;
    const bool current = m_pictures && m_picturesGeneration == m_generation;
    if (current && m_pictures->rows == m_model->records().size()) return;
    // Something else shown is drawn at once; a run that grows, now and then.
    m_picturesDelay->start(current ? kPicturesMs : 0);
}

void AnalysisWindow::drawPictures() {
    if (m_drawing) return;
    m_drawing = true;
    std::vector<std::string> seeds;
    if (m_showing == Showing::Current && m_run) {
        for (const Text& seed : m_run->seeds())
            seeds.push_back(gbk_to_utf8(seed));
    } else {
        for (const RunSummary& run : m_runs)
            if (run.id == m_storedRun) seeds = seedLines(run.seeds);
    }
    m_chartsState->setText(qs("正在画图…"));
    m_work->post([this, rows = m_model->records(), run = m_run, seeds = std::move(seeds),
                  generation = m_generation]() -> std::function<void()> {
        std::optional<HealthReport> health;
        if (run) health = run->report();
        auto pictures = std::make_shared<const RunPictures>(drawRunPictures(rows, health ? &*health : nullptr, seeds));
        return [this, pictures, generation] {
            m_drawing = false;
            if (generation != m_generation) {
                schedulePictures();
                return;
            }
            m_pictures = pictures;
            m_picturesGeneration = generation;
            showPictures();
            schedulePictures(); // rows may have come meanwhile
        };
    });
}

void AnalysisWindow::showPictures() {
    const std::string* svgs[] = {&m_pictures->services, &m_pictures->depths, &m_pictures->growth};
    for (int i = 0; i < 3; ++i) {
        m_charts[i]->load(QByteArray::fromStdString(*svgs[i]));
        m_charts[i]->setFixedSize(m_charts[i]->renderer()->defaultSize());
    }
    m_chartsState->setText(m_pictures->rows ? qs("%1 条结果").arg(m_pictures->rows) : qs("还没有结果。"));
    const QString chosen = m_mapSeed->currentText();
    {
        const QSignalBlocker quiet(m_mapSeed);
        m_mapSeed->clear();
        for (const SeedPicture& seed : m_pictures->seeds)
            m_mapSeed->addItem(QString::fromStdString(seed.seed));
        const int again = m_mapSeed->findText(chosen);
        m_mapSeed->setCurrentIndex(again >= 0 ? again : 0);
    }
    showSeedMap();
}

void AnalysisWindow::showSeedMap() {
    const int index = m_mapSeed->currentIndex();
    if (!m_pictures || index < 0 || index >= static_cast<int>(m_pictures->seeds.size())) {
        m_map->clear();
        m_mapState->setText(qs("还没有可画的种子。"));
        return;
    }
    const SeedPicture& seed = m_pictures->seeds[static_cast<std::size_t>(index)];
    m_map->showMap(QByteArray::fromStdString(seed.svg), seed.layout);
    QString state = qs("这个种子下共 %1 个词，图中画出 %2 个").arg(seed.layout.phrases).arg(seed.layout.shown);
    if (m_pictures->seedsLeftOut) state += qs("；另有 %1 个种子没有画图").arg(m_pictures->seedsLeftOut);
    m_mapState->setText(state);
}

void AnalysisWindow::chooseMapLabel(int label) {
    const int index = m_mapSeed->currentIndex();
    if (!m_pictures || m_picturesGeneration != m_generation || index < 0 ||
        index >= static_cast<int>(m_pictures->seeds.size()))
        return;
    const SeedPicture& seed = m_pictures->seeds[static_cast<std::size_t>(index)];
    if (label < 0 || label >= static_cast<int>(seed.layout.labels.size())) return;
    std::vector<bool> rows = subtreeRows(*m_pictures, seed, label);
    const auto count = std::count(rows.begin(), rows.end(), true);
    const DemandMapLabel* named = &seed.layout.labels[static_cast<std::size_t>(label)];
    if (named->kind == DemandMapLabel::Kind::More) named = &seed.layout.labels[static_cast<std::size_t>(named->parent)];
    m_groups->clearChoice();
    chooseRows(std::move(rows),
               named->kind == DemandMapLabel::Kind::Seed
                   ? qs("只看种子“%1”的 %2 个词").arg(QString::fromStdString(named->full)).arg(count)
                   : qs("只看“%1”及其下的 %2 个词").arg(QString::fromStdString(named->full)).arg(count));
    showPage(Page::Results);
}

void AnalysisWindow::chooseRows(std::vector<bool> rows, const QString& what) {
    m_filter->setRowSubset(std::move(rows));
    m_mapChoice->setText(what);
    m_mapChoice->show();
    m_clearMapChoice->show();
    updateCounts();
}

void AnalysisWindow::clearMapChoice() {
    m_groups->clearChoice();
    if (m_filter->hasRowSubset()) m_filter->setRowSubset(std::nullopt);
    m_mapChoice->hide();
    m_clearMapChoice->hide();
    updateCounts();
}

void AnalysisWindow::groupChosen() {
    const std::optional<ResultGroup> group = m_groups->chosen();
    if (!group) {
        clearMapChoice();
        return;
    }
    // Rows that come later are in no group until the words are made again, which chooses afresh.
    std::vector<bool> rows(m_model->words() ? m_model->words()->rows() : 0, false);
    for (std::size_t member : group->members)
        if (member < rows.size()) rows[member] = true;
    chooseRows(
        std::move(rows),
        qs("只看分组“%1”的 %2 个词").arg(QString::fromStdString(group->name)).arg(group->members.size()));
}

bool AnalysisWindow::wordsShown() const {
    return m_wordsBox->isChecked();
}

void AnalysisWindow::showWords(bool shown) {
    m_wordsBox->setChecked(shown);
}

void AnalysisWindow::wordsToggled(bool shown) {
    m_wordsProblem.clear();
    m_groups->setVisible(shown);
    const int wordColumns[] = {ResultsModel::Root, ResultsModel::Tags};
    if (shown) {
        const int at = m_filterColumn->findData(ResultsModel::Parent) + 1;
        m_filterColumn->insertItem(at, qs("词根"), int(ResultsModel::Root));
        m_filterColumn->insertItem(at + 1, qs("意图"), int(ResultsModel::Tags));
    } else {
        if (ResultsModel::wordColumn(m_filterColumn->currentData().toInt()))
            m_filterColumn->setCurrentIndex(m_filterColumn->findData(int(ResultsModel::Keyword)));
        for (int column : wordColumns)
            m_filterColumn->removeItem(m_filterColumn->findData(column));
        QHeaderView* header = m_table->horizontalHeader();
        if (ResultsModel::wordColumn(header->sortIndicatorSection()))
            header->setSortIndicator(-1, Qt::AscendingOrder);
        if (m_groups->chosen()) clearMapChoice();
        m_wordsDelay->stop();
        m_model->setWords(nullptr);
        m_groups->showGroups(nullptr);
        m_wordsState->clear();
    }
    updateCounts(); // shows the columns, and asks for the words
}

void AnalysisWindow::scheduleWords() {
    if (!m_wordsBox->isChecked() || m_cutting || m_wordsDelay->isActive() || !m_wordsProblem.isEmpty())
        return;
    const std::shared_ptr<const RowWords>& words = m_model->words();
    if (m_model->records().empty() || (words && words->rows() == m_model->records().size())) return;
    // The first words at once; those of a run that grows now and then, and never more than half the
    // time, since they are cut afresh over every row.
    const bool growing = words && m_showing == Showing::Current && m_run && !m_run->workerDone();
    m_wordsDelay->start(growing ? static_cast<int>(std::max<qint64>(kWordsMs, 2 * m_cuttingMs)) : 0);
}

void AnalysisWindow::cutWords() {
    if (m_cutting || !m_wordsBox->isChecked()) return;
    m_cutting = true;
    const std::size_t rows = m_model->records().size();
    m_wordsState->setText(m_model->words() ? qs("正在按 %1 条结果重新切分词根与意图…").arg(rows)
                                           : qs("正在切分 %1 条结果的词根与意图…").arg(rows));
    m_wordsWork->post([this, records = m_model->records(), home = m_hooks.home,
                       resets = m_model->resets()]() -> std::function<void()> {
        QElapsedTimer timer;
        timer.start();
        Expected<RowWords> made = RowWords::analyse(records, home);
        std::shared_ptr<const RowWords> words;
        QString problem;
        if (made)
            words = std::make_shared<const RowWords>(std::move(*made));
        else
            problem = QString::fromStdString(made.error().message);
        return [this, words, problem, resets, took = timer.elapsed()] {
            m_cutting = false;
            m_cuttingMs = took;
            if (!m_wordsBox->isChecked() || resets != m_model->resets()) {
                scheduleWords();
                return;
            }
            if (!words) {
                m_wordsProblem = problem;
                m_wordsState->setText(qs("无法切分词根与意图：") + problem);
                return;
            }
            m_model->setWords(words);
            m_groups->showGroups(words);
            const std::vector<ResultGroup>& roots = words->groups(GroupBy::Root);
            const auto named = std::count_if(roots.begin(), roots.end(),
                                             [](const ResultGroup& g) { return g.name != kNoRootGroup; });
            m_wordsState->setText(qs("%1 个词根").arg(named));
            if (m_groups->chosen()) groupChosen(); // its rows as the words now have them
            scheduleWords();
        };
    });
}

void AnalysisWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_refresh->start();
    refreshCurrent();
    refreshHistory();
}

void AnalysisWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_refresh->stop();
}

bool AnalysisWindow::eventFilter(QObject* watched, QEvent* event) {
    // The view's own Ctrl+C copies one cell; this one copies what is selected.
    if (watched == m_table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void AnalysisWindow::startShowing() {
    ++m_generation;
    m_copied = 0;
    m_copying = false;
    m_model->setRecords({});
    clearMapChoice();
}

void AnalysisWindow::showCurrent() {
    m_showing = Showing::Current;
    m_run.reset();
    startShowing();
    m_wordsBox->setChecked(false);
    refreshCurrent();
    updateCounts();
}

void AnalysisWindow::refreshCurrent() {
    selectedRunChanged(); // a run may have started or ended since
    if (m_showing != Showing::Current) return;
    std::shared_ptr<MiningRun> run = m_hooks.currentRun ? m_hooks.currentRun() : nullptr;
    if (run != m_run) {
        m_run = std::move(run);
        startShowing();
        m_wordsBox->setChecked(m_run && m_hooks.wordsAsked && m_hooks.wordsAsked());
    }
    if (!m_run || m_copying) return;
    m_copying = true;
    m_work->post([this, run = m_run, from = m_copied, generation = m_generation]() -> std::function<void()> {
        std::vector<ResultRecord> records = run->resultsFrom(from);
        // On the window thread, and never once the window is gone (the queue goes with it).
        return [this, generation, records = std::move(records)]() mutable {
            if (generation != m_generation) return;
            m_copying = false;
            if (records.empty()) return;
            m_copied += records.size();
            // A first batch as large as a resumed run's is laid out and sorted once, not row by row.
            if (m_model->rowCount() == 0)
                m_model->setRecords(std::move(records));
            else
                m_model->append(std::move(records));
        };
    });
}

void AnalysisWindow::showStored(std::int64_t id) {
    const std::optional<StoreSpec> spec = m_historySpec ? m_historySpec : (m_hooks.store ? m_hooks.store() : std::nullopt);
    if (!spec || spec->kind != StoreSpec::Kind::Sqlite) return;
    m_showing = Showing::Stored;
    m_storedRun = id;
    m_run.reset();
    startShowing();
    QString about = qs("历史采集 #%1").arg(id);
    for (const RunSummary& run : m_runs)
        if (run.id == id)
            about += qs("（%1 开始，关键词：%2）").arg(startedText(run.started), seedsText(run.seeds));
    m_what->setText(about + qs("：正在读取…"));
    m_current->setEnabled(true);
    m_wordsBox->setChecked(false);
    showPage(Page::Results);
    m_work->post([this, spec = *spec, id, generation = m_generation, about]() -> std::function<void()> {
        std::vector<ResultRecord> records;
        bool wordsAsked = false;
        QString problem;
        auto history = openRunHistory(spec, kHistoryBusyMs);
        if (!history) {
            problem = QString::fromStdString(history.error().message);
        } else if (auto read = (*history)->runResults(std::to_string(id))) {
            records = std::move(*read);
            // Options that cannot be read only leave the words unasked.
            if (auto options = (*history)->runOptions(std::to_string(id)))
                for (const auto& [control, value] : *options)
                    if (control == ctl::kKeywordWords) wordsAsked = value == "1";
        } else {
            problem = QString::fromStdString(read.error().message);
        }
        return [this, generation, about, problem, wordsAsked, records = std::move(records)]() mutable {
            if (generation != m_generation) return;
            if (!problem.isEmpty()) {
                m_what->setText(about + qs("：无法读取（") + problem + qs("）"));
                return;
            }
            m_model->setRecords(std::move(records));
            m_what->setText(about);
            m_wordsBox->setChecked(wordsAsked);
            updateCounts();
        };
    });
}

void AnalysisWindow::refreshHistory() {
    const std::optional<StoreSpec> spec = m_hooks.store ? m_hooks.store() : std::nullopt;
    if (!spec || spec->kind != StoreSpec::Kind::Sqlite) {
        historyRead(std::nullopt, {},
                    qs("历史记录只保存在数据库存储里：在主窗口“高级”页把“运行存储”选为 SQLite 数据库，"
                       "以后的每次采集都会列在这里，未完成的也可以从这里继续。"));
        return;
    }
    m_historyState->setText(qs("正在读取历史记录…"));
    m_work->post([this, spec = *spec]() -> std::function<void()> {
        std::vector<RunSummary> runs;
        QString problem;
        std::error_code error;
        // Looking must not create the database: a store nobody has run in holds no history.
        if (!std::filesystem::exists(spec.path, error)) {
            problem = qs("还没有历史记录：") + QString::fromStdString(spec.path.string()) + qs(" 尚未创建。");
        } else if (auto history = openRunHistory(spec, kHistoryBusyMs); !history) {
            problem = qs("无法读取历史记录：") + QString::fromStdString(history.error().message);
        } else if (auto listed = (*history)->listRuns(); !listed) {
            problem = qs("无法读取历史记录：") + QString::fromStdString(listed.error().message);
        } else {
            runs = std::move(*listed);
        }
        return [this, spec, runs = std::move(runs), problem]() mutable {
            historyRead(spec, std::move(runs), problem);
        };
    });
}

void AnalysisWindow::historyRead(std::optional<StoreSpec> spec, std::vector<RunSummary> runs, QString problem) {
    const std::optional<std::int64_t> selected = selectedRun();
    m_historySpec = std::move(spec);
    m_runs = std::move(runs);
    const QSignalBlocker quiet(m_history);
    m_history->clearSelection();
    m_history->setRowCount(static_cast<int>(m_runs.size()));
    int row = 0;
    int reselect = -1;
    for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it, ++row) { // newest first
        const QString cells[] = {QString::number(it->id), startedText(it->started), seedsText(it->seeds),
                                 stateText(it->state), QString::number(it->keywordsDone),
                                 QString::number(it->results)};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(it->id));
            if (c == 0 || c >= 4) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_history->setItem(row, c, item);
        }
        if (selected && *selected == it->id) reselect = row;
    }
    if (reselect >= 0) m_history->selectRow(reselect);
    if (problem.isEmpty() && m_historySpec)
        problem = qs("%1 次采集，保存在 %2").arg(m_runs.size()).arg(QString::fromStdString(m_historySpec->path.string()));
    m_historyState->setText(problem);
    selectedRunChanged();
}

std::optional<std::int64_t> AnalysisWindow::selectedRun() const {
    const QList<QTableWidgetItem*> items = m_history->selectedItems();
    if (items.isEmpty()) return std::nullopt;
    return items.front()->data(Qt::UserRole).toLongLong();
}

std::optional<std::int64_t> AnalysisWindow::resumableRun() const {
    // As the engine picks it: the newest run not finished and not going on in a process.
    for (auto it = m_runs.rbegin(); it != m_runs.rend(); ++it) {
        if (it->state == StoredRunState::Stopped || it->state == StoredRunState::Interrupted ||
            it->state == StoredRunState::Incomplete)
            return it->id;
        if (it->state == StoredRunState::Damaged) return std::nullopt;
    }
    return std::nullopt;
}

void AnalysisWindow::selectedRunChanged() {
    const std::optional<std::int64_t> id = selectedRun();
    m_open->setEnabled(id.has_value());
    m_resume->setEnabled(id && id == resumableRun() && m_hooks.canResume && m_hooks.canResume());
}

void AnalysisWindow::applyFilter() {
    m_filterDelay->stop();
    const auto mode = m_pattern->isChecked() ? ResultsFilter::Mode::Pattern : ResultsFilter::Mode::Plain;
    const std::optional<QString> problem =
        m_filter->setFilter(m_filterText->text(), mode, m_filterColumn->currentData().toInt());
    m_filterProblem->setText(problem ? qs("正则表达式有误，未筛选：") + *problem : QString());
    m_filterProblem->setVisible(problem.has_value());
    updateCounts();
}

void AnalysisWindow::updateCounts() {
    const int all = m_model->rowCount();
    const int shown = m_filter->rowCount();
    for (int column : {ResultsModel::Hits, ResultsModel::Services})
        m_table->setColumnHidden(column, !m_model->hitsCounted());
    for (int column : {ResultsModel::Root, ResultsModel::Tags})
        m_table->setColumnHidden(column, !m_wordsBox->isChecked());
    m_counts->setText(shown == all ? qs("共 %1 条").arg(all) : qs("共 %1 条，显示 %2 条").arg(all).arg(shown));
    if (m_showing == Showing::Current) {
        m_what->setText(m_run ? qs("当前采集：%1 条结果").arg(all) : qs("还没有采集：主窗口开始采集后，结果会陆续出现在这里。"));
        m_current->setEnabled(false);
    }
    schedulePictures();
    scheduleWords();
}

void AnalysisWindow::copySelection() {
    const QString text = selectionText(
        *m_table->selectionModel(), [this](int column) { return !m_table->isColumnHidden(column); },
        [this](int column) { return m_table->horizontalHeader()->visualIndex(column); });
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void AnalysisWindow::exportRows(ExportScope scope) {
    const std::vector<int> rows = scope == ExportScope::Selection
                                      ? m_filter->sourceRowsAt(selectedRows(*m_table->selectionModel()))
                                      : m_filter->shownSourceRows();
    std::vector<ResultRecord> records;
    records.reserve(rows.size());
    for (int row : rows)
        records.push_back(m_model->record(row));
    if (records.empty()) {
        m_hooks.showWarning(windowTitle(), scope == ExportScope::Selection ? qs("没有选中的行可以导出。")
                                                                           : qs("表格里没有可以导出的行。"));
        return;
    }
    const auto format = static_cast<ExportFormat>(m_exportFormat->currentData().toInt());
    const std::string_view ext = exportExtension(format);
    const QString extension = QString::fromLatin1(ext.data(), static_cast<qsizetype>(ext.size()));
    const QString suggested =
        QString::fromStdString((m_hooks.home / "Zelkor长尾词_分析").string()) + extension;
    QString chosen = m_hooks.chooseSaveFile(qs("导出 %1 行").arg(records.size()), suggested);
    if (chosen.isEmpty()) return;
    if (!chosen.endsWith(extension, Qt::CaseInsensitive)) chosen += extension;
    const std::filesystem::path file = chosen.toStdString();
    std::vector<std::filesystem::path> kept;
    if (const auto spec = m_hooks.store ? m_hooks.store() : std::nullopt; spec && spec->kind == StoreSpec::Kind::Sqlite)
        kept.push_back(spec->path);
    // The columns the table shows, as `export` writes them: hits counted, then the words.
    ExtraColumns extra = hitColumns(records);
    if (const std::shared_ptr<const RowWords>& words = m_model->words(); words && m_wordsBox->isChecked()) {
        ExtraColumn root{"root", {}, false}, tags{"tags", {}, false};
        for (int row : rows) {
            const auto at = static_cast<std::size_t>(row);
            root.cells.push_back(at < words->rows() ? words->root(at).utf8 : std::string());
            tags.cells.push_back(at < words->rows() ? words->tags(at).utf8 : std::string());
        }
        extra.push_back(std::move(root));
        extra.push_back(std::move(tags));
    }
    m_work->post([this, file, format, kept, extra = std::move(extra),
                  records = std::move(records)]() -> std::function<void()> {
        std::string error;
        const bool written = writeResultsFile(file, records, format, &error, kept, {}, extra);
        return [this, file, written, error] {
            if (!written) {
                m_hooks.showWarning(windowTitle(), qs("导出失败：") + QString::fromStdString(error));
                return;
            }
            if (m_hooks.showFile) m_hooks.showFile(file);
        };
    });
}

} // namespace zelkor::app
