// The built zelkor, started the way a companion program starts it ("zelkor kw"), offscreen,
// against the loopback fixture service: it mines, writes the keyword files and ends by itself.

#include "support/app_support.h"
#include "fixture_service.h"
#include "support/temp_dir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace zelkor::app {
namespace {

using test::gbk;
using test::TempDir;

QString qpath(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

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

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZELKOR_HOME", qpath(home.path()));
    env.insert("ZELKOR_ENDPOINTS", qpath(home / "endpoints.ini"));
    // The disclaimer marker and the desktop entry go to a home of the test's own.
    env.insert("HOME", qpath(home / "user"));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR"})
        env.remove(name);

    QProcess zelkor;
    zelkor.setProcessEnvironment(env);
    zelkor.setProcessChannelMode(QProcess::ForwardedChannels);
    zelkor.start(ZELKOR_APP_BINARY, {QString::fromStdString(folder)});
    ASSERT_TRUE(zelkor.waitForStarted(10000));
    const bool ended = zelkor.waitForFinished(60000);
    if (!ended) zelkor.kill();
    ASSERT_TRUE(ended) << "zelkor " << folder << " did not end by itself";
    EXPECT_EQ(zelkor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(zelkor.exitCode(), 0);

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
