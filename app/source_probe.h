#pragma once
// 测试来源: each ticked service asked once for one keyword, exactly as `zelkor-cli probe` asks it
// (the same request, headers, cookies, fetch kind and decoding; nothing saved, no sink, no store),
// and the answers shown in a table: source, status, class, phrases.
//
// Threads: the requests go out one after another on a thread of the probe's own; each answer
// reaches the table on the window thread as a queued call. Closing the table or starting again
// stops the probe at once (a request in flight is aborted); nothing of it outlives the dialog.

#include "net/answer_class.h"
#include "net/http.h"
#include "sources/source_table.h"
#include "text/text.h"

#include <QDialog>
#include <filesystem>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace zelkor::app {

struct ProbeAnswer {
    int source = -1;
    Text label;  // GBK
    Text url;    // GBK, as sent
    Text status; // GBK, the engine's status text; empty for a plain fetch
    bool plain = false;
    AnswerClass answerClass = AnswerClass::Failed;
    std::size_t bytes = 0;
    std::vector<Text> phrases; // GBK, in offer order
};

// "有结果（ok）", "无结果（empty）", "失败（failed）", "被拦截（blocked）".
QString answerClassText(AnswerClass answerClass);

class SourceProbeDialog : public QDialog {
    Q_OBJECT
  public:
    // `home` finds the endpoints file as a run does; `sourceCount` rows are in the source list.
    SourceProbeDialog(std::filesystem::path home, int sourceCount, QWidget* parent = nullptr);
    ~SourceProbeDialog() override;

    // Asks `rows` for `keyword`, replacing what the table showed.
    void start(std::vector<SourceRow> rows, const Text& keyword, const AnswerLimits& limits);
    bool running() const;
    QTableWidget* table() const { return m_table; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class Worker;
    void take(const ProbeAnswer& answer);
    void finished(const QString& error);
    void again();

    std::filesystem::path m_home;
    int m_sourceCount;
    std::vector<SourceRow> m_rows;
    AnswerLimits m_limits;
    QLineEdit* m_keyword;
    QPushButton* m_again;
    QLabel* m_state;
    QTableWidget* m_table;
    int m_answered = 0;
    std::unique_ptr<Worker> m_worker; // last: stopped and joined first
};

} // namespace zelkor::app
