#include "app/fault_report.h"
#include "app/main_window.h"
#include "app/platform/special_folders.h"
#include "app/startup.h"
#include "app/update_check.h"
#include "engine/core/program_dir.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace zelkor::app;
    // A process started by the fault handler only reports the fault of the one that crashed.
    if (const std::optional<int> status = runHandedOverFaultReport(argc, argv)) return *status;
    // Taken before QApplication removes its own options (-style, -reverse …) from argv: the one
    // argument of an unattended start may look like one of them.
    MainWindowOptions options;
    for (int i = 1; i < argc; ++i)
        options.arguments.emplace_back(argv[i]);
    QApplication app(argc, argv);
    applyLook(app);

    options.home = zelkor::programDirectory();
    options.afterClose = [] { endProcess(); };
    MainWindow window(std::move(options));
    window.show();

    ShellEnvironment env;
    env.home = window.home();
    env.programFile = QCoreApplication::applicationFilePath().toStdString();
    env.documents = platform::documentsFolder();
    env.desktop = platform::desktopFolder();
    StartupTasks tasks;
    addShellTasks(tasks, env);
    tasks.set(StartupStep::FaultHandler, [] { installFaultHandler(); });
    const std::unique_ptr<UpdateCheck> update = makeWindowUpdateCheck(&window, env.home, env.desktop);
    tasks.set(StartupStep::UpdateCheck, [check = update.get()] { check->start(); });
    runStartupTasksLater(&window, std::move(tasks));

    return app.exec();
}
