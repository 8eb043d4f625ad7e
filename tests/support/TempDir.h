#pragma once

#include <cstdlib>
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
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};
