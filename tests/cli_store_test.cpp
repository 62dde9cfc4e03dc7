// zelkor-cli with a SQLite run store against the fixture service: a run killed with SIGKILL or
// stopped at several points and resumed gives exactly the results of a run left alone; `runs` and
// `export` read the store; a store that cannot be used is refused without touching it.

#include "engine/store/sqlite.h"
#include "fixture_service.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using test::FixtureService;
using test::TempDir;

struct Outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class Child {
  public:
    Child(const std::vector<std::string>& args, const fs::path& dir) : m_dir(dir) {
        std::vector<std::string> argvStrings = {ZELKOR_CLI_PATH};
        argvStrings.insert(argvStrings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : argvStrings) argv.push_back(s.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open((dir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::unsetenv("ZELKOR_ENDPOINTS");
            ::unsetenv("ZELKOR_HOME");
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    void signal(int number) { ::kill(m_pid, number); }
    bool running() {
        if (m_done) return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return true;
        record(status);
        return false;
    }
    Outcome wait() {
        if (!m_done) {
            int status = 0;
            if (::waitpid(m_pid, &status, 0) == m_pid) record(status);
        }
        m_outcome.out = test::readFile(m_dir / "stdout.txt");
        m_outcome.err = test::readFile(m_dir / "stderr.txt");
        return m_outcome;
    }

  private:
    void record(int status) {
        m_done = true;
        m_outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    fs::path m_dir;
    pid_t m_pid = -1;
    bool m_done = false;
    Outcome m_outcome;
};

Outcome runCli(const std::vector<std::string>& args, const fs::path& dir) {
    return Child(args, dir).wait();
}

// The export without its time column: what must be equal between runs.
std::string withoutTimes(const std::string& jsonl) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t nl; (nl = jsonl.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = jsonl.substr(start, nl - start);
        out += line.substr(0, line.find(",\"time\":")) + "\n";
    }
    return out;
}

class CliStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service.ok());
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "out");
        service.writeEndpoints(dir / "endpoints.ini");
    }

    std::vector<std::string> common() const {
        return {"--home", (dir / "home").string(), "--endpoints", (dir / "endpoints.ini").string()};
    }
    std::vector<std::string> runArgs(const fs::path& db, bool resume, bool parallel = false) const {
        auto args = common();
        if (parallel)
            for (const char* arg : {"--parallel", "--rate", "200"}) args.push_back(arg);
        args.push_back("--no-autosave");
        args.push_back("--store");
        args.push_back("sqlite:" + db.string());
        // A resumed run keeps its own delay, limit, sources and filters.
        if (resume) {
            args.push_back("--resume");
        } else {
            for (const char* arg : {"--delay", "0", "--limit", "0", "--sources", "all", "--no-main-word", "手机"})
                args.push_back(arg);
        }
        return args;
    }
    std::string exported(const fs::path& db, const std::string& format = "jsonl") {
        auto args = common();
        const fs::path file = dir / ("export." + format);
        for (const std::string& arg :
             {std::string("export"), std::string("--store"), "sqlite:" + db.string(), std::string("--format"), format,
              std::string("-o"), file.string()})
            args.push_back(arg);
        const auto outcome = runCli(args, dir.path());
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return test::readFile(file);
    }
    std::string runsListing(const fs::path& db) {
        auto args = common();
        args.push_back("runs");
        args.push_back("--store");
        args.push_back("sqlite:" + db.string());
        const auto outcome = runCli(args, dir.path());
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return outcome.out;
    }
    // Starts a run, sends `signal` once the fixture has answered `requests` requests, waits.
    Outcome interrupted(const fs::path& db, std::size_t requests, int signal, bool parallel = false) {
        service.clearRequests();
        Child child(runArgs(db, false, parallel), dir.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (child.running() && service.requests().size() < requests &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        child.signal(signal);
        return child.wait();
    }

    FixtureService service;
    TempDir dir;
};

TEST_F(CliStore, AKilledOrStoppedRunResumesToTheSameResults) {
    const fs::path whole = dir / "whole.sqlite";
    const auto first = runCli(runArgs(whole, false), dir.path());
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string expected = withoutTimes(exported(whole));
    ASSERT_GT(std::count(expected.begin(), expected.end(), '\n'), 20);
    EXPECT_NE(runsListing(whole).find("\tfinished\t"), std::string::npos);
    const std::size_t total = service.requests().size();

    struct Case {
        std::size_t requests;
        int signal;
    };
    // Within the first seed, in the seed's last sources, early and late in the queue pass; Ctrl-C.
    const Case cases[] = {{3, SIGKILL},         {24, SIGKILL},        {total / 4, SIGKILL},
                          {total * 3 / 4, SIGKILL}, {total / 2, SIGINT}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("after " + std::to_string(c.requests) + " requests, signal " + std::to_string(c.signal));
        const fs::path db = dir / ("run" + std::to_string(n++) + ".sqlite");
        const auto killed = interrupted(db, c.requests, c.signal);
        ASSERT_EQ(killed.status, c.signal == SIGKILL ? 128 + SIGKILL : 130) << killed.err;
        const std::string listing = runsListing(db);
        EXPECT_NE(listing.find(c.signal == SIGKILL ? "\tinterrupted\t" : "\tstopped\t"), std::string::npos)
            << listing;

        service.clearRequests();
        const auto resumed = runCli(runArgs(db, true), dir.path());
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_EQ(withoutTimes(exported(db)), expected);
        EXPECT_NE(runsListing(db).find("\tfinished\t"), std::string::npos);
        // Only the keywords not kept are asked again: after the first seed (25 sources) that is
        // fewer than the whole run's requests.
        if (c.requests > 25) {
            EXPECT_LT(service.requests().size(), total);
        } else {
            EXPECT_EQ(service.requests().size(), total);
        }
    }
}

TEST_F(CliStore, AKilledThroughputRunResumesToTheSequentialResults) {
    const fs::path whole = dir / "whole.sqlite";
    ASSERT_EQ(runCli(runArgs(whole, false), dir.path()).status, 0);
    const std::string expected = withoutTimes(exported(whole));
    const std::size_t total = service.requests().size();
    // Many keywords are in flight when it dies; only those committed in queue order were kept.
    for (const std::size_t requests : {total / 3, total * 2 / 3}) {
        SCOPED_TRACE("killed after " + std::to_string(requests) + " requests");
        const fs::path db = dir / ("parallel" + std::to_string(requests) + ".sqlite");
        const auto killed = interrupted(db, requests, SIGKILL, true);
        ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.err;
        const auto resumed = runCli(runArgs(db, true), dir.path()); // the stored options say parallel
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_EQ(withoutTimes(exported(db)), expected);
    }
}

TEST_F(CliStore, ExportsEachFormatAndRefusesWhatItCannotDo) {
    const fs::path db = dir / "runs.sqlite";
    ASSERT_EQ(runCli(runArgs(db, false), dir.path()).status, 0);
    const std::string jsonl = exported(db, "jsonl");
    const std::string csv = exported(db, "csv");
    const std::string txt = exported(db, "txt");
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBFkeyword,source,main_word,parent,depth,time,source_index\r\n", 0), 0u);
    EXPECT_NE(csv.find("\r\n手机壳,百度相关,手机,手机,1,"), std::string::npos);
    EXPECT_NE(jsonl.find(",\"source_index\":0}\n"), std::string::npos);
    EXPECT_NE(jsonl.find("{\"keyword\":\"手机壳\",\"source\":\"百度相关\",\"main_word\":\"手机\",\"parent\":\"手机\","
                         "\"depth\":1,\"time\":\""),
              std::string::npos)
        << jsonl.substr(0, 300);
    EXPECT_EQ(txt.rfind(test::to_gbk("手机壳") + "\r\n", 0), 0u);
    const auto lines = std::count(jsonl.begin(), jsonl.end(), '\n');
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), lines + 1);
    EXPECT_EQ(exported(db, "xlsx").substr(0, 2), "PK");

    struct Bad {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string store = "sqlite:" + db.string();
    const Bad bad[] = {
        {{"export", "--store", store, "--run", "9", "-o", (dir / "x.txt").string()}, "no run 9"},
        {{"export", "--store", "files", "-o", (dir / "x").string()}, "keeps no history"},
        {{"export", "--store", store, "--format", "csv", "-o", db.string()}, "part of the run store being read"},
        {{"export", "--store", store, "-o", db.string() + "-wal"}, "part of the run store being read"},
        {{"export", "--store", store, "-o", db.string() + "-shm"}, "part of the run store being read"},
        {{"export", "--store", store, "-o", dir.path().string()}, "it is a directory"},
        {{"export", "--store", store, "-o", "/dev/null"}, "it is not a regular file"},
        {{"runs", "--store", "sqlite:" + (dir / "none.sqlite").string()}, "no run store at"},
        {{"--store", "files", "--resume"}, "--resume needs a database store"},
        {{"--store", "sqlite:" + (dir / "empty.sqlite").string(), "--resume"}, "no run to resume"},
        {{"--store", "redis:x", "a"}, "unknown store"},
        {{"--export-format", "xls", "a"}, "--export-format"},
    };
    const std::string before = test::readFile(db);
    for (const auto& b : bad) {
        auto args = common();
        args.insert(args.end(), b.args.begin(), b.args.end());
        const auto outcome = runCli(args, dir.path());
        EXPECT_EQ(outcome.status, 2) << b.message;
        EXPECT_NE(outcome.err.find(b.message), std::string::npos) << outcome.err;
    }
    // The refused exports left the store as it was, and it still reads.
    EXPECT_EQ(test::readFile(db), before);
    EXPECT_EQ(exported(db, "txt"), txt);
}

TEST_F(CliStore, ACorruptOrLockedStoreIsRefusedAndLeftAsItWas) {
    const fs::path corrupt = dir / "corrupt.sqlite";
    const std::string garbage(4096, 'x');
    test::writeFile(corrupt, garbage);
    const auto refused = runCli(runArgs(corrupt, false), dir.path());
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("not a database"), std::string::npos) << refused.err;
    EXPECT_EQ(test::readFile(corrupt), garbage);
    EXPECT_TRUE(service.requests().empty());

    // Another program holds the database: the run waits a while, then says so; the runs already
    // there are untouched.
    const fs::path db = dir / "locked.sqlite";
    ASSERT_EQ(runCli(runArgs(db, false), dir.path()).status, 0);
    const std::string before = exported(db);
    service.clearRequests();
    {
        SqliteDb other;
        ASSERT_TRUE(other.open(db, false));
        ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE"));
        const auto locked = runCli(runArgs(db, false), dir.path());
        EXPECT_EQ(locked.status, 2);
        EXPECT_NE(locked.err.find("locked"), std::string::npos) << locked.err;
        EXPECT_TRUE(service.requests().empty());
    }
    EXPECT_EQ(exported(db), before);
    const std::string listing = runsListing(db);
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 2) << listing; // header and one run
}

} // namespace
} // namespace zelkor
