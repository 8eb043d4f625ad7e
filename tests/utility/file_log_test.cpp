#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <algorithm>
#include <unistd.h>
#include <thread>

#include "TempDir.h"
#include "utility/File.h"
#include "utility/log.h"
#include "utility/text.h"

using tf::File;
using tf::String;


TEST(FileTest, FlagsAreFixedWhenMade) {
    TempDir tmp;
    File missing(String(tmp.path + "/new"));
    EXPECT_FALSE(missing.exist());
    EXPECT_TRUE(missing.makedir());
    EXPECT_FALSE(missing.exist());  // no refresh
    File made(String(tmp.path + "/new"));
    EXPECT_TRUE(made.exist());
    EXPECT_TRUE(made.isDirectory());
    EXPECT_FALSE(made.makedir());
    EXPECT_FALSE(File(String(tmp.path + "/a/b")).makedir());  // parents are not made
}

TEST(FileTest, SizeListAndListAll) {
    TempDir tmp;
    unsigned char data[] = "hello";
    ASSERT_EQ(tf::file_put_contents(tmp.path + "/f.txt", data, 5), 5);
    EXPECT_EQ(File(String(tmp.path + "/f.txt")).getSize(), 5);
    EXPECT_EQ(File(String(tmp.path + "/none")).getSize(), -1);
    EXPECT_EQ(tf::file_put_contents(tmp.path + "/no/such/dir", data, 5), -1);

    File empty_dir(String(tmp.path + "/e"));
    empty_dir.makedir();
    std::vector<File> entries = File(String(tmp.path + "/e")).list();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].isCurrent() || entries[0].isPrevious());
    EXPECT_TRUE(File(String(tmp.path + "/f.txt")).list().empty());

    File(String(tmp.path + "/e/sub")).makedir();
    tf::file_put_contents(tmp.path + "/e/sub/g.txt", data, 1);
    std::vector<File> all;
    File(String(tmp.path)).listAll(all);
    std::vector<std::string> names;
    for (const File& f : all) {
        EXPECT_TRUE(f.exist());
        EXPECT_FALSE(f.isDirectory());
        names.push_back(f.getPath().str());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{tmp.path + "/e/sub/g.txt", tmp.path + "/f.txt"}));

    std::string content = "untouched";
    tf::file_get_contents(tmp.path + "/none", content);
    EXPECT_EQ(content, "untouched");
    tf::file_get_contents(tmp.path + "/f.txt", content);
    EXPECT_EQ(content, "hello");
}

TEST(FileTest, ListAllSurvivesALinkLoop) {
    TempDir tmp;
    File(String(tmp.path + "/d")).makedir();
    ASSERT_EQ(symlink(tmp.path.c_str(), (tmp.path + "/d/up").c_str()), 0);
    std::vector<File> all;
    File(String(tmp.path)).listAll(all);  // must end
    SUCCEED();
}

TEST(FileTest, PathsAndHome) {
    String pwd = File::pwd();
    EXPECT_FALSE(pwd.empty());
    EXPECT_EQ(File(String("x")).absolutePath(), String(pwd + String("/x")));
    EXPECT_EQ(File(String("/abs/y")).absolutePath(), String(pwd + String("//abs/y")));
    EXPECT_EQ(File(String("a/b.txt")).getName(), String("b.txt"));
    EXPECT_EQ(File(String("a/b.txt")).getParent(), String(pwd + String("/a")));

    TempDir tmp;
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", tmp.path.c_str(), 1);
    EXPECT_EQ(File::home(), String(tmp.path));
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST(LogTest, LineFormat) {
    EXPECT_EQ(tf::print_level(tf::LOG_ERROR).substr(0, 8), "ERROR: [");
    EXPECT_EQ(tf::print_level(2).substr(0, 8), "WARN : [");
    EXPECT_EQ(tf::print_level(3).substr(0, 8), "INFO : [");
    EXPECT_EQ(tf::print_level(4).substr(0, 8), "DEBUG: [");
    EXPECT_EQ(tf::print_level(9).substr(0, 8), "NONE : [");

    testing::internal::CaptureStderr();
    struct Local {
        static void load() { TF_LOG(tf::LOG_WARN, "value=" << 42); }
    };
    Local::load();
    std::string out = testing::internal::GetCapturedStderr();
    // WARN : [<0-99999>] load(): value=42 (file_log_test.cpp:<line>)\n
    ASSERT_EQ(out.rfind("WARN : [", 0), 0u) << out;
    size_t close = out.find("] ");
    ASSERT_NE(close, std::string::npos);
    std::string stamp = out.substr(8, close - 8);
    EXPECT_TRUE(!stamp.empty() && stamp.size() <= 5 &&
                stamp.find_first_not_of("0123456789") == std::string::npos) << out;
    std::string rest = out.substr(close + 2);
    const std::string head = "load(): value=42 (file_log_test.cpp:";
    ASSERT_EQ(rest.rfind(head, 0), 0u) << out;
    std::string line = rest.substr(head.size());
    EXPECT_GT(tf::str2int(line.c_str()), 0);
    EXPECT_EQ(line.substr(line.size() - 2), ")\n");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST(LogTest, LinesFromTwoThreadsStayWhole) {
    testing::internal::CaptureStderr();
    auto writer = [](char c) {
        for (int i = 0; i < 200; ++i)
            TF_LOG(tf::LOG_INFO, std::string(100, c));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::string out = testing::internal::GetCapturedStderr();
    std::vector<std::string> lines = tf::explode(out, '\n');
    ASSERT_EQ(lines.size(), 400u);
    for (const std::string& l : lines) {
        bool whole = l.find(std::string(100, 'a')) != std::string::npos ||
                     l.find(std::string(100, 'b')) != std::string::npos;
        EXPECT_TRUE(whole) << l;
    }
}
