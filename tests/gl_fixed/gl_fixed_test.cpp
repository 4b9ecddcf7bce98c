// The fixed-function layer over OpenGL ES 2.0 against desktop OpenGL (Mesa)
// on the same calls: the matrices it builds, the pixels it draws and the
// first error it raises; then what it does on purpose differently (WebGL 1's
// wrap rule) and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl.h"
#include "gl_fixed.h"
#include "headless_gl.h"

namespace {

using namespace gl;

constexpr int Side = 16;  // render target, pixels

// OpenGL values that gl.h does not name.
constexpr GLenum GL_LINES = 0x0001;
constexpr GLenum GL_LESS = 0x0201;
constexpr GLenum GL_ZERO = 0;
constexpr GLenum GL_LIGHT0 = 0x4000;
constexpr GLenum GL_AMBIENT = 0x1200;
constexpr GLenum GL_NEAREST_MIPMAP_LINEAR = 0x2702;

struct Outcome {
  std::array<float, 16> modelview{};
  std::array<float, 16> projection{};
  GLenum firstError = GL_NO_ERROR;
  std::vector<std::uint8_t> pixels;  // RGBA, top row first
};

struct Case {
  const char* name;
  void (*calls)();
};

// Opens a context of the kind asked for, with the GL table bound to desktop
// GL or to the layer.
HeadlessGlHandle OpenPath(HeadlessApi api) {
  std::string error;
  HeadlessGlHandle context = OpenHeadlessGl(Side, Side, error, api);
  EXPECT_TRUE(context) << error;
  if (context && api == HeadlessApi::Gles2) {
    EXPECT_TRUE(SetUpFixedFunctionGl(error)) << error;
    BindFixedFunctionGl();
  }
  return context;
}

// OpenGL's initial state for what the cases touch, and a cleared frame.
void ResetState() {
  for (GLenum mode : {GL_PROJECTION, GL_MODELVIEW}) {
    glMatrixMode(mode);
    for (int i = 0; i < 32; ++i) glPopMatrix();  // down to the bottom
    glLoadIdentity();
  }
  while (glGetError() != GL_NO_ERROR) {
  }
  glViewport(0, 0, Side, Side);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  glBlendFunc(GL_ONE, GL_ZERO);
  glShadeModel(GL_SMOOTH);
  glColor4f(1, 1, 1, 1);
  glTexCoord2f(0, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

std::vector<Outcome> RunCases(HeadlessApi api, const std::vector<Case>& cases) {
  std::vector<Outcome> outcomes;
  HeadlessGlHandle context = OpenPath(api);
  if (!context) return outcomes;
  for (const Case& c : cases) {
    ResetState();
    c.calls();
    Outcome o;
    o.firstError = glGetError();
    glGetFloatv(GL_MODELVIEW_MATRIX, o.modelview.data());
    glGetFloatv(GL_PROJECTION_MATRIX, o.projection.data());
    o.pixels = ReadHeadlessPixels(*context);
    outcomes.push_back(std::move(o));
  }
  return outcomes;
}

void ExpectSameOutcomes(const std::vector<Case>& cases, int pixelTolerance) {
  const std::vector<Outcome> desktop = RunCases(HeadlessApi::DesktopGl, cases);
  const std::vector<Outcome> fixed = RunCases(HeadlessApi::Gles2, cases);
  ASSERT_EQ(desktop.size(), cases.size());
  ASSERT_EQ(fixed.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(fixed[i].firstError, desktop[i].firstError);
    for (int e = 0; e < 16; ++e) {
      // The same single-precision operations in the same order: equal to the bit.
      EXPECT_EQ(fixed[i].modelview[e], desktop[i].modelview[e]) << "modelview element " << e;
      EXPECT_EQ(fixed[i].projection[e], desktop[i].projection[e]) << "projection element " << e;
    }
    ASSERT_EQ(fixed[i].pixels.size(), desktop[i].pixels.size());
    int worst = 0;
    for (std::size_t p = 0; p < fixed[i].pixels.size(); ++p)
      worst = std::max(worst, std::abs(int(fixed[i].pixels[p]) - int(desktop[i].pixels[p])));
    EXPECT_LE(worst, pixelTolerance) << "largest channel difference";
  }
}

// The animation state of a late frame of the show: angles far past a turn,
// axis components grown large and of both signs.
constexpr float Tumble = 20000, Spin = 800.2f, AxisX = 37.3f, AxisY = -12.9f, AxisZ = 4901.7f;

TEST(FixedFunctionGl, MatricesEqualDesktopGl) {
  const std::vector<Case> cases = {
      {"the show's projection (640 x 480, 800 x 600, 1024 x 768 give the same aspect)",
       [] {
         glMatrixMode(GL_PROJECTION);
         gluPerspective(45.0, 640.0 / 480.0, 0.1, 100.0);
       }},
      {"a degenerate projection leaves the matrix alone",
       [] {
         glMatrixMode(GL_PROJECTION);
         glTranslatef(1, 2, 3);
         gluPerspective(45.0, 1.0, 5.0, 5.0);
       }},
      {"the logo stack of a late frame",
       [] {
         glTranslatef(0, 0, -60);
         glRotatef(Tumble, 0, 0, AxisZ);
         glRotatef(Tumble, 0, AxisY, 0);
         glRotatef(Tumble, AxisX, 0, 0);
         for (int n = 1; n <= 10; ++n) {
           glRotatef(Spin, 0, 0, AxisZ);
           glRotatef(Spin, 0, AxisY, 0);
           glRotatef(Spin, AxisX, 0, 0);
         }
       }},
      {"rotations about general axes are normalised",
       [] {
         glRotatef(33.3f, 0.2f, 0.5f, -0.8f);
         glRotatef(-171.0f, 400.0f, -3.0f, 2.5f);
         glRotatef(1234.5f, 1e-3f, 2e-3f, 0);
       }},
      {"an axis along one coordinate counts only by its sign",
       [] {
         glRotatef(30, -3, 0, 0);
         glRotatef(75, 0, 1e-30f, 0);
         glRotatef(-45, 0, 0, -0.001f);
       }},
      {"a zero or very short axis gives no rotation",
       [] {
         glTranslatef(1, 2, 3);
         glRotatef(90, 0, 0, 0);
         glRotatef(90, 5e-5f, 5e-5f, 5e-5f);
         glRotatef(90, 1e-4f, 1e-4f, 0);  // just long enough
       }},
      {"loaded and multiplied matrices",
       [] {
         const GLfloat loaded[16] = {1, 2, 3, 0, -4, 5, 6, 0, 7, -8, 9, 0, 0.5f, 0.25f, -0.125f, 1};
         const GLdouble factor[16] = {0.1, 0.2, 0.3, 0.4, 1.5, -2.5, 3.5, 0, 0, 0, 1, 0, 1e-3, 7, -1, 1};
         glLoadMatrixf(loaded);
         glMultMatrixd(factor);
         glMultMatrixf(loaded);
       }},
      {"push and pop keep each stack apart",
       [] {
         glTranslatef(1, 0, 0);
         glPushMatrix();
         glRotatef(90, 0, 1, 0);
         glMatrixMode(GL_PROJECTION);
         glPushMatrix();
         glTranslatef(0, 0, -5);
         glMatrixMode(GL_MODELVIEW);
         glPopMatrix();
       }},
      {"popping the last matrix underflows",
       [] {
         glTranslatef(1, 2, 3);
         glPopMatrix();
       }},
      {"the 32nd push overflows and changes nothing",
       [] {
         for (int i = 0; i < 32; ++i) {
           glPushMatrix();
           glTranslatef(1, 0, 0);
         }
       }},
      {"an unknown matrix mode is refused", [] { glMatrixMode(0x1234); }},
      {"a matrix call between glBegin and glEnd is refused",
       [] {
         glBegin(GL_QUADS);
         glTranslatef(1, 0, 0);
         glEnd();
       }},
  };
  ExpectSameOutcomes(cases, 0);
}

// A square of half-size `half` at depth z (over the whole viewport when 1),
// as the show's loading square: s runs left to right, t top to bottom.
void Square(float z = 0, float half = 1) {
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glTexCoord2f(0, 1);
  glVertex3f(-half, -half, z);
  glTexCoord2f(1, 1);
  glVertex3f(half, -half, z);
  glTexCoord2f(1, 0);
  glVertex3f(half, half, z);
  glTexCoord2f(0, 0);
  glVertex3f(-half, half, z);
  glEnd();
}

GLuint MakeTexture(GLint internalFormat, int width, int height, GLenum format, const void* pixels,
                   GLint wrap = GL_REPEAT) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  return texture;
}

// A 4 x 4 picture as the loader gives it: blue, green, red, an ignored byte.
std::vector<std::uint8_t> BgraPicture() {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 16; ++i) {
    const std::uint8_t value = static_cast<std::uint8_t>(i * 16);
    bytes.insert(bytes.end(), {value, static_cast<std::uint8_t>(255 - value), 200, static_cast<std::uint8_t>(i)});
  }
  return bytes;
}

TEST(FixedFunctionGl, PixelsEqualDesktopGl) {
  const std::vector<Case> cases = {
      {"the show's upload and blend: BGRA words, internal format 3, modulated by alpha 0.5, added",
       [] {
         const std::vector<std::uint8_t> picture = BgraPicture();
         MakeTexture(3, 4, 4, GL_BGRA_EXT, picture.data());
         glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
         glClearColor(0.1f, 0.2f, 0.3f, 1);
         glClear(GL_COLOR_BUFFER_BIT);
         glBlendFunc(GL_SRC_ALPHA, GL_ONE);
         glEnable(GL_BLEND);
         glEnable(GL_TEXTURE_2D);
         glColor4f(1, 0.8f, 0.6f, 0.5f);
         Square();
       }},
      {"RGBA and RGB sources with rows padded to 8 bytes",
       [] {
         const std::uint8_t rgb[2 * 8] = {255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 0, 0};
         glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
         MakeTexture(GL_RGBA, 2, 2, GL_RGB, rgb);
         glEnable(GL_TEXTURE_2D);
         Square();
       }},
      {"colours clamped per vertex before modulation",
       [] {
         const std::vector<std::uint8_t> picture = BgraPicture();
         MakeTexture(3, 4, 4, GL_BGRA_EXT, picture.data());
         glEnable(GL_TEXTURE_2D);
         glEnable(GL_BLEND);
         glBlendFunc(GL_SRC_ALPHA, GL_ONE);
         glColor4f(2.0f, -1.0f, 0.5f, 1.002f);
         Square();
       }},
      {"a texture with no picture draws as if texturing were off",
       [] {
         GLuint texture = 0;
         glGenTextures(1, &texture);
         glBindTexture(GL_TEXTURE_2D, texture);
         glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
         glEnable(GL_TEXTURE_2D);
         glColor4f(0.2f, 0.4f, 0.6f, 1);
         Square();
       }},
      {"a mipmap filter without mipmaps draws as if texturing were off",
       [] {
         const std::vector<std::uint8_t> picture = BgraPicture();
         MakeTexture(3, 4, 4, GL_BGRA_EXT, picture.data());
         glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_LINEAR);
         glEnable(GL_TEXTURE_2D);
         glColor4f(0.7f, 0.1f, 0.3f, 1);
         Square();
       }},
      {"smooth and flat shading",
       [] {
         glBegin(GL_QUADS);
         glColor3f(1, 0, 0);
         glVertex2f(-1, -1);
         glColor3f(0, 1, 0);
         glVertex2f(0, -1);
         glColor3f(0, 0, 1);
         glVertex2f(0, 1);
         glColor3f(1, 1, 1);
         glVertex2f(-1, 1);
         glEnd();
         glShadeModel(GL_FLAT);
         glBegin(GL_TRIANGLES);
         glColor3f(1, 0, 0);
         glVertex2f(0, -1);
         glColor3f(0, 1, 0);
         glVertex2f(1, -1);
         glColor3f(0.2f, 0.4f, 0.8f);  // the last vertex's colour
         glVertex2f(1, 1);
         glEnd();
       }},
      {"the depth test, drawn far to near and near to far",
       [] {
         glEnable(GL_DEPTH_TEST);
         glDepthFunc(GL_LESS);
         glClearDepth(1.0);
         glClear(GL_DEPTH_BUFFER_BIT);
         glColor3f(1, 0, 0);
         Square(0.5f);
         glColor3f(0, 1, 0);
         Square(-0.5f);
         glColor3f(0, 0, 1);
         Square(0.0f);
       }},
      {"the show's loading square in perspective",
       [] {
         const std::vector<std::uint8_t> picture = BgraPicture();
         MakeTexture(3, 4, 4, GL_BGRA_EXT, picture.data());
         glMatrixMode(GL_PROJECTION);
         gluPerspective(45.0, 1.0, 0.1, 100.0);
         glMatrixMode(GL_MODELVIEW);
         glTranslatef(0, 0, -30);
         glRotatef(40, 0.3f, 1, 0);
         glEnable(GL_TEXTURE_2D);
         Square(0, 10);
       }},
      {"a partial quad is dropped",
       [] {
         glBegin(GL_QUADS);
         glVertex2f(-1, -1);
         glVertex2f(1, -1);
         glVertex2f(1, 1);
         glEnd();
       }},
      {"glEnd without glBegin is refused", [] { glEnd(); }},
      {"glBegin inside glBegin is refused",
       [] {
         glBegin(GL_QUADS);
         glBegin(GL_QUADS);
         glEnd();
       }},
      {"a texture larger than any GL takes is refused before anything is read",
       [] { glTexImage2D(GL_TEXTURE_2D, 0, 3, 1 << 20, 1 << 20, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr); }},
      {"an unpack alignment of 3 is refused", [] { glPixelStorei(GL_UNPACK_ALIGNMENT, 3); }},
  };
  // llvmpipe rasterises both paths alike; a colour on half a level (0.7 x 255
  // = 178.5) may round either way after the shader's interpolation.
  ExpectSameOutcomes(cases, 1);
}

std::array<std::uint8_t, 3> PixelAt(const std::vector<std::uint8_t>& rgba, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * Side + x) * 4;
  return {rgba[at], rgba[at + 1], rgba[at + 2]};
}

// WebGL 1 repeats only power-of-two textures: the layer clamps the others to
// the edge, so the outermost pixels take the edge texel alone, where desktop
// GL blends it with the far edge. A power-of-two texture repeats on both.
TEST(FixedFunctionGl, OnlyPowerOfTwoTexturesRepeat) {
  struct Row {
    int width;  // texels: red, then greys, then blue at the right edge
    bool blendsAcrossEdge;
  };
  for (const Row row : {Row{3, false}, Row{4, true}}) {
    SCOPED_TRACE(std::to_string(row.width) + " texels wide");
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(row.width) * 3, 128);
    rgb[0] = 255, rgb[1] = 0, rgb[2] = 0;
    rgb[rgb.size() - 3] = 0, rgb[rgb.size() - 2] = 0, rgb[rgb.size() - 1] = 255;
    HeadlessGlHandle context = OpenPath(HeadlessApi::Gles2);
    ASSERT_TRUE(context);
    ResetState();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    MakeTexture(GL_RGB, row.width, 1, GL_RGB, rgb.data(), GL_REPEAT);
    glEnable(GL_TEXTURE_2D);
    Square();
    ASSERT_EQ(glGetError(), GL_NO_ERROR);
    const std::vector<std::uint8_t> pixels = ReadHeadlessPixels(*context);
    const std::array<std::uint8_t, 3> left = PixelAt(pixels, 0, Side / 2);
    const std::array<std::uint8_t, 3> right = PixelAt(pixels, Side - 1, Side / 2);
    EXPECT_EQ(left[0] < 255 && left[2] > 0, row.blendsAcrossEdge) << int(left[0]) << " " << int(left[2]);
    EXPECT_EQ(right[2] < 255 && right[0] > 0, row.blendsAcrossEdge) << int(right[0]) << " " << int(right[2]);
  }
}

TEST(FixedFunctionGl, BindsEveryEntryPointAndNamesWhatItCannotDo) {
  HeadlessGlHandle context = OpenPath(HeadlessApi::Gles2);
  ASSERT_TRUE(context);
  EXPECT_EQ(FirstMissingEntryPoint(), nullptr);
  EXPECT_EQ(FirstUnsupportedGlCall(), nullptr);
  EXPECT_EQ(glGetError(), GL_NO_ERROR);
  ASSERT_NE(glGetString(GL_VERSION), nullptr);  // passed to GLES2

  const GLfloat ambient[4] = {1, 1, 1, 1};
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  EXPECT_EQ(glGetError(), GL_INVALID_OPERATION);
  glBegin(GL_LINES);
  EXPECT_EQ(glGetError(), GL_INVALID_ENUM);
  glTexImage2D(GL_TEXTURE_2D, 0, 3, 2, 2, 1, GL_BGRA_EXT, GL_UNSIGNED_BYTE, nullptr);
  EXPECT_EQ(glGetError(), GL_INVALID_VALUE);
  ASSERT_NE(FirstUnsupportedGlCall(), nullptr);
  EXPECT_STREQ(FirstUnsupportedGlCall(), "glLightfv");  // the first is kept

  std::string error;
  ASSERT_TRUE(SetUpFixedFunctionGl(error)) << error;  // starts over
  EXPECT_EQ(FirstUnsupportedGlCall(), nullptr);
  glBegin(GL_LINES);
  EXPECT_EQ(glGetError(), GL_INVALID_ENUM);
  EXPECT_STREQ(FirstUnsupportedGlCall(), "glBegin(0x0001)");
  ReleaseFixedFunctionGl();
}

}  // namespace
