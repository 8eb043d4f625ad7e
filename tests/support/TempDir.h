#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// A fresh folder under /tmp, removed with everything in it at the end of scope.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/orinel-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        path = made ? made : "/tmp";
    }
    ~TempDir() {
        if (path != "/tmp")
            std::system(("rm -rf '" + path + "'").c_str());
    }
    // Writes `bytes` to the file `name` in the folder; returns its path.
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};
