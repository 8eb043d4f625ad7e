#include "utility/File.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace tf {

const String File::separator = String("/");

File::File(const String& path) : m_path(path) {
    struct stat st;
    if (::stat(path.str().c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            m_exist = false;
            m_directory = false;
        } else {
            // Something is there but cannot be examined (permissions and the like).
            m_exist = true;
            m_directory = false;
        }
        return;
    }
    m_exist = true;
    m_directory = S_ISDIR(st.st_mode);
}

bool File::makedir() {
    if (m_exist)
        return false;
    return ::mkdir(m_path.str().c_str(), 0755) == 0;
}

static bool is_directory(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

String File::home() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // XDG requires an absolute path; a relative one is to be ignored.
    if (xdg && xdg[0] == '/' && is_directory(xdg))
        return String(xdg);
    const char* h = std::getenv("HOME");
    if (h && h[0]) {
        std::string share = std::string(h) + "/.local/share";
        if (is_directory(share))
            return String(share);
    }
    char buf[4096];
    if (::getcwd(buf, sizeof buf))
        return String(buf);
    return String(".");
}

String File::pwd() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return String(".");
    buf[n] = 0;
    String path(buf);
    size_t pos = path.rfind(separator);
    return pos == String::npos ? String(".") : path.substring(0, static_cast<unsigned>(pos));
}

String File::absolutePath() const {
    return String(pwd() + separator + m_path);
}

String File::getName() const {
    String abs = absolutePath();
    size_t pos = abs.rfind(separator);
    return pos == String::npos ? abs : abs.substring(static_cast<unsigned>(pos + 1));
}

String File::getParent() const {
    String abs = absolutePath();
    size_t pos = abs.rfind(separator);
    return pos == String::npos ? abs : abs.substring(0, static_cast<unsigned>(pos));
}

bool File::isCurrent() const {
    return m_path.endsWith(String("."));
}

bool File::isPrevious() const {
    return m_path.endsWith(String(".."));
}

long File::getSize() const {
    FILE* f = std::fopen(m_path.str().c_str(), "rb");
    if (!f)
        return -1;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0)
        size = std::ftell(f);
    std::fclose(f);
    return size;
}

std::vector<File> File::list() const {
    std::vector<File> out;
    if (!m_directory)
        return out;
    DIR* dir = ::opendir(m_path.str().c_str());
    if (!dir)
        return out;
    while (struct dirent* e = ::readdir(dir))
        out.emplace_back(String(m_path + separator + String(e->d_name)));
    ::closedir(dir);
    return out;
}

void File::listAll(std::vector<File>& files) const {
    listAll(files, 0);
}

void File::listAll(std::vector<File>& files, int depth) const {
    // A symbolic link back up the tree would otherwise recurse without end.
    if (!m_directory || m_path.endsWith(String(".")) || depth > kMaxListDepth)
        return;
    for (const File& f : list()) {
        if (f.isDirectory()) {
            f.listAll(files, depth + 1);
        } else {
            File copy;
            copy.m_path = f.m_path;
            copy.m_exist = f.m_exist;
            copy.m_directory = false;
            files.push_back(copy);
        }
    }
}

} // namespace tf
