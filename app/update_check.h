#pragma once
// The once-per-start look for a newer version, its download next to the program, and the daily
// quote. The flow runs on a thread of its own and reaches the window only through UpdateFace, so
// it runs the same under tests without a window.

#include "app/run_log.h"
#include "engine/core/pacing.h"
#include "net/downloader.h"
#include "text/text.h"

#include <QWidget>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

class QLabel;
class QPushButton;

namespace zelkor {
class Endpoints;
}

namespace zelkor::app {

// The lines of the notice area; every new value replaces the line's old one.
enum class UpdateNotice { Version, ServerStatus, Quote, UpdateStatus, UpdateNotes, Advice };

// How the flow reaches the user. Any member may be called from any thread.
struct UpdateFace {
    std::function<void(UpdateNotice, const Text& gbk)> setNotice;
    // The question with OK (true) and Cancel; a stop request gives the question up as Cancel.
    std::function<bool(const Text& title, const Text& text, std::stop_token)> ask;
    std::function<void(const Text& caption)> setOpenCaption; // the "open" action stays hidden
    std::function<void()> showOpen;
    std::function<void()> closeWindow; // runs the close sequence
    // Runs the call once the pause is over and returns at once; a wait on the calling thread, then
    // the call, when not set.
    std::function<void(std::chrono::milliseconds, std::function<void()>)> later;
    // Starts the program as a process of its own; false when it could not be started. A detached
    // process when not set.
    std::function<bool(const std::filesystem::path&)> startProgram;
    WaitFunction wait; // waitFor when not set
};

struct UpdateSettings {
    std::filesystem::path home;    // program directory: the download lands here
    std::filesystem::path desktop; // where the desktop entry for a new version goes
    std::array<Text, 3> mirrors;   // roots ending in "/"; empty when not configured
    Text quoteRoot;                // empty: no quote is fetched
    std::string caFile;            // PEM roots trusted instead of the system's store; empty: the system's
    LocalClock clock = systemLocalTime;

    // Mirrors from update1..update3 (none by default: the check then stays off the network), the
    // quote root from "quote" or kDefaultQuoteRoot. No endpoints (a named file that cannot be used)
    // means nothing is fetched at all.
    static UpdateSettings fromEndpoints(const Endpoints* endpoints, std::filesystem::path home,
                                        std::filesystem::path desktop);
};

inline constexpr const char* kDefaultQuoteRoot = "https://v1.hitokoto.cn";

// "%.13g": up to 13 significant digits, no trailing zeros.
std::string formatG13(double value);
// "已下载：<received/1024>kb/<total/1024>kb\r\n进度：<percent>%" (GBK).
Text downloadProgressText(std::int64_t total, std::int64_t received);
// A file's size in kilobytes rounded up; -1 when there is no such file.
std::int64_t fileSizeKb(const std::filesystem::path& file);
// A program directory whose first character is an upper-case "C".
bool adviseMovingProgram(const std::filesystem::path& home);

// The update document: a JSON object of text members (UTF-8, or GBK when not valid UTF-8).
struct UpdateDocument {
    bool read = false; // fetched and parsed as an object
    Text version, notes, fileName, url;

    // Offered only when read, naming a version that differs from ours, a download address and a
    // plain file name that stays inside the program directory.
    bool offersUpdate(const Text& ourVersion) const;
};
UpdateDocument parseUpdateDocument(const Bytes& body);

struct MirrorChoice {
    int index = 0; // 0..2; 0 also when none answered
    bool answered = false;
    Text root;
    Text status; // GBK
};
// The first configured mirror whose probe document is exactly "ok". `fetch` returns the body.
MirrorChoice chooseMirror(const std::array<Text, 3>& roots,
                          const std::function<Bytes(const Text& url)>& fetch);

// "   " + the sentence in GBK.
Text quoteLine(const Bytes& utf8Sentence);

class UpdateCheck {
  public:
    UpdateCheck(UpdateSettings settings, UpdateFace face);
    // Gives up a question still open, aborts requests in flight and cancels a running download;
    // the face is not called after this returns.
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    // Runs the check on a thread of its own, once; returns at once.
    void start();
    // The check itself, on the calling thread; a download it starts runs on.
    void run();
    // Blocks until the check thread has ended and a download it started has been dealt with.
    void waitUntilDone();

    // The "open" action: starts the downloaded file and closes the window; nothing unless the
    // download succeeded.
    void open();
    std::filesystem::path downloadTarget() const;

  private:
    struct Download;
    void updateFlow();
    void startDownload(const UpdateDocument& doc);
    void onProgress(DownloadState state, std::int64_t total, std::int64_t received);
    void downloadEnded(bool failed);
    void dailyQuote();
    void log(const char* utf8, const Text& tail = {}) const;
    void notice(UpdateNotice line, const Text& gbk) const;
    bool wait(std::chrono::milliseconds duration) const;

    UpdateSettings m_settings;
    UpdateFace m_face;
    RunLog m_log;
    std::stop_source m_stop;

    mutable std::mutex m_mutex;
    std::filesystem::path m_target;   // where the user finds the new version
    std::filesystem::path m_fetching; // where the downloader writes it
    bool m_ended = false;
    bool m_downloaded = false; // the transfer succeeded and the file is in place
    bool m_verified = false;   // it comes over https with the server's certificate checked
    std::condition_variable m_endedChanged;
    int m_task = 0;

    std::thread m_thread;
    std::unique_ptr<FileDownloader> m_downloader; // destroyed first: its last call may still come
};

// The small notice area of the window (on the contact page): one label per notice line, and the
// "open" action. Lines without text take no room.
class UpdateNoticeArea : public QWidget {
    Q_OBJECT
  public:
    explicit UpdateNoticeArea(QWidget* parent = nullptr);

    void setNotice(UpdateNotice line, const QString& text);
    void setOpenCaption(const QString& caption);
    void showOpen();
    QString notice(UpdateNotice line) const;
    QPushButton* openButton() const { return m_open; }

  signals:
    void openRequested();

  private:
    std::array<QLabel*, 6> m_lines{};
    QPushButton* m_open = nullptr;
};

// The face of the window: the notice area's lines, the question as a message box over `window`,
// the close sequence through window->close(). Calls from other threads are queued to the window.
UpdateFace windowUpdateFace(QWidget* window, UpdateNoticeArea* area);

// The check for the program's window: settings from the endpoints file under `home`, the notice
// area found in `window`, and its "open" action wired to UpdateCheck::open.
std::unique_ptr<UpdateCheck> makeWindowUpdateCheck(QWidget* window, const std::filesystem::path& home,
                                                   const std::filesystem::path& desktop);

} // namespace zelkor::app
