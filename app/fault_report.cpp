#include "app/fault_report.h"

#include "app/program_values.h"
#include "app/qt_text.h"
#include "engine/core/program_dir.h"
#include "net/http.h"
#include "sources/endpoints.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QMessageBox>
#include <QSysInfo>
#include <QTimer>
#include <array>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zelkor::app {
namespace {

struct SignalText {
    int signal;
    const char* utf8;
};
const SignalText kSignals[] = {
    {SIGSEGV, "非法内存访问（段错误）"},
    {SIGBUS, "总线错误（内存对齐或映射文件失效）"},
    {SIGFPE, "算术运算错误（如整数除以零）"},
    {SIGILL, "非法指令"},
    {SIGABRT, "程序异常中止"},
};
constexpr std::size_t kSignalCount = std::size(kSignals);

// Everything execve needs, built at install time; the handlers only pick a prepared entry.
struct Prepared {
    std::string program;                  // what argv[0] names
    std::vector<std::string> environment; // a copy without any earlier fault variable
    std::array<std::string, kSignalCount> signalEntries;
    std::string terminateEntry; // filled by the terminate handler
    std::vector<char*> envp;    // environment, then one free slot, then null
    std::size_t faultSlot = 0;
    std::array<char*, 2> argv{};
};
Prepared* g_prepared = nullptr; // set once, never freed: the handlers may run until the very end
std::vector<char> g_altStack;

std::string faultEntry(const Fault& fault) {
    return std::string(kFaultVariable) + "=" + faultVariableValue(fault);
}

[[noreturn]] void reexecWith(char* entry) {
    if (g_prepared) {
        // The mask survives execve: the report process must not start with the fault blocked.
        sigset_t all;
        sigemptyset(&all);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        g_prepared->envp[g_prepared->faultSlot] = entry;
        execve("/proc/self/exe", g_prepared->argv.data(), g_prepared->envp.data());
    }
    // No report possible: end as the fault would have.
    signal(SIGABRT, SIG_DFL);
    abort();
}

void onFatalSignal(int signal) {
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (kSignals[i].signal == signal && g_prepared) reexecWith(g_prepared->signalEntries[i].data());
    }
    // SA_RESETHAND restored the default action; raising again ends the process as it would have.
    raise(signal);
}

void onTerminate() {
    std::string what = "未捕获的异常";
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            what += "：";
            what += e.what();
        } catch (...) {
        }
    }
    if (what.size() > 2000) what.resize(2000);
    if (g_prepared) {
        g_prepared->terminateEntry = std::string(kFaultVariable) + "=" + std::to_string(SIGABRT) + ":" + what;
        reexecWith(g_prepared->terminateEntry.data());
    }
    signal(SIGABRT, SIG_DFL);
    abort();
}

std::string md5Hex(std::string_view bytes) {
    const QByteArray digest = QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                                       QCryptographicHash::Md5);
    return digest.toHex().toStdString(); // lower case
}

Text withoutSpaces(const Text& gbk) {
    static const Text ideographic = utf8_to_gbk("　");
    Text out;
    for (std::size_t i = 0; i < gbk.size();) {
        const auto c = static_cast<unsigned char>(gbk[i]);
        if (c >= 0x81 && i + 1 < gbk.size()) { // a double-byte character: never split it
            if (gbk.compare(i, 2, ideographic) != 0) out.append(gbk, i, 2);
            i += 2;
            continue;
        }
        if (c != ' ') out += gbk[i];
        ++i;
    }
    return out;
}

} // namespace

void installFaultHandler() {
    if (g_prepared) return;
    auto prepared = std::make_unique<Prepared>();
    std::error_code ec;
    prepared->program = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (prepared->program.empty()) prepared->program = "zelkor";
    const std::string prefix = std::string(kFaultVariable) + "=";
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) prepared->environment.emplace_back(*e);
    }
    for (std::size_t i = 0; i < kSignalCount; ++i)
        prepared->signalEntries[i] = faultEntry({kSignals[i].signal, utf8_to_gbk(kSignals[i].utf8)});
    prepared->terminateEntry.reserve(4096);
    for (std::string& entry : prepared->environment)
        prepared->envp.push_back(entry.data());
    prepared->faultSlot = prepared->envp.size();
    prepared->envp.push_back(nullptr);
    prepared->envp.push_back(nullptr);
    prepared->argv = {prepared->program.data(), nullptr};
    g_prepared = prepared.release(); // lives as long as the process

    // A stack overflow leaves no stack for the handler but this one.
    g_altStack.resize(std::max<std::size_t>(SIGSTKSZ, 64 * 1024));
    stack_t stack{};
    stack.ss_sp = g_altStack.data();
    stack.ss_size = g_altStack.size();
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
    for (const SignalText& s : kSignals)
        sigaction(s.signal, &action, nullptr);
    std::set_terminate(onTerminate);
}

std::string faultVariableValue(const Fault& fault) {
    std::string text = gbk_to_utf8(fault.text);
    return std::to_string(fault.code) + ":" + text;
}

std::optional<Fault> parseFaultVariable(std::string_view value) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view digits = value.substr(0, colon);
    const bool negative = digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    int code = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        code = code * 10 + (c - '0');
    }
    return Fault{negative ? -code : code, utf8_to_gbk(value.substr(colon + 1))};
}

FaultReportInputs collectFaultReportInputs() {
    FaultReportInputs in;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) in.computer = Text(host).substr(0, 15);
    in.system = toGbk(QSysInfo::prettyProductName());
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    in.programFile = pathToGbk(exe.filename());
    in.programDir = pathToGbk(programDirectory());
    in.version = kVersion;
    return in;
}

Text faultReportTitle(const FaultReportInputs& in) {
    return withoutSpaces(utf8_to_gbk("电脑") + in.computer + utf8_to_gbk("发现bug，软件-") + in.programFile +
                         utf8_to_gbk("版本号") + in.version);
}

Text faultReportBody(const FaultReportInputs& in, const Fault& fault) {
    return utf8_to_gbk("所属软件：") + in.programFile + utf8_to_gbk("\r\n    软件运行路径：") +
           in.programDir + utf8_to_gbk("\r\n   操作系统：") + in.system +
           utf8_to_gbk("\r\n   软件错误代码：") + std::to_string(fault.code) +
           utf8_to_gbk("\r\n   错误信息：") + fault.text +
           utf8_to_gbk("     Zelkor软件 错误信息和bug通知系统。\r\n");
}

Text faultMessageText(const Fault& fault) {
    return utf8_to_gbk("软件发生致命错误，已经上报开发人员加紧修复bug\r\n   软件错误代码：") +
           std::to_string(fault.code) + utf8_to_gbk("\r\n   错误信息：") + fault.text;
}

std::string percentEncodeEveryByte(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

Text faultReportUrl(const Text& notifyRoot, const Text& title, const Text& body) {
    Text root = notifyRoot;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root + "/tongzhi?mubiao=" + kReportRecipient + "&title=" + percentEncodeEveryByte(title) +
           "&body=" + percentEncodeEveryByte(body) + "&sa=1";
}

Text reportTimestamp(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    // The local wall-clock reading counted as if it were UTC, then from 08:00:00 on the first day.
    const long long seconds = static_cast<long long>(timegm(&local)) - 8 * 3600;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%010lld", seconds);
    return buffer;
}

Text reportSignHeader(const Text& timestamp) {
    return "sign:" + md5Hex(std::string(kReportSecret) + timestamp) + "@" + timestamp;
}

bool displayAvailable() {
    // The first platform of QT_QPA_PLATFORM ("xcb", "wayland;xcb", "offscreen:fontengine=…") decides.
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform && *platform) {
        const std::string_view name = std::string_view(platform).substr(0, std::strcspn(platform, ";:"));
        return name != "offscreen" && name != "minimal";
    }
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* value = std::getenv(variable); value && *value) return true;
    }
    return false;
}

void reportFault(const Fault& fault, const FaultReportInputs& inputs, const FaultReportOptions& options) {
    const Text title = faultReportTitle(inputs);
    const Text body = faultReportBody(inputs, fault);

    const QString boxTitle = qs("Zelkor软件bug提示");
    const QString message = toQStringLines(faultMessageText(fault));
    if (options.showBox) {
        QMessageBox box(QMessageBox::Critical, boxTitle, message, QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        if (options.boxShown) QTimer::singleShot(0, &box, [&box, &options] { options.boxShown(box); });
        box.exec();
    } else {
        // Nobody could see or close a box: the user is told on the terminal instead.
        const QByteArray text = (boxTitle + QLatin1Char('\n') + message + QLatin1Char('\n')).toUtf8();
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
        std::fflush(stderr);
    }

    if (options.notifyRoot.empty()) return;
    HttpRequestSpec spec;
    spec.url = faultReportUrl(options.notifyRoot, title, body);
    spec.method = HttpMethod::Get;
    spec.headers = reportSignHeader(reportTimestamp(std::time(nullptr)));
    spec.tls = verifiedTls(options.caFile);
    http_request(spec); // the user was told it is reported; a failure changes nothing for them
}

std::optional<int> runHandedOverFaultReport(int& argc, char** argv,
                                            std::function<void(QMessageBox&)> boxShown) {
    const char* value = std::getenv(kFaultVariable);
    if (!value) return std::nullopt;
    const std::optional<Fault> fault = parseFaultVariable(value);
    // Whatever this process starts later must not take itself for a report.
    unsetenv(kFaultVariable);
    if (!fault) return std::nullopt;

    FaultReportOptions options;
    options.showBox = displayAvailable();
    // Without a display a QApplication could not even start; the core is all the report needs then.
    std::optional<QApplication> gui;
    std::optional<QCoreApplication> core;
    if (options.showBox)
        gui.emplace(argc, argv);
    else
        core.emplace(argc, argv);
    const std::optional<Endpoints> endpoints = Endpoints::loadDefault(programDirectory());
    if (endpoints) options.notifyRoot = endpoints->get("notify").value_or("");
    options.boxShown = std::move(boxShown);
    reportFault(*fault, collectFaultReportInputs(), options);
    return fault->code > 0 && fault->code < 64 ? 128 + fault->code : 1;
}

} // namespace zelkor::app
