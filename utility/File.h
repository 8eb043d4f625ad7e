#pragma once

#include <vector>

#include "utility/String.h"

namespace tf {

// A file-system path that asks the file system once, when it is made,
// whether something exists there and whether it is a directory.
class File {
public:
    static const String separator;

    File() = default;
    File(const String& path);
    virtual ~File() = default;

    bool exist() const { return m_exist; }
    bool isDirectory() const { return m_directory; }
    bool isFile() const { return !m_directory; }
    const String& getPath() const { return m_path; }
    const String& str() const { return m_path; }

    // Creates one directory (not its parents); false when something exists already.
    bool makedir();

    // The per-user data folder: $XDG_DATA_HOME, else $HOME/.local/share, else the cwd.
    static String home();
    // The folder of the running program.
    static String pwd();

    String absolutePath() const;
    String getName() const;
    String getParent() const;
    bool isCurrent() const;
    bool isPrevious() const;
    long getSize() const;
    std::vector<File> list() const;
    void listAll(std::vector<File>& files) const;

private:
    static constexpr int kMaxListDepth = 64;
    void listAll(std::vector<File>& files, int depth) const;

    bool m_exist = false;
    bool m_directory = false;
    String m_path;
};

} // namespace tf
