#include "app/update_check.h"

#include "app/call_queue.h"
#include "app/platform/desktop_entry.h"
#include "app/program_values.h"
#include "app/qt_text.h"
#include "engine/core/program_dir.h"
#include "net/http.h"
#include "sources/endpoints.h"
#include "text/json.h"
#include "text/bytes.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

namespace zelkor::app {
namespace {

const char* const kMirrorStatus[3] = {"华北多线服务器正常", "广州服务器正常", "上海服务器正常"};
const char* const kNoMirrorStatus = "服务器异常，尝试使用多线服务器连接";
const char* const kFailureText = "抱歉，自动更新失败，请到官网下载，下载后，把文件复制到当前目录";
const char* const kAdvice = "建议不要把软件放在C盘或者桌面，可以避免80%的软件异常";
const char* const kUnverified = "新版本已保存为 {}，但它不是从证书经过验证的 https 地址下载的，"
                                "任何人都可能替换了它，所以没有设为可执行，也不会启动";

bool succeeded(const HttpResponse& response) {
    return !response.status.empty() && response.status[0] == '2';
}

HttpResponse get(const Text& url, const std::string& caFile, std::stop_token stop) {
    HttpRequestSpec spec;
    spec.url = url;
    spec.tls = verifiedTls(caFile);
    return http_request(spec, stop);
}

Text unverifiedNotice(const Text& fileName) {
    const std::string text = kUnverified;
    const std::size_t at = text.find("{}");
    return utf8_to_gbk(text.substr(0, at)) + fileName + utf8_to_gbk(text.substr(at + 2));
}

// A member of the document: the name is looked up as a bracketed string so that no GBK byte is
// taken for path syntax.
Text member(const JsonValue& doc, const char* utf8) {
    const Text path = "[\"" + utf8_to_gbk(utf8) + "\"]";
    const JsonType type = doc.type(path);
    return type == JsonType::String || type == JsonType::Number ? doc.text(path) : Text{};
}

bool plainFileName(const Text& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\") == Text::npos && name.find('\0') == Text::npos;
}

bool startDetached(const std::filesystem::path& program) {
    std::error_code ec;
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add, ec);
    return QProcess::startDetached(QString::fromStdString(program.string()), {},
                                   QString::fromStdString(program.parent_path().string()));
}

} // namespace

UpdateSettings UpdateSettings::fromEndpoints(const Endpoints* endpoints, std::filesystem::path home,
                                             std::filesystem::path desktop) {
    UpdateSettings settings;
    settings.home = std::move(home);
    settings.desktop = std::move(desktop);
    if (!endpoints) return settings;
    for (int i = 0; i < 3; ++i) {
        if (auto root = endpoints->get("update" + std::to_string(i + 1)); root && !root->empty()) {
            if (root->back() != '/') *root += '/';
            settings.mirrors[i] = *root;
        }
    }
    settings.quoteRoot = endpoints->get("quote").value_or(kDefaultQuoteRoot);
    return settings;
}

std::string formatG13(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", value);
    return buffer;
}

Text downloadProgressText(std::int64_t total, std::int64_t received) {
    const double percent = static_cast<double>(received) / static_cast<double>(total) * 100;
    return utf8_to_gbk("已下载：" + formatG13(static_cast<double>(received) / 1024) + "kb/" +
                       formatG13(static_cast<double>(total) / 1024) + "kb\r\n进度：" + formatG13(percent) +
                       "%");
}

std::int64_t fileSizeKb(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return -1;
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(file, ec));
    if (ec) return -1;
    return size / 1024 + (size % 1024 ? 1 : 0);
}

bool adviseMovingProgram(const std::filesystem::path& home) {
    const std::string s = home.string();
    return !s.empty() && s[0] == 'C';
}

bool UpdateDocument::offersUpdate(const Text& ourVersion) const {
    return read && !version.empty() && version != ourVersion && !url.empty() && plainFileName(fileName);
}

UpdateDocument parseUpdateDocument(const Bytes& body) {
    UpdateDocument doc;
    const Text text = validUtf8(body) ? utf8_to_gbk(body) : body;
    const JsonValue json = JsonValue::parse(text);
    if (json.type() != JsonType::Object) return doc;
    doc.read = true;
    doc.version = member(json, "版本");
    doc.notes = member(json, "更新说明");
    doc.fileName = member(json, "文件名");
    doc.url = member(json, "下载地址");
    return doc;
}

MirrorChoice chooseMirror(const std::array<Text, 3>& roots,
                          const std::function<Bytes(const Text& url)>& fetch) {
    for (int i = 0; i < 3; ++i) {
        if (roots[i].empty()) continue;
        if (fetch(roots[i] + "test.txt") == "ok") return {i, true, roots[i], utf8_to_gbk(kMirrorStatus[i])};
    }
    return {0, false, roots[0], utf8_to_gbk(kNoMirrorStatus)};
}

Text quoteLine(const Bytes& utf8Sentence) {
    return "   " + utf8_to_gbk(utf8Sentence);
}

// ---------------------------------------------------------------------------------------------

UpdateCheck::UpdateCheck(UpdateSettings settings, UpdateFace face)
    : m_settings(std::move(settings)), m_face(std::move(face)), m_log(m_settings.home, m_settings.clock),
      m_downloader(std::make_unique<FileDownloader>(m_settings.caFile)) {
    if (!m_face.startProgram) m_face.startProgram = startDetached;
    if (!m_face.wait) m_face.wait = waitFor;
    if (!m_face.later) {
        m_face.later = [wait = m_face.wait](std::chrono::milliseconds pause, std::function<void()> call) {
            wait(pause, {});
            call();
        };
    }
}

UpdateCheck::~UpdateCheck() {
    m_stop.request_stop();
    if (m_thread.joinable()) m_thread.join();
    m_downloader.reset(); // its final call sees the stop and leaves the face alone
}

void UpdateCheck::start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] { run(); });
}

void UpdateCheck::log(const char* utf8, const Text& tail) const {
    m_log.write(utf8_to_gbk(utf8) + tail);
}

void UpdateCheck::notice(UpdateNotice line, const Text& gbk) const {
    if (m_face.setNotice && !m_stop.stop_requested()) m_face.setNotice(line, gbk);
}

bool UpdateCheck::wait(std::chrono::milliseconds duration) const {
    return m_face.wait(duration, m_stop.get_token());
}

void UpdateCheck::run() {
    const Text version = kVersion;
    log("显示版本号", version);
    notice(UpdateNotice::Version, utf8_to_gbk("版本v") + version);

    // Without a mirror there is nobody to ask; the check stays off the network.
    if (!m_settings.mirrors[0].empty()) {
        const HttpResponse answer =
            get(m_settings.mirrors[0] + kSoftwareId + "/index.json", m_settings.caFile, m_stop.get_token());
        const UpdateDocument doc = parseUpdateDocument(succeeded(answer) ? answer.body : Bytes{});
        const bool latest = doc.version == version;
        log("版本检查结果1是最新版：", latest ? "1" : "0");
        if (!latest && !m_stop.stop_requested()) updateFlow();
    }

    if (adviseMovingProgram(m_settings.home)) notice(UpdateNotice::Advice, utf8_to_gbk(kAdvice));
    dailyQuote();
}

void UpdateCheck::updateFlow() {
    const std::stop_token stop = m_stop.get_token();
    const MirrorChoice mirror =
        chooseMirror(m_settings.mirrors, [&](const Text& url) { return get(url, m_settings.caFile, stop).body; });
    notice(UpdateNotice::ServerStatus, mirror.status);
    log("启动升级程序检查");

    const HttpResponse answer = get(mirror.root + kSoftwareId + "/index.json", m_settings.caFile, stop);
    const UpdateDocument doc = parseUpdateDocument(succeeded(answer) ? answer.body : Bytes{});
    if (!doc.read || doc.version.empty()) {
        // Nothing to offer: asking would start a download of nothing.
        log("升级文件获取失败");
        return;
    }
    log("升级文件获取到数据");
    if (!doc.offersUpdate(kVersion)) return;

    const Text notes = utf8_to_gbk("发现新版本，更新内容：\r\n") + doc.notes;
    notice(UpdateNotice::UpdateNotes, notes);
    log("提醒用户升级");
    if (!m_face.ask || !m_face.ask(utf8_to_gbk("发现新版本，是否更新"), notes, stop)) return;
    if (m_stop.stop_requested()) return;
    startDownload(doc);
}

void UpdateCheck::startDownload(const UpdateDocument& doc) {
    notice(UpdateNotice::UpdateStatus, utf8_to_gbk("开始更新"));
    const std::filesystem::path target = m_settings.home / gbkToPath(doc.fileName);
    // The downloader reads a name without an extension as a folder to put the file in.
    std::filesystem::path fetching = target;
    if (!target.has_extension()) fetching += ".download";
    {
        std::lock_guard lock(m_mutex);
        m_target = target;
        m_fetching = fetching;
        m_ended = false;
        m_downloaded = false;
        m_verified = comes_verified(doc.url);
    }
    if (m_face.setOpenCaption) m_face.setOpenCaption(utf8_to_gbk("打开：") + doc.fileName);

    const int task = m_downloader->start(doc.url, fetching, 2,
                                         [this](int, DownloadState state, std::int64_t total, std::int64_t received) {
                                             onProgress(state, total, received);
                                         });
    std::lock_guard lock(m_mutex);
    if (task > 0) {
        m_task = task;
        return;
    }
    // Nothing will ever report on this download, so its end is told now.
    m_ended = true;
    m_endedChanged.notify_all();
    notice(UpdateNotice::UpdateStatus, utf8_to_gbk(kFailureText));
}

void UpdateCheck::onProgress(DownloadState state, std::int64_t total, std::int64_t received) {
    if (m_stop.stop_requested()) return;
    if (state != DownloadState::Failed && total > 0)
        notice(UpdateNotice::UpdateStatus, downloadProgressText(total, received));
    // The file is in place only once the downloader's final report comes, so the end is dealt with
    // there; a progress report at 100% is followed by it.
    if (state != DownloadState::Progress) downloadEnded(state == DownloadState::Failed);
}

void UpdateCheck::downloadEnded(bool failed) {
    notice(UpdateNotice::UpdateStatus, utf8_to_gbk("更新结束"));
    wait(std::chrono::seconds(2));
    std::filesystem::path target, fetching;
    bool verified = false;
    {
        std::lock_guard lock(m_mutex);
        target = m_target;
        fetching = m_fetching;
        verified = m_verified;
    }
    if (!failed && fetching != target) {
        std::error_code ec;
        std::filesystem::rename(fetching, target, ec);
        if (ec) failed = true;
    }
    // A window that is going away gets no more notices, entry or file permissions.
    if (!m_stop.stop_requested()) {
        // Only a transfer that succeeded can be opened: after a failure a file of that name is an
        // older one, not what was fetched. Whoever sat on an unchecked path chose those bytes, so
        // they are kept for the user to look at and never run.
        if (!failed && verified && m_face.showOpen) m_face.showOpen();
        // A failed download says so whatever file of that name is already there.
        const std::int64_t kb = failed ? -1 : fileSizeKb(target);
        if (kb >= 20 && !verified) {
            notice(UpdateNotice::UpdateStatus, unverifiedNotice(pathToGbk(target.filename())));
        } else if (kb >= 20) {
            std::error_code ec;
            std::filesystem::permissions(target, std::filesystem::perms::owner_exec,
                                         std::filesystem::perm_options::add, ec);
            platform::writeDesktopEntry(m_settings.desktop, kTitle, target);
        } else {
            notice(UpdateNotice::UpdateStatus, utf8_to_gbk(kFailureText));
        }
    }
    std::lock_guard lock(m_mutex);
    m_downloaded = !failed && verified;
    m_ended = true;
    m_endedChanged.notify_all();
}

void UpdateCheck::dailyQuote() {
    if (m_settings.quoteRoot.empty() || m_stop.stop_requested()) return;
    Text url = m_settings.quoteRoot;
    if (url.back() != '/') url += '/';
    const HttpResponse answer = get(url + "?encode=text", m_settings.caFile, m_stop.get_token());
    notice(UpdateNotice::Quote, quoteLine(succeeded(answer) ? answer.text : Bytes{}));
}

void UpdateCheck::waitUntilDone() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    std::unique_lock lock(m_mutex);
    if (m_target.empty()) return;
    m_endedChanged.wait(lock, [this] { return m_ended; });
}

std::filesystem::path UpdateCheck::downloadTarget() const {
    std::lock_guard lock(m_mutex);
    return m_target;
}

void UpdateCheck::open() {
    std::filesystem::path target;
    {
        std::lock_guard lock(m_mutex);
        if (!m_downloaded) return;
        target = m_target;
    }
    if (!m_face.startProgram(target)) {
        // The old version stays open rather than leaving the user with neither.
        notice(UpdateNotice::UpdateStatus, utf8_to_gbk("无法打开：") + pathToGbk(target.filename()));
        return;
    }
    // The new version gets a moment to start; the window's thread goes on meanwhile.
    if (m_face.closeWindow) m_face.later(std::chrono::milliseconds(200), m_face.closeWindow);
}

// ---------------------------------------------------------------------------------------------

namespace {

const char* const kLineNames[6] = {"标签_版本号",   "标签_服务器状态", "标签_每日一句",
                                   "标签_更新状态", "标签_更新内容",   "标签_建议"};

} // namespace

UpdateNoticeArea::UpdateNoticeArea(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("更新信息区"));
    auto* layout = new QVBoxLayout(this); // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 6; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(qs(kLineNames[i]));
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setVisible(false);
        layout->addWidget(label);
        m_lines[static_cast<std::size_t>(i)] = label;
    }
    m_lines[static_cast<std::size_t>(UpdateNotice::UpdateNotes)]->setMaximumHeight(48);
    m_lines[static_cast<std::size_t>(UpdateNotice::Advice)]->setStyleSheet(QStringLiteral("color: #c62828;"));
    m_open = new QPushButton(this);
    m_open->setObjectName(QStringLiteral("按钮_打开新版本"));
    m_open->setAutoDefault(false);
    m_open->setVisible(false);
    layout->addWidget(m_open, 0, Qt::AlignLeft);
    layout->addStretch(1);
    connect(m_open, &QPushButton::clicked, this, &UpdateNoticeArea::openRequested);
}

void UpdateNoticeArea::setNotice(UpdateNotice line, const QString& text) {
    QLabel* label = m_lines[static_cast<std::size_t>(line)];
    label->setText(text);
    label->setToolTip(line == UpdateNotice::UpdateNotes ? text : QString());
    label->setVisible(!text.trimmed().isEmpty());
}

void UpdateNoticeArea::setOpenCaption(const QString& caption) {
    m_open->setText(caption);
}

void UpdateNoticeArea::showOpen() {
    m_open->setVisible(true);
}

QString UpdateNoticeArea::notice(UpdateNotice line) const {
    return m_lines[static_cast<std::size_t>(line)]->text();
}

namespace {

struct Question {
    std::mutex mutex;
    std::condition_variable_any answered;
    std::optional<bool> answer;
};

} // namespace

UpdateFace windowUpdateFace(QWidget* window, UpdateNoticeArea* area) {
    QPointer<QWidget> win(window);
    QPointer<UpdateNoticeArea> notices(area);
    // Calls to the window's thread, dropped once the window is gone.
    const CallQueue::Sender toWindow = (new CallQueue(window))->sender();
    UpdateFace face;
    face.setNotice = [toWindow, notices](UpdateNotice line, const Text& gbk) {
        const QString text = toQStringLines(gbk);
        toWindow.post([notices, line, text] {
            if (notices) notices->setNotice(line, text);
        });
    };
    face.setOpenCaption = [toWindow, notices](const Text& gbk) {
        const QString text = toQString(gbk);
        toWindow.post([notices, text] {
            if (notices) notices->setOpenCaption(text);
        });
    };
    face.showOpen = [toWindow, notices] {
        toWindow.post([notices] {
            if (notices) notices->showOpen();
        });
    };
    face.closeWindow = [toWindow, win] {
        toWindow.post([win] {
            if (win) win->close();
        });
    };
    face.ask = [toWindow, win](const Text& title, const Text& text, std::stop_token stop) {
        auto question = std::make_shared<Question>();
        const QString qTitle = toQString(title), qText = toQStringLines(text);
        const bool asked = toWindow.post([win, question, qTitle, qText] {
            bool ok = false;
            if (win) {
                QMessageBox box(QMessageBox::Question, qTitle, qText, QMessageBox::Ok | QMessageBox::Cancel,
                                win);
                box.setDefaultButton(QMessageBox::Ok);
                ok = box.exec() == QMessageBox::Ok;
            }
            std::lock_guard lock(question->mutex);
            question->answer = ok;
            question->answered.notify_all();
        });
        if (!asked) return false;
        std::unique_lock lock(question->mutex);
        question->answered.wait(lock, stop, [&] { return question->answer.has_value(); });
        return question->answer.value_or(false);
    };
    face.later = [toWindow, win](std::chrono::milliseconds pause, std::function<void()> call) {
        toWindow.post([win, pause, call = std::move(call)] {
            if (win) QTimer::singleShot(pause, win, call);
        });
    };
    return face;
}

std::unique_ptr<UpdateCheck> makeWindowUpdateCheck(QWidget* window, const std::filesystem::path& home,
                                                   const std::filesystem::path& desktop) {
    const std::optional<Endpoints> endpoints = Endpoints::loadDefault(home);
    auto* area = window->findChild<UpdateNoticeArea*>();
    UpdateFace face = windowUpdateFace(window, area);
    auto check = std::make_unique<UpdateCheck>(
        UpdateSettings::fromEndpoints(endpoints ? &*endpoints : nullptr, home, desktop), std::move(face));
    if (area)
        QObject::connect(area, &UpdateNoticeArea::openRequested, area, [raw = check.get()] { raw->open(); });
    return check;
}

} // namespace zelkor::app
