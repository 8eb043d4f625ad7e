// A file larger than any page is refused before it is read.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "TempDir.h"
#include "readers/HTMLReader.h"
#include "utility/ZipEntry.h"
#include "utility/text.h"

TEST(HtmlReaderLimits, AFileLargerThanAnyPageIsRefusedUnread) {
    TempDir tmp;
    const std::string small = tmp.path + "/small.html";
    const std::string page = "<html><body>x</body></html>";
    tf::file_put_contents(small, reinterpret_cast<unsigned char*>(const_cast<char*>(page.data())),
                          static_cast<long>(page.size()));
    // Sparse: as large as claimed without taking the disk.
    const std::string huge = tmp.path + "/huge.html";
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(tf::ZipEntry::kMaxEntrySize) + 1), 0);
    ::close(fd);

    tf::HTMLReader reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open(small));
    EXPECT_FALSE(reader.open(huge));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("file too large"), std::string::npos) << log;
    std::string out;
    EXPECT_EQ(reader.get_entry("", out), "") << "the refused file does not keep the previous page";
}
