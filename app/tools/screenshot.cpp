// zelkor-screenshot: renders the main window (offscreen works) into a PNG for a person to look at.
//   zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--wait-ms N]
// The window uses the program directory ($ZELKOR_HOME) like zelkor does. --seeds replaces the
// seed keywords, --all presses "全"; --run presses Start and waits (default 4000 ms) before the
// picture is taken. Point the sources at a loopback service first ($ZELKOR_ENDPOINTS), as
// scripts/screenshot does.

#include "app/main_window.h"
#include "app/startup.h"
#include "engine/core/program_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <string>

static const char* const kUsage =
    "usage: zelkor-screenshot OUT.png [--tab N] [--seeds A,B,...] [--all] [--run] [--wait-ms N]\n";

int main(int argc, char** argv) {
    using namespace zelkor::app;
    QApplication app(argc, argv);
    applyLook(app);

    QString out;
    int tab = 0;
    bool run = false;
    bool all = false;
    QString seeds;
    int waitMs = -1;
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
        else if (arg == "--wait-ms" && i + 1 < argc)
            waitMs = std::atoi(argv[++i]);
        else if (out.isEmpty() && arg.rfind("--", 0) != 0)
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
    MainWindow window(std::move(options));
    window.show();
    if (auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("选择夹1"))) tabs->setCurrentIndex(tab);
    if (!seeds.isEmpty())
        window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_关键词"))->setPlainText(seeds);
    if (all) window.findChild<QAbstractButton*>(QStringLiteral("按钮3"))->click();
    if (run) window.findChild<QAbstractButton*>(QStringLiteral("按钮_开始"))->click();
    QTest::qWait(waitMs >= 0 ? waitMs : (run ? 4000 : 300));

    if (!window.grab().save(out, "PNG")) {
        std::fprintf(stderr, "zelkor-screenshot: cannot write %s\n", out.toLocal8Bit().constData());
        return 1;
    }
    std::fflush(nullptr);
    std::_Exit(0); // a run may still be going; nothing of it needs to finish
}
