// Every sound EPUB and FictionBook of the shared corpus, opened the way the
// window's loader opens it: cover page first, then every reading-order entry.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestView.h"
#include "corpus.h"

using test::TestView;

namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> soundBooks() {
    std::vector<std::string> names;
    if (DIR* dir = opendir(corpus_path("").c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name.rfind("broken-", 0) == 0)
                continue;
            if (endsWith(name, ".epub") || endsWith(name, ".fb2") || endsWith(name, ".fb2.zip"))
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CorpusBooks : public testing::TestWithParam<std::string> {};

std::string testName(const testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

} // namespace

TEST_P(CorpusBooks, CoverPageAndEveryChapterLayOut) {
    const std::string path = corpus_path(GetParam());
    TestView view;
    testing::internal::CaptureStderr();

    ASSERT_TRUE(view.load_uri(tf::String(path))) << "the load opened the book";
    view.showCoverPage();
    auto cover = view.document();
    bool coverLaidOut = cover && cover->height() > 0;

    size_t spineSize = 0;
    {
        auto lock = view.lockReader();
        ASSERT_NE(view.getReader(), nullptr);
        spineSize = view.getReader()->spine().size();
    }
    std::vector<tf::String> visited;
    for (size_t guard = 0; guard < spineSize + 2; ++guard) {
        view.stepChapterNext();
        auto next = view.takeAsyncLoads();
        if (next.empty())
            break;
        ASSERT_EQ(next.size(), 1u);
        visited.push_back(next[0]);
        EXPECT_FALSE(view.load_uri(next[0]));
        EXPECT_EQ(view.current_address(), next[0]);
    }
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(coverLaidOut);
    EXPECT_EQ(visited.size(), spineSize);
    EXPECT_TRUE(view.has_document());
    size_t bad = log.find("invalid uri");
    EXPECT_EQ(bad, std::string::npos) << log.substr(bad == std::string::npos ? 0 : bad, 300);
}

INSTANTIATE_TEST_SUITE_P(Sound, CorpusBooks, testing::ValuesIn(soundBooks()), testName);
