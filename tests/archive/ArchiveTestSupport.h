// Helpers of the native archive tests: the source tree, scratch folders under the build
// tree, and whole files.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace archivetest {

inline std::string Source()
{
    return getenv("ORVANE_SOURCE_DIR");
}

// A fresh, empty folder for one test.
inline std::string Scratch(const std::string& name)
{
    std::string path = std::string(getenv("ORVANE_BUILD_DIR")) + "/scratch/" + name;
    EXPECT_EQ(0, system(("rm -rf '" + path + "' && mkdir -p '" + path + "'").c_str()));
    return path;
}

inline std::string Read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace archivetest
