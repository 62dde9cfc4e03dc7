#pragma once
// The results file: "<save dir>/Zelkor长尾词_<first 100 bytes of the seeds, "/" as "_">.txt", one keyword and
// CR LF per shown result, GBK. A file is replaced atomically or, when it is still exactly what this
// writer wrote last, only the new lines are appended; it is never left half written.

#include "engine/core/controls.h"
#include "engine/core/file_lock.h"
#include "engine/core/records.h"
#include "engine/store/run_store.h"
#include "text/text.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace zelkor {

// The path as the controls give it now (GBK, CR LF removed); the notice shows this text.
Text resultPathText(const Controls& controls);
// The n-th name for that path when another run holds the ones before: "<path less .txt> (n).txt".
Text numberedPathText(const Text& pathText, int n);

class ResultWriter {
  public:
    // Writes all `keywords` to the path the controls give now, unless auto-save is off and the
    // save is not forced; then the notice "已帮您自动保存数据，保存路径为：<path>", or, when the
    // file could not be written, "数据保存失败，保存路径为：<path>". Returns true when written.
    // Records only ever grow between calls of one writer (one run's results); a call with an older,
    // shorter copy leaves the file holding the newer lines.
    bool save(Controls& controls, const std::vector<ResultRecord>& results, bool forced);
    bool save(Controls& controls, const ResultList& results, bool forced);

    enum class Outcome { Off, Written, Failed, Cancelled };
    struct Saved {
        Outcome outcome = Outcome::Off;
        Text pathText; // as resultPathText gave it
    };
    // The same without the notice, for a caller that shows it itself. Only the records present
    // when the call starts are written. A request on `cancel` made before the file is touched
    // leaves it as it was (Cancelled).
    Saved write(const Controls& controls, const ResultList& results, bool forced, std::stop_token cancel = {});
    // The notice save() shows for `saved`; empty for Off and Cancelled.
    static Text notice(const Saved& saved);

    // Bytes written to disk by this writer so far (appends and rewrites).
    std::uint64_t bytesWritten() const;

    // The results file this writer writes for the controls' path: the path itself, or, while other
    // writers (of this process or another) hold it, the first numbered name nobody holds. The name is
    // this writer's own as long as it lives, so two runs that share a save directory and their
    // seeds never write one file.
    Text pathText(const Controls& controls);

  private:
    Text claim(const Text& pathText); // with m_mutex held
    bool write(const std::filesystem::path& file, const ResultList& results, std::size_t count);
    bool append(const std::filesystem::path& file, const ResultList& results, std::size_t count);
    bool rewrite(const std::filesystem::path& file, const ResultList& results, std::size_t count);
    void remember(const std::filesystem::path& file, int fd, std::size_t lines);

    mutable std::mutex m_mutex;
    std::filesystem::path m_lastFile;
    std::size_t m_linesWritten = 0;
    std::uint64_t m_size = 0;
    std::uint64_t m_inode = 0;
    std::uint64_t m_device = 0;
    std::int64_t m_mtimeNs = 0;
    std::uint64_t m_bytesWritten = 0;
    Text m_claimedFor;                // the controls' path the claim is for
    Text m_claimedPath;               // the name taken for it
    std::optional<FileLock> m_claim;  // its lock, beside it in the save directory
};

} // namespace zelkor
