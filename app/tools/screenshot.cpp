// zelkor-screenshot: renders the main window (offscreen works) into a PNG for a person to look at.
//   zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--finished] [--probe]
//                             [--wait-ms N] [--size WxH]
// The window uses the program directory ($ZELKOR_HOME) like zelkor does. --seeds replaces the
// seed keywords, --all presses "全"; --run presses Start and waits (default 4000 ms) before the
// picture is taken; --finished presses Start and waits for the run to end by itself (the status
// bar's last line); --probe presses 测试来源 and pictures its table once every answer is in.
// Point the sources at a loopback service first ($ZELKOR_ENDPOINTS), as scripts/screenshot does.

#include "app/main_window.h"
#include "app/source_probe.h"
#include "app/startup.h"
#include "engine/core/program_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

static const char* const kUsage =
    "usage: zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--finished] [--probe]\n"
    "                         [--wait-ms N] [--size WxH]\n";

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
    if (out.isEmpty()) {
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

    if (!shot->grab().save(out, "PNG")) {
        std::fprintf(stderr, "zelkor-screenshot: cannot write %s\n", out.toLocal8Bit().constData());
        return 1;
    }
    std::fflush(nullptr);
    std::_Exit(0); // a run may still be going; nothing of it needs to finish
}
