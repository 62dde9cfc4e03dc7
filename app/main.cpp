#include "app/main_window.h"
#include "app/platform/special_folders.h"
#include "app/startup.h"
#include "engine/program_dir.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace zelkor::app;
    QApplication app(argc, argv);
    applyLook(app);

    MainWindowOptions options;
    options.home = zelkor::programDirectory();
    for (int i = 1; i < argc; ++i)
        options.arguments.emplace_back(argv[i]);
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
    // The fault handler and the update check take their slots here:
    //   tasks.set(StartupStep::FaultHandler, ...);  tasks.set(StartupStep::UpdateCheck, ...);
    runStartupTasksLater(&window, std::move(tasks));

    return app.exec();
}
