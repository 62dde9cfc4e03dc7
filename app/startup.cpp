#include "app/startup.h"

#include "app/platform/desktop_entry.h"
#include "app/program_values.h"
#include "app/qt_text.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace zelkor::app {
namespace {

const char* const kDisclaimer =
    "免责声明：\r\n  1、本软件是Zelkor（以下简称本人）在业余时间开发的一款安全，绿色产品；\r\n  "
    "2、本软件只供技术交流研究使用，利用本软件下载、生成的任何内容，和本工作室无关；\r\n  "
    "3、本软件绝对不针对任何一家平台，如果有人利用软件用于非法用途，本工作室将保留追究其民事以及刑事责任的权"
    "利；\r\n  "
    "4、因使用本软件而引起的任何意外、疏忽、合约毁坏、诽谤、版权或知识产权侵犯及其所造成的任何损失，本工作室"
    "概不负责，"
    "亦概不承担任何民事或者刑事法律责任；\r\n  "
    "5、本软件只要在官网下载，我们保证无任何病毒和恶意代码，如果360或者其他工具提示病毒，是杀毒软件误报，"
    "添加信任或者关闭杀毒软件即可。如果确实担心，可以联系客服，我们提交给杀毒软件厂商解除报毒。\r\n  "
    "6、以上内容，本工作室保留最终解释权。\r\n如果您已认真阅读并同意以上内容，请点击“确定”，否则请删除与本软"
    "件相关的所有资源。\r\n"
    "本信息仅弹出一次。";

const char* const kSiteName = "www.zelkor.example";

// Complete or as before: a temporary file renamed over the old one.
bool replaceFile(const std::filesystem::path& file, const std::string& bytes) {
    std::error_code ec;
    const std::filesystem::path temp = file.parent_path() / ("." + file.filename().string() + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, file, ec);
    if (ec) std::filesystem::remove(temp, ec);
    return !ec;
}

bool askWithMessageBox(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok | QMessageBox::Cancel);
    box.setWindowModality(Qt::ApplicationModal);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace

void applyLook(QApplication& app) {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    app.setFont(font);
    // Qt's own texts (message box buttons, dialogs) in Chinese like the rest of the window, so
    // that the disclaimer's "确定" is a button the user can see, whatever the locale.
    auto* translator = new QTranslator(&app); // owned by the application
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    else
        delete translator;
}

void StartupTasks::set(StartupStep step, std::function<void()> task) {
    m_tasks[static_cast<size_t>(step)] = std::move(task);
}

void StartupTasks::run() {
    if (m_done) return;
    m_done = true;
    for (const auto& task : m_tasks) {
        if (task) task();
    }
}

Text disclaimerText() {
    return utf8_to_gbk(kDisclaimer);
}

Text disclaimerMarkerText() {
    return utf8_to_gbk(std::string("您已经同意") + kSiteName + "的软件使用协议\r\n\r\n") + disclaimerText();
}

bool checkDisclaimer(const ShellEnvironment& env) {
    const std::filesystem::path marker = env.documents / kDisclaimerMarker;
    std::error_code ec;
    if (!std::filesystem::exists(marker, ec)) {
        const auto ask = env.askDisclaimer ? env.askDisclaimer : std::function(askWithMessageBox);
        if (!ask(qs("免责声明"), toQStringLines(disclaimerText()))) return false;
    }
    // A user without a documents folder would otherwise be asked at every start.
    std::filesystem::create_directories(env.documents, ec);
    return replaceFile(marker, disclaimerMarkerText());
}

void addShellTasks(StartupTasks& tasks, const ShellEnvironment& env) {
    auto log = std::make_shared<RunLog>(env.home, env.clock);
    tasks.set(StartupStep::LogWindowCreated, [log] { log->write(utf8_to_gbk("启动窗口创建完毕")); });
    tasks.set(StartupStep::Disclaimer, [env] { checkDisclaimer(env); });
    tasks.set(StartupStep::LogWindowThread, [log] { log->write(utf8_to_gbk("启动窗口线程")); });
    tasks.set(StartupStep::DesktopEntry,
              [env] { platform::writeDesktopEntry(env.desktop, kTitle, env.programFile); });
}

void runStartupTasksLater(QWidget* window, StartupTasks tasks) {
    auto shared = std::make_shared<StartupTasks>(std::move(tasks));
    QTimer::singleShot(1000, window, [shared] { shared->run(); });
}

void endProcess() {
    std::fflush(nullptr);
    RunLog::writeLock().lock(); // held until the end: no line is left half inserted
    std::_Exit(0);
}

} // namespace zelkor::app
