#include "app/run_status.h"

#include "app/background_work.h"
#include "app/qt_text.h"
#include "engine/run/mining_run.h"
#include "engine/core/program_dir.h"
#include "engine/output/run_report.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

namespace zelkor::app {

QString durationText(double seconds) {
    const long long s = std::max<long long>(0, std::llround(seconds));
    if (s < 60) return QStringLiteral("%1 秒").arg(s);
    if (s < 3600) return QStringLiteral("%1 分 %2 秒").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 小时 %2 分").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'));
}

std::vector<int> ServiceTrouble::update(const HealthReport& report, const QString& clock) {
    std::vector<int> changed;
    for (const ServiceReport& s : report.services) {
        State& state = m_services[s.source];
        const std::uint64_t good = s.ok + s.empty;
        const std::uint64_t oldGood = state.requests - state.failed - state.blocked;
        const std::uint64_t newFailed = s.failed - std::min(s.failed, state.failed);
        const std::uint64_t newBlocked = s.blocked - std::min(s.blocked, state.blocked);
        const bool wasTrouble = state.trouble;
        state.source = s.source;
        state.label = s.label;
        if (good > oldGood) {
            state.badInRow = 0;
            state.lastBlocked = false;
        } else if (newFailed + newBlocked > 0) {
            state.badInRow += static_cast<int>(newFailed + newBlocked);
            state.lastBlocked = newBlocked > 0;
            state.lastFailureAt = clock;
        }
        state.requests = s.ok + s.empty + s.failed + s.blocked;
        state.failed = s.failed;
        state.blocked = s.blocked;
        state.trouble = state.badInRow >= 2 || (state.badInRow >= 1 && state.lastBlocked);
        if (state.trouble != wasTrouble || (state.trouble && newFailed + newBlocked > 0))
            changed.push_back(s.source);
    }
    return changed;
}

std::vector<const ServiceTrouble::State*> ServiceTrouble::inTrouble() const {
    std::vector<const State*> out;
    for (const auto& [source, state] : m_services)
        if (state.trouble) out.push_back(&state);
    return out;
}

QString ServiceTrouble::tooltip(const State& state) {
    const QString what = state.lastBlocked ? QStringLiteral("被拦截（HTTP 403、429、503 或验证页）")
                                           : QStringLiteral("请求失败（无应答、出错或应答不完整）");
    return QStringLiteral(
               "%1：连续 %2 次没有得到应答\n最近一次：%3 %4\n本次运行：请求 %5 次，失败 %6，被拦截 %7")
        .arg(toQString(state.label))
        .arg(state.badInRow)
        .arg(state.lastFailureAt, what)
        .arg(state.requests)
        .arg(state.failed)
        .arg(state.blocked);
}

std::vector<Text> failureNotices(const HealthReport& report, bool summaryHadServices) {
    std::vector<Text> notices;
    bool anyFailed = false;
    for (const ServiceReport& s : report.services) {
        if (s.failed + s.blocked == 0) continue;
        anyFailed = true;
        if (summaryHadServices) continue;
        HealthReport one;
        one.services.push_back(s);
        notices.push_back(reportNotices(one, true).front());
    }
    if (anyFailed) notices.push_back(utf8_to_gbk("有来源没有应答：可点“测试来源”看看各来源现在的应答"));
    return notices;
}

std::optional<Text> outcomeNotice(RunOutcome outcome, const AnswerTally& answers, bool kept) {
    // What zelkor-cli's exit status says, for a run that did not simply end well.
    switch (outcome) {
    case RunOutcome::Incomplete:
        return utf8_to_gbk("采集未完成：" + std::to_string(answers.unanswered) + " 个关键词没有得到应答" +
                           (kept ? "，已留在运行数据中，继续上次的采集时先查询它们" : ""));
    case RunOutcome::NoAnswers:
        return utf8_to_gbk("采集没有结果：没有任何请求得到应答（没有网络、代理不可用，或来源都拒绝了本机）");
    case RunOutcome::StoreFailed:
        return utf8_to_gbk("采集中止：运行数据无法保存");
    case RunOutcome::Finished:
    case RunOutcome::Limit:
    case RunOutcome::Stopped:
        break;
    }
    return std::nullopt;
}

RunStatus::RunStatus(QStatusBar* bar, Hooks hooks, QObject* parent)
    : QObject(parent), m_bar(bar), m_text(new QLabel(bar)), m_open(new QPushButton(bar)), m_report(new QPushButton(bar)),
      m_analyse(new QPushButton(bar)), m_timer(new QTimer(this)), m_hooks(std::move(hooks)) {
    m_text->setObjectName(QStringLiteral("标签_进度"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
    m_open->setObjectName(QStringLiteral("按钮_打开目录"));
    m_open->setText(QStringLiteral("打开文件夹"));
    m_open->setToolTip(QStringLiteral("在文件管理器中显示结果文件"));
    m_open->setAutoDefault(false);
    m_open->setFlat(true);
    m_open->setStyleSheet(
        QStringLiteral("QPushButton { color: #1565c0; text-decoration: underline; padding: 0 4px; }"));
    m_open->hide();
    m_report->setObjectName(QStringLiteral("按钮_打开报告"));
    m_report->setText(QStringLiteral("打开报告"));
    m_report->setToolTip(QStringLiteral("写出这次采集的网页报告（结果文件旁的 .html）并用浏览器打开"));
    m_report->setAutoDefault(false);
    m_report->setFlat(true);
    m_report->setStyleSheet(m_open->styleSheet());
    m_report->hide();
    m_analyse->setObjectName(QStringLiteral("按钮_查看分析"));
    m_analyse->setText(QStringLiteral("查看分析"));
    m_analyse->setToolTip(QStringLiteral("在分析窗口里排序、筛选、复制和导出这次的结果"));
    m_analyse->setAutoDefault(false);
    m_analyse->setFlat(true);
    m_analyse->setStyleSheet(m_open->styleSheet());
    m_analyse->hide();
    // The bar runs past the window's right edge by the layout's own measure: the button follows
    // the text instead of sitting at the bar's far end.
    m_bar->addWidget(m_text);
    m_bar->addWidget(m_open);
    m_bar->addWidget(m_report);
    m_bar->addWidget(m_analyse);
    auto* rest = new QWidget(bar);
    m_bar->addWidget(rest, 1);
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!m_file.empty() && m_hooks.showFile) m_hooks.showFile(m_file);
    });
    connect(m_report, &QPushButton::clicked, this, [this] {
        if (m_run && m_hooks.openReport) m_hooks.openReport(m_run);
    });
    connect(m_analyse, &QPushButton::clicked, this, [this] {
        if (m_hooks.analyse) m_hooks.analyse();
    });
    m_sampler = std::make_unique<BackgroundWork>(this);
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &RunStatus::tick);
}

RunStatus::~RunStatus() = default;

void RunStatus::watch(std::shared_ptr<MiningRun> run) {
    for (const auto& [source, state] : m_trouble.services())
        if (state.trouble && m_hooks.markSource) m_hooks.markSource(source, false, {});
    m_trouble = {};
    m_run = std::move(run);
    ++m_generation;
    m_looking = false;
    m_ended = false;
    m_depth = std::make_shared<DepthReading>();
    m_recent.clear();
    m_file.clear();
    m_open->hide();
    m_report->hide();
    m_analyse->hide();
    m_text->setToolTip({});
    m_timer->start();
    tick();
}

void RunStatus::stopped() {
    if (!m_run || m_ended) return;
    m_timer->stop();
    m_ended = true;
    post(true, RunEnd::Stopped);
}

void RunStatus::tick() {
    if (!m_run || m_looking || m_ended) return;
    post(false, std::nullopt);
}

void RunStatus::post(bool last, std::optional<RunEnd> end) {
    m_looking = true;
    m_sampler->post([this, run = m_run, depth = m_depth, last, end,
                     generation = m_generation]() -> std::function<void()> {
        Snapshot snap = look(*run, *depth, last);
        if (end) snap.end = end;
        // Runs on the window thread, and never once this object is gone (the queue goes with it).
        return [this, snap = std::move(snap), generation] {
            if (generation != m_generation) return;
            m_looking = false;
            if (snap.last)
                showEnd(snap);
            else if (!m_ended)
                show(snap);
        };
    });
}

RunStatus::Snapshot RunStatus::look(const MiningRun& run, DepthReading& depth, bool last) {
    Snapshot snap;
    snap.end = run.end();
    snap.last = last || snap.end.has_value();
    snap.words = run.acceptedCount();
    snap.queue = run.queueSize();
    snap.report = run.report();
    snap.resilience = run.resilienceInUse();
    snap.outcome = run.outcome();
    snap.answers = run.answers();
    snap.unansweredKept = run.unansweredKept();
    const auto now = std::chrono::steady_clock::now();
    if (snap.words > 0 && snap.words != depth.words && now >= depth.next) {
        QElapsedTimer cost;
        cost.start();
        const std::vector<ResultRecord> results = run.results();
        if (!results.empty()) depth.depth = results.back().depth;
        depth.words = snap.words;
        depth.next =
            now + std::max<std::chrono::milliseconds>(std::chrono::milliseconds(500),
                                                      std::chrono::milliseconds(50 * cost.elapsed()));
    }
    snap.depth = depth.depth;
    if (snap.last) {
        // The words the results file holds: a word queued without its main word is counted by
        // the run but neither shown nor kept.
        snap.results = run.results().size();
        snap.file = gbkToPath(run.resultsPathText());
        std::error_code error;
        snap.fileThere = std::filesystem::exists(snap.file, error);
    }
    return snap;
}

void RunStatus::markTrouble(const HealthReport& report) {
    for (int source : m_trouble.update(report, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))) {
        const ServiceTrouble::State& state = m_trouble.services().at(source);
        if (m_hooks.markSource)
            m_hooks.markSource(source, state.trouble,
                               state.trouble ? ServiceTrouble::tooltip(state) : QString());
    }
}

void RunStatus::show(const Snapshot& snap) {
    const HealthReport& report = snap.report;
    markTrouble(report);

    m_recent.emplace_back(report.seconds, snap.words);
    while (m_recent.size() > 2 && m_recent.front().first < report.seconds - 60)
        m_recent.pop_front();
    const double span = report.seconds - m_recent.front().first;
    const double perMinute = span >= 5            ? (snap.words - m_recent.front().second) * 60.0 / span
                             : report.seconds > 0 ? snap.words * 60.0 / report.seconds
                                                  : 0.0;

    QString text = QStringLiteral("词数 %1 · 队列 %2").arg(snap.words).arg(snap.queue);
    if (snap.depth) text += QStringLiteral(" · 层级 %1").arg(*snap.depth);
    text += QStringLiteral(" · 每分钟 %1 词 · 用时 %2")
                .arg(std::lround(perMinute))
                .arg(durationText(report.seconds));
    const auto trouble = m_trouble.inTrouble();
    QString names;
    if (!trouble.empty()) {
        text += QStringLiteral(" · %1 个来源连续失败").arg(trouble.size());
        QStringList list;
        for (const ServiceTrouble::State* s : trouble)
            list << toQString(s->label);
        names = QStringLiteral("连续失败的来源：") + list.join(QStringLiteral("、"));
    }
    m_text->setText(text);
    m_text->setToolTip(names.isEmpty() ? QStringLiteral("层级：最新结果在第几层（种子的答案为第 1 层）")
                                       : names);
}

void RunStatus::showEnd(const Snapshot& snap) {
    m_timer->stop();
    m_ended = true;
    const HealthReport& report = snap.report;
    markTrouble(report);
    QString head = QStringLiteral("采集完成");
    QStringList why;
    switch (snap.end.value_or(RunEnd::Stopped)) {
    case RunEnd::QueueDry:
        why << QStringLiteral("队列已空");
        break;
    case RunEnd::LimitReached:
        why << QStringLiteral("已达到挖掘数量上限");
        break;
    case RunEnd::NoSeeds:
        why << QStringLiteral("没有关键词");
        break;
    case RunEnd::StoreFailed:
        head = QStringLiteral("采集中止");
        why << QStringLiteral("运行数据无法保存");
        break;
    case RunEnd::ProxiesGone:
        head = QStringLiteral("采集中止");
        why << QStringLiteral("所有代理都已停用");
        break;
    case RunEnd::Stopped:
        head = QStringLiteral("采集已停止");
        break;
    }
    std::uint64_t unanswered = 0;
    for (const ServiceReport& s : report.services)
        unanswered += s.failed + s.blocked;
    if (unanswered) why << QStringLiteral("%1 个请求没有得到应答").arg(unanswered);
    if (snap.end != RunEnd::Stopped && snap.answers.unanswered)
        why << QStringLiteral("%1 个关键词没有得到应答").arg(snap.answers.unanswered);
    QString text =
        QStringLiteral("%1：%2 个词，用时 %3").arg(head).arg(snap.results).arg(durationText(report.seconds));
    if (!why.isEmpty()) text += QStringLiteral("（") + why.join(QStringLiteral("；")) + QStringLiteral("）");
    if (snap.fileThere) {
        m_file = snap.file;
        text += QStringLiteral("　结果文件：") + QString::fromStdString(snap.file.string());
        m_open->show();
    } else {
        text += QStringLiteral("　结果尚未保存，可点“导出数据”");
    }
    m_text->setText(text);
    m_text->setToolTip(text);
    m_report->setVisible(snap.results > 0 && m_hooks.reportWanted && m_hooks.reportWanted());
    if (m_hooks.analyse) m_analyse->show();

    // A stopped run's summary is given where Stop is pressed.
    if (snap.end != RunEnd::Stopped && m_hooks.notice) {
        for (const Text& notice : failureNotices(report, snap.resilience))
            m_hooks.notice(notice);
        if (snap.outcome)
            if (const auto said = outcomeNotice(*snap.outcome, snap.answers, snap.unansweredKept))
                m_hooks.notice(*said);
    }
}

} // namespace zelkor::app
