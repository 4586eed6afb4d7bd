// Whole-file reads and writes for tests that check what the code wrote.
// Header-only, standard library only.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace testsupport
