// zelkor-screenshot: renders the main window (offscreen works) into a PNG for a person to look at.
//   zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--finished] [--probe]
//                             [--wait-ms N] [--size WxH] [--store SPEC] [--analysis PAGE] [--filter TEXT]
//                             [--words] [--group root|tag]
// The window uses the program directory ($ZELKOR_HOME) like zelkor does. --seeds replaces the
// seed keywords, --all presses "全"; --run presses Start and waits (default 4000 ms) before the
// picture is taken; --finished presses Start and waits for the run to end by itself (the status
// bar's last line); --probe presses 测试来源 and pictures its table once every answer is in.
// --store sets the run store of the page 高级 ("sqlite" keeps a history). --analysis pictures the
// window 分析 instead, at its page "results", "charts", "map" or "history", once its table has the
// run's rows and its pictures are drawn;
// --filter types a filter into it. --words ticks 导出词根与意图 on 高级 before the run, so that the
// window 分析 shows the root words, the intent tags and their groups; --group lists the groups by
// root or by tag and clicks the first.
// Point the sources at a loopback service first ($ZELKOR_ENDPOINTS), as scripts/screenshot does.

#include "app/analysis_window.h"
#include "app/groups_panel.h"
#include "app/main_window.h"
#include "app/results_model.h"
#include "app/run_pictures.h"
#include "app/source_probe.h"
#include "app/startup.h"
#include "app/widgets.h"
#include "engine/core/program_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

static const char* const kUsage =
    "usage: zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--finished] [--probe]\n"
    "                         [--wait-ms N] [--size WxH] [--store SPEC] [--analysis PAGE] [--filter TEXT]\n"
    "                         [--words] [--group root|tag]\n";

// Lets the window work until `done` holds or `ms` pass.
static bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QTest::qWait(20);
    }
    return true;
}

int main(int argc, char** argv) {
    using namespace zelkor::app;
    QApplication app(argc, argv);
    applyLook(app);

    QString out;
    int tab = 0;
    bool run = false;
    bool finished = false;
    bool probe = false;
    bool all = false;
    QString seeds;
    int waitMs = -1;
    QSize size;
    QString store;
    QString analysis;
    QString filter;
    bool words = false;
    QString group;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--tab" && i + 1 < argc)
            tab = std::atoi(argv[++i]);
        else if (arg == "--seeds" && i + 1 < argc)
            seeds = QString::fromLocal8Bit(argv[++i]).replace(QLatin1Char(','), QLatin1Char('\n'));
        else if (arg == "--all")
            all = true;
        else if (arg == "--run")
            run = true;
        else if (arg == "--finished")
            finished = true;
        else if (arg == "--probe")
            probe = true;
        else if (arg == "--store" && i + 1 < argc)
            store = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--analysis" && i + 1 < argc)
            analysis = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--filter" && i + 1 < argc)
            filter = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--words")
            words = true;
        else if (arg == "--group" && i + 1 < argc)
            group = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--wait-ms" && i + 1 < argc)
            waitMs = std::atoi(argv[++i]);
        else if (arg == "--size" && i + 1 < argc) {
            int w = 0, h = 0;
            if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            size = QSize(w, h);
        } else if (out.isEmpty() && arg.rfind("--", 0) != 0)
            out = QString::fromLocal8Bit(argv[i]);
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const QStringList pages = {QStringLiteral("results"), QStringLiteral("charts"), QStringLiteral("map"),
                               QStringLiteral("history")};
    if (out.isEmpty() || (!analysis.isEmpty() && !pages.contains(analysis)) ||
        (!group.isEmpty() && group != QStringLiteral("root") && group != QStringLiteral("tag"))) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    MainWindowOptions options;
    options.home = zelkor::programDirectory();
    options.showFile = [](const std::filesystem::path&) {};
    MainWindow window(std::move(options));
    if (size.isValid()) window.resize(size);
    window.show();
    if (auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("选择夹1"))) tabs->setCurrentIndex(tab);
    if (!seeds.isEmpty())
        window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_关键词"))->setPlainText(seeds);
    if (all) window.findChild<QAbstractButton*>(QStringLiteral("按钮3"))->click();
    if (!store.isEmpty()) window.findChild<ValueWidget*>(QStringLiteral("编辑框_运行存储"))->setTextValue(store);
    if (words) window.findChild<QCheckBox*>(QStringLiteral("选择框_词根与意图"))->setChecked(true);
    if (run || finished) window.findChild<QAbstractButton*>(QStringLiteral("按钮_开始"))->click();

    QWidget* shot = &window;
    if (finished) {
        auto* progress = window.findChild<QLabel*>(QStringLiteral("标签_进度"));
        if (!waitFor([&] { return progress->text().startsWith(QStringLiteral("采集")); },
                     waitMs >= 0 ? waitMs : 120000))
            std::fputs("zelkor-screenshot: the run did not end in time; picturing it as it is\n", stderr);
        QTest::qWait(300); // the last notices reach the panel
    } else if (probe) {
        window.findChild<QAbstractButton*>(QStringLiteral("按钮_测试来源"))->click();
        SourceProbeDialog* dialog = window.probeDialog();
        if (!dialog) {
            std::fputs("zelkor-screenshot: 测试来源 opened no table (no source ticked?)\n", stderr);
            return 1;
        }
        waitFor([&] { return !dialog->running(); }, waitMs >= 0 ? waitMs : 60000);
        QTest::qWait(100);
        shot = dialog;
    } else {
        QTest::qWait(waitMs >= 0 ? waitMs : (run ? 4000 : 300));
    }

    if (!analysis.isEmpty()) {
        auto* link = window.findChild<PressLabel*>(QStringLiteral("标签_分析"));
        QTest::mousePress(link, Qt::LeftButton);
        AnalysisWindow* view = window.analysisWindow();
        // The first copy of the run's results, and one more look for what came meanwhile.
        waitFor([&] { return view->model()->rowCount() > 0; }, 10000);
        QTest::qWait(2 * AnalysisWindow::kRefreshMs);
        if (!filter.isEmpty()) {
            auto* box = view->findChild<QLineEdit*>(QStringLiteral("编辑框_筛选"));
            box->setText(filter);
            QTest::keyClick(box, Qt::Key_Return);
        }
        if (view->wordsShown()) {
            waitFor([&] { return view->model()->words() && view->pendingWork() == 0; }, 20000);
            if (!group.isEmpty()) {
                view->groups()->setBy(group == QStringLiteral("tag") ? zelkor::GroupBy::Tag
                                                                     : zelkor::GroupBy::Root);
                view->groups()->choose(0);
            }
        }
        const auto page = static_cast<AnalysisWindow::Page>(pages.indexOf(analysis));
        view->showPage(page);
        if (page == AnalysisWindow::Page::Charts || page == AnalysisWindow::Page::Map)
            waitFor([&] { return view->pictures() && view->pictures()->rows == view->model()->records().size(); }, 20000);
        if (page == AnalysisWindow::Page::History) {
            auto* history = view->findChild<QTableWidget*>(QStringLiteral("表格_历史"));
            waitFor([&] { return history->rowCount() > 0; }, 10000);
            history->selectRow(0);
        }
        QTest::qWait(300);
        shot = view;
    }

    if (!shot->grab().save(out, "PNG")) {
        std::fprintf(stderr, "zelkor-screenshot: cannot write %s\n", out.toLocal8Bit().constData());
        return 1;
    }
    std::fflush(nullptr);
    std::_Exit(0); // a run may still be going; nothing of it needs to finish
}
