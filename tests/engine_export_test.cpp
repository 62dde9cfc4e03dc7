#include "engine/core/control_names.h"
#include "engine/output/export.h"
#include "engine/output/export_target.h"
#include "engine/output/rich_export.h"
#include "engine/core/program_dir.h"
#include "engine/core/text_rules.h"
#include "engine/core/value_controls.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::vector<ResultRecord> records(std::initializer_list<std::string> keywords) {
    std::vector<ResultRecord> out;
    for (const auto& k : keywords)
        out.push_back({gbk(k), gbk("百度相关"), gbk("抖音"), {}, 1, {}});
    return out;
}

TEST(ResultPath, FollowsTheNameRules) {
    struct Case {
        std::string directory;
        std::string seeds;
        std::string path;
    };
    const std::string a100(100, 'a');
    const Case cases[] = {
        {"/out", "手机", "/out/Zelkor长尾词_手机.txt"},
        {"/out/", "手机", "/out/Zelkor长尾词_手机.txt"},
        {"/out", "抖音\r\n快手", "/out/Zelkor长尾词_抖音快手.txt"},
        {"", "x", "/Zelkor长尾词_x.txt"},
        {"/out", a100 + "bcd", "/out/Zelkor长尾词_" + a100 + ".txt"},
        {"/out", std::string(99, 'a') + "字", "/out/Zelkor长尾词_" + std::string(99, 'a') + ".txt"},
        {"/o\r\nut", "", "/out/Zelkor长尾词_.txt"},
        {"/out", "a\r\r\n\nb", "/out/Zelkor长尾词_a\r\nb.txt"}, // one pass, not until none is left
        // The seeds name a file, never a place.
        {"/out", "AC/DC", "/out/Zelkor长尾词_AC_DC.txt"},
        {"/out", "x/../../ESCAPED", "/out/Zelkor长尾词_x_.._.._ESCAPED.txt"},
        {"/out", "/", "/out/Zelkor长尾词__.txt"},
        {"/o/", "..\r\n/..", "/o/Zelkor长尾词_.._...txt"},
    };
    for (const auto& c : cases) {
        ValueControls controls;
        controls.setText(ctl::kSaveDir, gbk(c.directory));
        controls.setText(ctl::kSeeds, gbk(c.seeds));
        EXPECT_EQ(gbk_to_utf8(resultPathText(controls)), c.path) << c.directory << " " << c.seeds;
    }
}

class ExportTest : public ::testing::Test {
  protected:
    TempDir dir;
    ValueControls controls;
    ResultWriter writer;
    fs::path file;

    void SetUp() override {
        applyWindowDefaults(controls, dir.path());
        controls.setText(ctl::kSeeds, gbk("抖音\r\n快手"));
        file = dir / "Zelkor长尾词_抖音快手.txt";
    }
};

TEST_F(ExportTest, WritesGbkLinesEachEndedByCrLfAndTheNotice) {
    ASSERT_TRUE(writer.save(controls, records({"抖音直播", "快手极速版"}), false));
    EXPECT_EQ(readFile(file), gbk("抖音直播\r\n快手极速版\r\n"));
    EXPECT_EQ(controls.notices(),
              std::vector<Text>{gbk("已帮您自动保存数据，保存路径为：") + pathToGbk(file)});
}

TEST_F(ExportTest, AnEmptyResultListGivesAnEmptyFile) {
    writeFile(file, "old content\r\n");
    ASSERT_TRUE(writer.save(controls, {}, true));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(ExportTest, AutoSaveOffWritesOnlyWhenForced) {
    controls.setChecked(ctl::kAutoSave, false);
    EXPECT_FALSE(writer.save(controls, records({"a"}), false));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(controls.notices().empty());
    EXPECT_TRUE(writer.save(controls, records({"a"}), true));
    EXPECT_EQ(readFile(file), "a\r\n");
}

TEST_F(ExportTest, AppendsToItsOwnFileAndRewritesAFileChangedMeanwhile) {
    auto all = records({"k1", "k2"});
    ASSERT_TRUE(writer.save(controls, all, false));
    std::uint64_t expected = 8;
    for (int i = 3; i <= 50; ++i) {
        all.push_back({"k" + std::to_string(i), "", "", "", 1, ""});
        ASSERT_TRUE(writer.save(controls, all, false));
        expected += all.back().keyword.size() + 2;
    }
    std::string content;
    for (const auto& r : all)
        content += r.keyword + "\r\n";
    EXPECT_EQ(readFile(file), content);
    EXPECT_EQ(writer.bytesWritten(), expected); // every line written once

    // Someone else changed the file: it is rewritten from the results, not appended to.
    writeFile(file, "foreign\r\n");
    all.push_back({"k51", "", "", "", 1, ""});
    ASSERT_TRUE(writer.save(controls, all, false));
    EXPECT_EQ(readFile(file), content + "k51\r\n");

    // Another seed text means another file: written whole.
    controls.setText(ctl::kSeeds, "x");
    ASSERT_TRUE(writer.save(controls, all, false));
    EXPECT_EQ(readFile(dir / "Zelkor长尾词_x.txt"), content + "k51\r\n");
    // No temporary file is left beside them; only the lock of the file the writer now writes.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{".Zelkor长尾词_x.txt.lock", "Zelkor长尾词_x.txt", "Zelkor长尾词_抖音快手.txt"}));
}

// Two runs with the same seeds and save directory (two homes, two processes, or two writers here)
// never write one file: the second takes the next numbered name while the first lives, and the
// name is free again once its writer is gone.
TEST_F(ExportTest, AResultsFileIsItsWritersOwnWhileItLives) {
    auto first = std::make_unique<ResultWriter>();
    ResultWriter second;
    ASSERT_TRUE(first->save(controls, records({"a1", "a2"}), false));
    ASSERT_TRUE(second.save(controls, records({"b1"}), false));
    ASSERT_TRUE(first->save(controls, records({"a1", "a2", "a3"}), false));
    const fs::path numbered = dir / "Zelkor长尾词_抖音快手 (2).txt";
    EXPECT_EQ(readFile(file), "a1\r\na2\r\na3\r\n");
    EXPECT_EQ(readFile(numbered), "b1\r\n");
    EXPECT_EQ(second.pathText(controls), pathToGbk(numbered));
    EXPECT_EQ(controls.notices().back(), gbk("已帮您自动保存数据，保存路径为：") + pathToGbk(file));

    first.reset();
    EXPECT_FALSE(fs::exists(dir / ".Zelkor长尾词_抖音快手.txt.lock"));
    ResultWriter third;
    EXPECT_EQ(third.pathText(controls), pathToGbk(file));
    EXPECT_EQ(second.pathText(controls), pathToGbk(numbered)); // a writer keeps the name it has

    EXPECT_EQ(numberedPathText(gbk("/o/a.txt"), 1), gbk("/o/a.txt"));
    EXPECT_EQ(numberedPathText(gbk("/o/a.txt"), 3), gbk("/o/a (3).txt"));
}

TEST_F(ExportTest, AnOlderCopyNeverTakesLinesAwayFromTheFile) {
    // The export action copies the results, then the worker auto-saves a longer list before the
    // export gets to write its copy.
    const auto older = records({"k1", "k2"});
    const auto newer = records({"k1", "k2", "k3"});
    ASSERT_TRUE(writer.save(controls, newer, false));
    ASSERT_TRUE(writer.save(controls, older, true));
    EXPECT_EQ(readFile(file), "k1\r\nk2\r\nk3\r\n");
    const auto newest = records({"k1", "k2", "k3", "k4"});
    ASSERT_TRUE(writer.save(controls, newest, false));
    EXPECT_EQ(readFile(file), "k1\r\nk2\r\nk3\r\nk4\r\n");

    // A file changed by someone else is still rewritten from whatever copy comes.
    writeFile(file, "foreign\r\n");
    ASSERT_TRUE(writer.save(controls, older, true));
    EXPECT_EQ(readFile(file), "k1\r\nk2\r\n");
}

TEST_F(ExportTest, SeedsWithSlashesStayInsideTheSaveDirectory) {
    fs::create_directories(dir / "out" / "Zelkor长尾词_x");
    controls.setText(ctl::kSaveDir, pathToGbk(dir / "out"));
    controls.setText(ctl::kSeeds, gbk("x/../../ESCAPED"));
    ASSERT_TRUE(writer.save(controls, records({"a"}), true));
    EXPECT_EQ(readFile(dir / "out" / "Zelkor长尾词_x_.._.._ESCAPED.txt"), "a\r\n");
    EXPECT_FALSE(fs::exists(dir / "ESCAPED.txt"));
    controls.setText(ctl::kSeeds, gbk("AC/DC"));
    ASSERT_TRUE(writer.save(controls, records({"b"}), true));
    EXPECT_EQ(readFile(dir / "out" / "Zelkor长尾词_AC_DC.txt"), "b\r\n");
}

TEST_F(ExportTest, AFileThatCannotBeWrittenIsReportedAndLeftAlone) {
    controls.setText(ctl::kSaveDir, pathToGbk(dir / "missing"));
    EXPECT_FALSE(writer.save(controls, records({"a"}), true));
    EXPECT_EQ(controls.notices(),
              std::vector<Text>{gbk("数据保存失败，保存路径为：") +
                                pathToGbk(dir / "missing" / "Zelkor长尾词_抖音快手.txt")});
    EXPECT_FALSE(fs::exists(dir / "missing"));
}


// What `-o` may name. A store's own files (by any name), directories and anything but a regular
// file are refused untouched; a symlink is written through and its target keeps its mode.
TEST(ExportTarget, RefusesWhatIsNotAnExportAndWritesThroughLinks) {
    TempDir dir;
    const fs::path store = dir / "runs.sqlite";
    const std::string storeBytes = "SQLite format 3" + std::string(100, '\1');
    writeFile(store, storeBytes);
    writeFile(dir / "runs.sqlite-wal", "wal");
    writeFile(dir / "runs.sqlite-shm", "shm");
    fs::create_hard_link(store, dir / "hardlink.sqlite");
    fs::create_symlink(store, dir / "link-to-store");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("link-b", dir / "link-a");
    fs::create_symlink("link-a", dir / "link-b");
    writeFile(dir / "private.csv", "old");
    ::chmod((dir / "private.csv").c_str(), 0600);
    fs::create_symlink(dir / "private.csv", dir / "link-to-private");
    writeFile(dir / "shared.csv", "old");
    ::chmod((dir / "shared.csv").c_str(), 0640);
    fs::create_directory(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere" / "new.csv", dir / "dangling");
    const std::vector<ResultRecord> rows = {{gbk("手机"), gbk("百度相关"), gbk("手机"), gbk("手机"), 1, "t"}};
    const std::string expected = formatResults(rows, ExportFormat::Csv);

    struct Case {
        const char* name;
        fs::path named;
        const char* refusal; // nullptr: written
        fs::path lands;      // where the bytes land when written
        mode_t mode;         // the mode they have there
    } cases[] = {
        {"the store itself", store, "part of the run store being read", {}, 0},
        {"its write-ahead log", dir / "runs.sqlite-wal", "part of the run store being read", {}, 0},
        {"its shared memory", dir / "runs.sqlite-shm", "part of the run store being read", {}, 0},
        {"a hard link to it", dir / "hardlink.sqlite", "part of the run store being read", {}, 0},
        {"a symlink to it", dir / "link-to-store", "part of the run store being read", {}, 0},
        {"its journal, not there now", dir / "runs.sqlite-journal", "part of the run store being read", {}, 0},
        {"its journal by another path", dir / "folder" / ".." / "runs.sqlite-journal", "part of the run store being read", {}, 0},
        {"a directory", dir / "folder", "it is a directory", {}, 0},
        {"a pipe", dir / "fifo", "it is not a regular file", {}, 0},
        {"a character device", "/dev/null", "it is not a regular file", {}, 0},
        {"links that loop", dir / "link-a", "symbolic links loop", {}, 0},
        {"a missing directory", dir / "none" / "x.csv", "there is no directory", {}, 0},
        {"a symlink to a private file", dir / "link-to-private", nullptr, dir / "private.csv", 0600},
        {"a file with its own mode", dir / "shared.csv", nullptr, dir / "shared.csv", 0640},
        {"a dangling symlink", dir / "dangling", nullptr, dir / "elsewhere" / "new.csv", 0666 & ~[] {
             const mode_t mask = ::umask(0);
             ::umask(mask);
             return mask;
         }()},
        {"a new name", dir / "new.csv", nullptr, dir / "new.csv", 0},
    };
    cases[std::size(cases) - 1].mode = cases[std::size(cases) - 2].mode;
    for (const Case& c : cases) {
        for (const auto format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
            std::string error;
            const bool written = writeResultsFile(c.named, rows, format, &error, sqliteFiles(store));
            EXPECT_EQ(written, c.refusal == nullptr) << c.name << ": " << error;
            if (c.refusal) {
                EXPECT_NE(error.find(c.refusal), std::string::npos) << c.name << ": " << error;
                EXPECT_NE(error.find(c.named.string()), std::string::npos) << c.name << ": " << error;
                continue;
            }
            struct stat st {};
            ASSERT_EQ(::stat(c.lands.c_str(), &st), 0) << c.name;
            EXPECT_EQ(st.st_mode & 07777, c.mode) << c.name;
            if (format == ExportFormat::Csv) {
                EXPECT_EQ(readFile(c.lands), expected) << c.name;
            }
        }
    }
    EXPECT_EQ(readFile(store), storeBytes);
    EXPECT_EQ(readFile(dir / "runs.sqlite-wal"), "wal");
    EXPECT_EQ(readFile(dir / "runs.sqlite-shm"), "shm");
    EXPECT_TRUE(fs::is_symlink(dir / "link-to-private"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    EXPECT_TRUE(S_ISCHR(null.st_mode));
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

// A phrase a service offers must never run in a spreadsheet: a csv cell that begins like a formula
// is kept as text; the other formats keep the phrase as it is.
TEST(ExportCsv, CellsThatBeginLikeAFormulaStayText) {
    struct Case {
        std::string phrase;
        std::string cell;
    } cases[] = {
        {"=HYPERLINK(\"http://x\",\"手机\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"手机\"\")\""},
        {"=1+1", "'=1+1"},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"=a,b", "\"'=a,b\""},
        {"手机=1", "手机=1"},
        {"a-b", "a-b"},
        {"'quoted", "'quoted"},
        {"", ""},
    };
    for (const Case& c : cases) {
        const std::vector<ResultRecord> rows = {{gbk(c.phrase), gbk("=src"), gbk("+main"), gbk("-parent"), 1, "t"}};
        const std::string csv = formatResults(rows, ExportFormat::Csv);
        const std::string line = csv.substr(csv.find("\r\n") + 2);
        EXPECT_EQ(line, c.cell + ",'=src,'+main,'-parent,1,t,\r\n") << c.phrase;
        EXPECT_EQ(formatResults(rows, ExportFormat::Txt), gbk(c.phrase) + "\r\n") << c.phrase;
        const std::string jsonl = formatResults(rows, ExportFormat::Jsonl);
        EXPECT_EQ(jsonl.find("'") != std::string::npos, c.phrase.find("'") != std::string::npos) << c.phrase;
    }
}

// A process stopped by a signal while it writes an export leaves no temporary file.
TEST(ExportTarget, ASignalRemovesTheTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            removeTempFilesOnSignals();
            ExportTarget target{dir / "out.csv", false, 0};
            TempFile temp(target);
            const char mark = temp.fd() >= 0 ? 'y' : 'n';
            (void)!::write(ready[1], &mark, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char mark = 0;
        ASSERT_EQ(::read(ready[0], &mark, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(mark, 'y');
        EXPECT_TRUE(fs::exists(dir / ("out.csv.tmp" + std::to_string(child)))) << signal;
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_TRUE(fs::is_empty(dir.path())) << signal;
    }
}

} // namespace
} // namespace zelkor
