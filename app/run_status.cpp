#include "app/run_status.h"

#include "app/qt_text.h"
#include "engine/run/mining_run.h"
#include "engine/core/program_dir.h"
#include "engine/output/run_report.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHBoxLayout>
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
        if (state.trouble != wasTrouble || (state.trouble && newFailed + newBlocked > 0)) changed.push_back(s.source);
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
    return QStringLiteral("%1：连续 %2 次没有得到应答\n最近一次：%3 %4\n本次运行：请求 %5 次，失败 %6，被拦截 %7")
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

RunStatus::RunStatus(QStatusBar* bar, Hooks hooks, QObject* parent)
    : QObject(parent), m_bar(bar), m_text(new QLabel(bar)), m_open(new QPushButton(bar)), m_timer(new QTimer(this)),
      m_hooks(std::move(hooks)) {
    m_text->setObjectName(QStringLiteral("标签_进度"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse); // the path can be copied
    m_open->setObjectName(QStringLiteral("按钮_打开目录"));
    m_open->setText(QStringLiteral("打开文件夹"));
    m_open->setToolTip(QStringLiteral("在文件管理器中显示结果文件"));
    m_open->setAutoDefault(false);
    m_open->setFlat(true);
    m_open->setStyleSheet(QStringLiteral("QPushButton { color: #1565c0; text-decoration: underline; padding: 0 4px; }"));
    m_open->hide();
    // The bar runs past the window's right edge by the layout's own measure: the button follows
    // the text instead of sitting at the bar's far end.
    m_bar->addWidget(m_text);
    m_bar->addWidget(m_open);
    auto* rest = new QWidget(bar);
    m_bar->addWidget(rest, 1);
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!m_file.empty() && m_hooks.showFile) m_hooks.showFile(m_file);
    });
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &RunStatus::sample);
}

RunStatus::~RunStatus() = default;

bool RunStatus::watching() const {
    return m_timer->isActive();
}

void RunStatus::watch(std::shared_ptr<MiningRun> run) {
    for (const auto& [source, state] : m_trouble.services())
        if (state.trouble && m_hooks.markSource) m_hooks.markSource(source, false, {});
    m_trouble = {};
    m_run = std::move(run);
    m_recent.clear();
    m_depth.reset();
    m_depthWords = -1;
    m_nextDepth = {};
    m_file.clear();
    m_open->hide();
    m_text->setToolTip({});
    m_timer->start();
    sample();
}

void RunStatus::stopped() {
    if (!m_run || !m_timer->isActive()) return;
    finish(RunEnd::Stopped);
}

void RunStatus::updateDepth(int words) {
    const auto now = std::chrono::steady_clock::now();
    if (words == 0 || words == m_depthWords || now < m_nextDepth) return;
    QElapsedTimer cost;
    cost.start();
    const std::vector<ResultRecord> results = m_run->results();
    if (!results.empty()) m_depth = results.back().depth;
    m_depthWords = words;
    m_nextDepth = now + std::max<std::chrono::milliseconds>(std::chrono::milliseconds(500),
                                                            std::chrono::milliseconds(50 * cost.elapsed()));
}

void RunStatus::sample() {
    if (!m_run) return;
    if (const std::optional<RunEnd> end = m_run->end()) {
        finish(end);
        return;
    }
    const int words = m_run->acceptedCount();
    const std::size_t queue = m_run->queueSize();
    const HealthReport report = m_run->report();
    updateDepth(words);

    for (int source : m_trouble.update(report, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))) {
        const ServiceTrouble::State& state = m_trouble.services().at(source);
        if (m_hooks.markSource) m_hooks.markSource(source, state.trouble, state.trouble ? ServiceTrouble::tooltip(state) : QString());
    }

    m_recent.emplace_back(report.seconds, words);
    while (m_recent.size() > 2 && m_recent.front().first < report.seconds - 60)
        m_recent.pop_front();
    const double span = report.seconds - m_recent.front().first;
    const double perMinute = span >= 5 ? (words - m_recent.front().second) * 60.0 / span
                             : report.seconds > 0 ? words * 60.0 / report.seconds
                                                  : 0.0;

    QString text = QStringLiteral("词数 %1 · 队列 %2").arg(words).arg(queue);
    if (m_depth) text += QStringLiteral(" · 层级 %1").arg(*m_depth);
    text += QStringLiteral(" · 每分钟 %1 词 · 用时 %2").arg(std::lround(perMinute)).arg(durationText(report.seconds));
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

void RunStatus::finish(std::optional<RunEnd> end) {
    m_timer->stop();
    const HealthReport report = m_run->report();
    for (int source : m_trouble.update(report, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))) {
        const ServiceTrouble::State& state = m_trouble.services().at(source);
        if (m_hooks.markSource) m_hooks.markSource(source, state.trouble, state.trouble ? ServiceTrouble::tooltip(state) : QString());
    }
    // The words the results file holds: a word queued without its main word is counted by the
    // run but neither shown nor kept.
    const std::size_t words = m_run->results().size();
    QString head = QStringLiteral("采集完成");
    QStringList why;
    switch (end.value_or(RunEnd::Stopped)) {
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
    case RunEnd::Stopped:
        head = QStringLiteral("采集已停止");
        break;
    }
    std::uint64_t unanswered = 0;
    for (const ServiceReport& s : report.services)
        unanswered += s.failed + s.blocked;
    if (unanswered) why << QStringLiteral("%1 个请求没有得到应答").arg(unanswered);
    QString text = QStringLiteral("%1：%2 个词，用时 %3").arg(head).arg(words).arg(durationText(report.seconds));
    if (!why.isEmpty()) text += QStringLiteral("（") + why.join(QStringLiteral("；")) + QStringLiteral("）");

    std::error_code error;
    const std::filesystem::path file = gbkToPath(m_run->resultsPathText());
    if (std::filesystem::exists(file, error)) {
        m_file = file;
        text += QStringLiteral("　结果文件：") + QString::fromStdString(file.string());
        m_open->show();
    } else {
        text += QStringLiteral("　结果尚未保存，可点“导出数据”");
    }
    m_text->setText(text);
    m_text->setToolTip(text);

    if (end != RunEnd::Stopped && m_hooks.notice)
        for (const Text& notice : failureNotices(report, m_run->resilienceInUse()))
            m_hooks.notice(notice);
}

} // namespace zelkor::app
