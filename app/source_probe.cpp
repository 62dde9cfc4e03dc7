#include "app/source_probe.h"

#include "app/call_queue.h"
#include "app/qt_text.h"
#include "sources/endpoints.h"
#include "sources/table_source.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <thread>

namespace zelkor::app {

QString answerClassText(AnswerClass answerClass) {
    switch (answerClass) {
    case AnswerClass::Ok:
        return QStringLiteral("有结果（ok）");
    case AnswerClass::Empty:
        return QStringLiteral("无结果（empty）");
    case AnswerClass::Failed:
        return QStringLiteral("失败（failed）");
    case AnswerClass::Blocked:
        return QStringLiteral("被拦截（blocked）");
    }
    return {};
}

class SourceProbeDialog::Worker {
  public:
    Worker(QObject* owner, std::filesystem::path home, int sourceCount, std::vector<SourceRow> rows,
           Text keyword, AnswerLimits limits)
        : m_queue(new CallQueue(owner)),
          m_thread([this, home = std::move(home), sourceCount, rows = std::move(rows),
                    keyword = std::move(keyword),
                    limits](std::stop_token stop) { run(stop, home, sourceCount, rows, keyword, limits); }) {}
    ~Worker() {
        m_thread.request_stop();
        m_thread.join();
        delete m_queue; // calls still queued go with it
    }
    bool done() const { return m_done; } // window thread

    std::function<void(const ProbeAnswer&)> onAnswer;
    std::function<void(const QString& error)> onDone;

  private:
    void run(std::stop_token stop, const std::filesystem::path& home, int sourceCount,
             const std::vector<SourceRow>& rows, const Text& keyword, const AnswerLimits& limits) {
        std::string error;
        const std::optional<Endpoints> endpoints = Endpoints::loadDefault(home, &error, sourceCount);
        if (!endpoints) {
            post([this, error] {
                finish(QStringLiteral("服务地址文件无法使用，没有询问任何来源：") +
                       QString::fromStdString(error));
            });
            return;
        }
        for (const SourceRow& row : rows) {
            if (stop.stop_requested()) return;
            const auto source = make_table_source(row, *endpoints);
            const SourceFetch fetched = source->fetch(keyword, stop, {}, limits);
            if (stop.stop_requested()) return;
            ProbeAnswer answer;
            answer.phrases = source->extract(fetched.body, nullptr, fetched.reencoded);
            answer.source = row.index;
            answer.label = source->label();
            answer.url = fetched.url;
            answer.status = fetched.status;
            answer.plain = row.fetch == FetchKind::Plain;
            answer.answerClass = classifyFetch(fetched, answer.phrases);
            answer.bytes = fetched.bytes;
            post([this, answer = std::move(answer)] {
                if (onAnswer) onAnswer(answer);
            });
        }
        post([this] { finish({}); });
    }
    void post(std::function<void()> call) { m_toWindow.post(std::move(call)); }
    void finish(const QString& error) {
        m_done = true;
        if (onDone) onDone(error);
    }

    CallQueue* m_queue;
    CallQueue::Sender m_toWindow = m_queue->sender();
    bool m_done = false;
    std::jthread m_thread; // last: the queue and the callbacks are there before it runs
};

SourceProbeDialog::SourceProbeDialog(std::filesystem::path home, int sourceCount, QWidget* parent)
    : QDialog(parent), m_home(std::move(home)), m_sourceCount(sourceCount) {
    setObjectName(QStringLiteral("测试来源"));
    setWindowTitle(QStringLiteral("测试来源"));
    resize(760, 420);
    auto* column = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("测试用的关键词："), this));
    m_keyword = new QLineEdit(this);
    m_keyword->setObjectName(QStringLiteral("编辑框_测试关键词"));
    top->addWidget(m_keyword, 1);
    m_again = new QPushButton(QStringLiteral("重新测试"), this);
    m_again->setObjectName(QStringLiteral("按钮_重新测试"));
    m_again->setAutoDefault(false);
    top->addWidget(m_again);
    column->addLayout(top);
    m_table = new QTableWidget(0, 5, this);
    m_table->setObjectName(QStringLiteral("表格_测试来源"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("来源"), QStringLiteral("状态"),
                                        QStringLiteral("分类"), QStringLiteral("词数"),
                                        QStringLiteral("提供的词")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(0, 110);
    m_table->setColumnWidth(1, 150);
    m_table->setColumnWidth(2, 110);
    m_table->setColumnWidth(3, 44);
    column->addWidget(m_table, 1);
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("标签_测试状态"));
    m_state->setWordWrap(true);
    column->addWidget(m_state);
    connect(m_again, &QPushButton::clicked, this, &SourceProbeDialog::again);
    connect(m_keyword, &QLineEdit::returnPressed, this, &SourceProbeDialog::again);
}

SourceProbeDialog::~SourceProbeDialog() = default;

bool SourceProbeDialog::running() const {
    return m_worker && !m_worker->done();
}

void SourceProbeDialog::start(std::vector<SourceRow> rows, const Text& keyword, const AnswerLimits& limits) {
    m_worker.reset();
    m_rows = rows;
    m_limits = limits;
    m_keyword->setText(toQString(keyword));
    m_table->setRowCount(0);
    m_answered = 0;
    for (const SourceRow& row : rows) {
        const int at = m_table->rowCount();
        m_table->insertRow(at);
        m_table->setItem(at, 0, new QTableWidgetItem(QString::fromStdString(row.label)));
        m_table->setItem(at, 1, new QTableWidgetItem(QStringLiteral("等待中…")));
    }
    m_state->setText(QStringLiteral("正在询问 %1 个来源，每个一次…").arg(rows.size()));
    m_worker = std::make_unique<Worker>(this, m_home, m_sourceCount, std::move(rows), keyword, limits);
    m_worker->onAnswer = [this](const ProbeAnswer& answer) { take(answer); };
    m_worker->onDone = [this](const QString& error) { finished(error); };
}

void SourceProbeDialog::take(const ProbeAnswer& answer) {
    const int at = m_answered++;
    if (at >= m_table->rowCount()) return;
    QStringList phrases;
    for (const Text& phrase : answer.phrases)
        phrases << (phrase.empty() ? QStringLiteral("\"\"") : toQString(phrase));
    const QString status = answer.plain            ? QStringLiteral("（直接读取）")
                           : answer.status.empty() ? QStringLiteral("（无）")
                                                   : toQString(answer.status);
    const QString cells[] = {toQString(answer.label), status, answerClassText(answer.answerClass),
                             QString::number(answer.phrases.size()), phrases.join(QStringLiteral("、"))};
    for (int column = 0; column < 5; ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        item->setToolTip(column == 4 ? phrases.join(QLatin1Char('\n'))
                                     : toQString(answer.url) + QStringLiteral("\n") +
                                           QStringLiteral("%1 字节").arg(answer.bytes));
        if (answer.answerClass == AnswerClass::Failed || answer.answerClass == AnswerClass::Blocked)
            item->setForeground(QColor(0xc6, 0x28, 0x28));
        m_table->setItem(at, column, item);
    }
}

void SourceProbeDialog::finished(const QString& error) {
    if (!error.isEmpty()) {
        m_state->setText(error);
        return;
    }
    int good = 0;
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (auto* item = m_table->item(row, 2); item && item->text() == answerClassText(AnswerClass::Ok))
            ++good;
    m_state->setText(
        QStringLiteral("测试完成：%1 个来源中 %2 个有结果。").arg(m_table->rowCount()).arg(good));
}

void SourceProbeDialog::again() {
    const Text keyword = toGbk(m_keyword->text().trimmed());
    if (keyword.empty()) {
        m_state->setText(QStringLiteral("请填写测试用的关键词。"));
        return;
    }
    start(m_rows, keyword, m_limits);
}

void SourceProbeDialog::closeEvent(QCloseEvent* event) {
    m_worker.reset(); // nothing is asked for a table nobody looks at
    QDialog::closeEvent(event);
}

} // namespace zelkor::app
