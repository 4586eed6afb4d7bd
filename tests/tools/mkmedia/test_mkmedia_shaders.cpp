// The lighting shader files: a GLSL main for the OpenGL driver under
// __VERSION__, the HLSL entry points otherwise, and every constant the game
// sets used in the GLSL (its compiler drops what is unused, and the game then
// cannot set it by name).
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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

size_t count(const std::string& text, const std::string& word) {
  const std::regex pattern("\\b" + word + "\\b");
  return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                                           std::sregex_iterator()));
}

TEST(LightingShaders, BothLanguagesAndEveryConstantUsed) {
  const Split vertex = split(readFile(kMedia + "/shader/lights-vertex.hlsl"));
  const Split pixel = split(readFile(kMedia + "/shader/lights-pixel.hlsl"));
  ASSERT_TRUE(vertex.ok);
  ASSERT_TRUE(pixel.ok);
  EXPECT_EQ(count(vertex.glsl, "main"), 1u);
  EXPECT_EQ(count(pixel.glsl, "main"), 1u);
  EXPECT_NE(vertex.hlsl.find("vertexMain("), std::string::npos);
  EXPECT_NE(pixel.hlsl.find("pixelMain("), std::string::npos);
  const std::string glsl = vertex.glsl + pixel.glsl;
  for (const char* name : {"matViewProjection", "matWorld", "matViewInverse", "light1Position", "cameraPosition",
                           "lightAttenuation", "light1Color", "light1Direction"}) {
    // Declared once as a uniform of one stage, and used beyond that.
    EXPECT_EQ(count(glsl, std::string("uniform\\s+\\w+\\s+") + name), 1u) << name;
    EXPECT_GE(count(glsl, name), 2u) << name << " is declared but unused";
    EXPECT_GE(count(vertex.hlsl + pixel.hlsl, name), 2u) << name << " missing from the HLSL";
  }
}

}  // namespace
