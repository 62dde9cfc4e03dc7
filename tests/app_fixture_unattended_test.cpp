// The built zelkor, started the way a companion program starts it ("zelkor kw"), offscreen,
// against the loopback fixture service: it mines, writes the keyword files and ends by itself.

#include "support/app_support.h"
#include "support/child_process.h"
#include "fixture_service.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelkor::app {
namespace {

using test::gbk;
using test::TempDir;

// The argument names the keyword folder, even one that Qt would take for an option of its own.
class UnattendedProcess : public ::testing::TestWithParam<const char*> {};

TEST_P(UnattendedProcess, MinesIntoTheKeywordFolderAndExitsByItself) {
    const std::string folder = GetParam();
    test::qtApp();
    test::FixtureService service;
    ASSERT_TRUE(service.ok());
    TempDir home;
    std::filesystem::create_directories(home / "data");
    std::filesystem::create_directories(home / "user");
    service.writeEndpoints(home / "endpoints.ini");
    test::writeFile(home / "data" / "Zelkorkey.ini",
                    gbk("[编辑框]\r\n编辑框_关键词=手机\r\n编辑框_延时=0\r\n"));

    test::ChildOptions options;
    options.environment = {"QT_QPA_PLATFORM=offscreen", "ZELKOR_HOME=" + home.path().string(),
                           "ZELKOR_ENDPOINTS=" + (home / "endpoints.ini").string(),
                           // The disclaimer marker and the desktop entry go to a home of the test's own.
                           "HOME=" + (home / "user").string()};
    options.dropEnvironment = {"XDG_CONFIG_HOME=", "XDG_DATA_HOME=", "XDG_DESKTOP_DIR=", "XDG_DOCUMENTS_DIR="};
    // Spawned, not started by QProcess: under ThreadSanitizer QProcess's start counts as a fork of
    // this many-threaded program, after which the program dies at the next thread it starts.
    const test::ChildOutcome zelkor = test::runChild(ZELKOR_APP_BINARY, {folder}, options);
    ASSERT_TRUE(zelkor.started);
    ASSERT_EQ(zelkor.status(), 0) << "zelkor " << folder << " did not end by itself, cleanly:\n" << zelkor.err;

    for (const char* keyword : {"手机壳", "手机支架", "手机", "手机壳定制"})
        EXPECT_TRUE(std::filesystem::exists(home / folder / (std::string(keyword) + ".zr"))) << keyword;
    const std::string saved = test::readFile(home / "data" / "Zelkorkey.ini");
    EXPECT_NE(saved.find(gbk("编辑框_挖掘数量=100000")), std::string::npos) << saved;
    EXPECT_NE(saved.find(gbk("编辑框_挂机keyword=") + (home / folder).string()), std::string::npos) << saved;
    EXPECT_NE(saved.find(gbk("编辑框_关键词=手机")), std::string::npos) << saved;
    EXPECT_FALSE(service.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Folders, UnattendedProcess, ::testing::Values("kw", "-reverse"),
                         [](const auto& info) { return info.index == 0 ? std::string("Plain") : std::string("QtOption"); });

} // namespace
} // namespace zelkor::app
