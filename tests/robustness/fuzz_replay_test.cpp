// Inputs the fuzz targets found faults with, kept small under
// tests/fixtures/fuzz/TARGET/, replayed through the targets' own entry points
// (each within a deadline: some of them once hung the engine).

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../fuzz/FuzzTargets.h"
#include "Deadline.h"
#include "utility/text.h"

namespace {

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." && name != "README")
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

using Target = void (*)(const uint8_t*, size_t);

} // namespace

TEST(FuzzReplay, EveryKeptInputRunsThroughItsTarget) {
    const struct {
        const char* name;
        Target run;
    } targets[] = {{"css", fuzz::runCss}, {"epub", fuzz::runEpub}, {"fb2", fuzz::runFb2}, {"page", fuzz::runPage}};
    int replayed = 0;
    for (const auto& target : targets) {
        const std::string folder = std::string(ORINEL_FIXTURES_DIR) + "/fuzz/" + target.name;
        for (const std::string& name : filesIn(folder)) {
            SCOPED_TRACE(std::string(target.name) + "/" + name);
            std::string bytes;
            tf::file_get_contents(folder + "/" + name, bytes);
            testing::internal::CaptureStderr();
            withinSeconds(20, std::string(target.name) + "/" + name, [&] {
                target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            });
            testing::internal::GetCapturedStderr();
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0) << "the fixture folders are empty";
}
