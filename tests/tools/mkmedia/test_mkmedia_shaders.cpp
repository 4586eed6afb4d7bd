// The lighting shader files: a GLSL main for the OpenGL driver under
// __VERSION__, the HLSL entry points otherwise, and every constant the game
// sets used in the GLSL (its compiler drops what is unused, and the game then
// cannot set it by name).
#include <gtest/gtest.h>

#include <fstream>
#include <algorithm>
#include <cctype>
#include <vector>
#include <sstream>
#include <string>

namespace {

const std::string kMedia = TARNWELL_MEDIA_DIR;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Split {
    std::string glsl, hlsl;
    bool ok = false;
};

Split split(const std::string& text) {
    Split s;
    const size_t ifdef = text.find("#ifdef __VERSION__");
    const size_t other = text.find("#else", ifdef == std::string::npos ? 0 : ifdef);
    const size_t end = text.find("#endif", other == std::string::npos ? 0 : other);
    if (ifdef == std::string::npos || other == std::string::npos || end == std::string::npos) {
        return s;
    }
    s.glsl = text.substr(ifdef, other - ifdef);
    s.hlsl = text.substr(other, end - other);
    s.ok = true;
    return s;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    for (char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
            word += c;
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

size_t count(const std::vector<std::string>& text, const std::string& word) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), word));
}

// "uniform <type> <name>" declarations of the name.
size_t uniforms(const std::vector<std::string>& text, const std::string& name) {
    size_t found = 0;
    for (size_t i = 0; i + 2 < text.size(); ++i) {
        found += text[i] == "uniform" && text[i + 2] == name ? 1 : 0;
    }
    return found;
}

TEST(LightingShaders, BothLanguagesAndEveryConstantUsed) {
    const Split vertex = split(readFile(kMedia + "/shader/lights-vertex.hlsl"));
    const Split pixel = split(readFile(kMedia + "/shader/lights-pixel.hlsl"));
    ASSERT_TRUE(vertex.ok);
    ASSERT_TRUE(pixel.ok);
    EXPECT_EQ(count(words(vertex.glsl), "main"), 1u);
    EXPECT_EQ(count(words(pixel.glsl), "main"), 1u);
    EXPECT_NE(vertex.hlsl.find("vertexMain("), std::string::npos);
    EXPECT_NE(pixel.hlsl.find("pixelMain("), std::string::npos);
    const std::vector<std::string> glsl = words(vertex.glsl + "\n" + pixel.glsl);
    const std::vector<std::string> hlsl = words(vertex.hlsl + "\n" + pixel.hlsl);
    // The game sets them all as vertex-shader constants, which HLSL keeps
    // apart from the pixel program's.
    const std::vector<std::string> hlslVertex = words(vertex.hlsl);
    for (const char* name : {"matViewProjection", "matWorld", "matViewInverse", "light1Position",
                             "cameraPosition", "lightAttenuation", "light1Color", "light1Direction"}) {
        // Declared once as a uniform of one stage, and used beyond that.
        EXPECT_EQ(uniforms(glsl, name), 1u) << name;
        EXPECT_GE(count(glsl, name), 2u) << name << " is declared but unused";
        EXPECT_GE(count(hlsl, name), 2u) << name << " missing from the HLSL";
        EXPECT_GE(count(hlslVertex, name), 2u) << name << " unused by the HLSL vertex program";
    }
}

}  // namespace
