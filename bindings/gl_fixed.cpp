// The fixed-function layer: OpenGL 1.1 as the show draws with it, carried out
// with one shader program over OpenGL ES 2.0 / WebGL 1.
//
// gl.h must come before the GLES2 header, which defines the GL_* names both
// know as macros (they would break gl.h's constants). Below, such names are
// the GLES2 macros (same values); names only OpenGL 1.1 has are gl::GL_*. The
// layer's own functions live outside namespace gl, so that an unqualified
// glClear is GLES2's and never the table's pointer.
#include "gl.h"
#include "gl_fixed.h"

#include <GLES2/gl2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace {

// --- State ---------------------------------------------------------------

using Matrix = std::array<float, 16>;  // column-major, as OpenGL keeps it
constexpr Matrix Identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Mesa's depth for both stacks (OpenGL 1.1 asks for at least 32 and 2).
constexpr int MatrixStackDepth = 32;

struct MatrixStack {
  std::array<Matrix, MatrixStackDepth> levels{Identity};
  int top = 0;
};

// One vertex as the shader takes it: attribute locations 0, 1 and 2.
struct Vertex {
  float position[3];
  float texCoord[2];
  float colour[4];
};
constexpr GLuint PositionAttribute = 0, TexCoordAttribute = 1, ColourAttribute = 2;

// Far more than immediate-mode drawing sends between glBegin and glEnd (36
// bytes each, 1.5 times that as triangles): past it glVertex raises
// GL_OUT_OF_MEMORY and drops the vertex.
constexpr std::size_t MaxPrimitiveVertices = std::size_t{1} << 20;

// Levels 0 to 15: sides up to 32768, beyond any GL implementation here.
constexpr int MaxTextureLevels = 16;

struct TextureLevel {
  int width = 0;  // 0: not defined
  int height = 0;
};

// What the layer needs to know of a texture: its levels (completeness, the
// power-of-two rule) and the parameters it applies itself.
struct TextureRecord {
  std::array<TextureLevel, MaxTextureLevels> levels;
  GLint minFilter = GL_NEAREST_MIPMAP_LINEAR;  // OpenGL's initial values
  GLint wrapS = GL_REPEAT;
  GLint wrapT = GL_REPEAT;
};

struct PrimitiveKind;

struct FixedGlState {
  // GLES2 objects, made by SetUpFixedFunctionGl.
  GLuint program = 0;
  GLuint buffer = 0;
  GLint transformLocation = -1;
  GLint texturingLocation = -1;
  GLint maxTextureSize = 0;

  std::array<MatrixStack, 2> stacks;  // modelview, projection
  int matrixMode = 0;                 // index into stacks
  bool transformChanged = true;       // the shader's matrix must be sent again
  int texturingSent = -1;             // the shader's texturing flag as last sent

  float colour[4] = {1, 1, 1, 1};
  float texCoord[2] = {0, 0};
  GLenum shadeModel = gl::GL_SMOOTH;
  bool texturing = false;
  GLint unpackAlignment = 4;

  const PrimitiveKind* primitive = nullptr;  // non-null between glBegin and glEnd
  std::vector<Vertex> vertices;              // of the open primitive
  std::vector<Vertex> triangles;             // what glEnd draws

  GLuint boundTexture = 0;
  std::unordered_map<GLuint, TextureRecord> textures;

  GLenum error = GL_NO_ERROR;  // the first error not yet read by glGetError
  std::string unsupported;     // the first call the layer does not support
};
FixedGlState FixedGl;

void Raise(GLenum error) {
  if (FixedGl.error == GL_NO_ERROR) FixedGl.error = error;
}

void RaiseUnsupported(GLenum error, const std::string& call) {
  Raise(error);
  if (FixedGl.unsupported.empty()) FixedGl.unsupported = call;
}

std::string WithValue(const char* call, unsigned value) {
  char text[64];
  std::snprintf(text, sizeof text, "%s(0x%04X)", call, value);
  return text;
}

// OpenGL refuses most calls between glBegin and glEnd.
bool InsidePrimitive() {
  if (!FixedGl.primitive) return false;
  Raise(GL_INVALID_OPERATION);
  return true;
}

// --- Matrices (Mesa's arithmetic: single precision, left-to-right sums) ---

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix product;
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) {
      const float* column = &b[col * 4];
      product[col * 4 + row] =
          a[row] * column[0] + a[4 + row] * column[1] + a[8 + row] * column[2] + a[12 + row] * column[3];
    }
  }
  return product;
}

// A rotation as OpenGL defines it. An axis along one coordinate is taken as
// it is (only its sign counts); any other axis is normalised, and one shorter
// than 1e-4 gives no rotation at all (nullopt).
std::optional<Matrix> Rotation(float degrees, float x, float y, float z) {
  constexpr double Pi = 3.14159265358979323846;
  const float s = std::sin(static_cast<float>(degrees * Pi / 180.0));
  const float c = std::cos(static_cast<float>(degrees * Pi / 180.0));
  Matrix m = Identity;
  auto at = [&m](int row, int col) -> float& { return m[col * 4 + row]; };
  // The plane the rotation turns (rows/columns a, b) and its sign.
  auto turn = [&](int a, int b, bool negative) {
    at(a, a) = c;
    at(b, b) = c;
    at(a, b) = negative ? s : -s;
    at(b, a) = negative ? -s : s;
  };
  if (x == 0 && y == 0 && z != 0) {
    turn(0, 1, z < 0);
  } else if (x == 0 && z == 0 && y != 0) {
    turn(2, 0, y < 0);
  } else if (y == 0 && z == 0 && x != 0) {
    turn(1, 2, x < 0);
  } else {
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length <= 1.0e-4f) return std::nullopt;
    x /= length;
    y /= length;
    z /= length;
    const float oneMinusC = 1.0f - c;
    at(0, 0) = oneMinusC * (x * x) + c;
    at(0, 1) = oneMinusC * (x * y) - z * s;
    at(0, 2) = oneMinusC * (z * x) + y * s;
    at(1, 0) = oneMinusC * (x * y) + z * s;
    at(1, 1) = oneMinusC * (y * y) + c;
    at(1, 2) = oneMinusC * (y * z) - x * s;
    at(2, 0) = oneMinusC * (z * x) - y * s;
    at(2, 1) = oneMinusC * (y * z) + x * s;
    at(2, 2) = oneMinusC * (z * z) + c;
  }
  return m;
}

Matrix& CurrentMatrix() {
  MatrixStack& stack = FixedGl.stacks[FixedGl.matrixMode];
  return stack.levels[stack.top];
}

void MultiplyCurrent(const Matrix& m) {
  if (InsidePrimitive()) return;
  CurrentMatrix() = Multiply(CurrentMatrix(), m);
  FixedGl.transformChanged = true;
}

void QUENRIK_GLAPI MatrixMode(GLenum mode) {
  if (InsidePrimitive()) return;
  if (mode == gl::GL_MODELVIEW) {
    FixedGl.matrixMode = 0;
  } else if (mode == gl::GL_PROJECTION) {
    FixedGl.matrixMode = 1;
  } else {
    RaiseUnsupported(GL_INVALID_ENUM, WithValue("glMatrixMode", mode));
  }
}

void QUENRIK_GLAPI LoadMatrixf(const GLfloat* m) {
  if (InsidePrimitive()) return;
  std::copy(m, m + 16, CurrentMatrix().begin());
  FixedGl.transformChanged = true;
}

void QUENRIK_GLAPI LoadIdentity() { LoadMatrixf(Identity.data()); }

void QUENRIK_GLAPI MultMatrixf(const GLfloat* m) {
  Matrix factor;
  std::copy(m, m + 16, factor.begin());
  MultiplyCurrent(factor);
}

void QUENRIK_GLAPI MultMatrixd(const double* m) {
  Matrix factor;
  std::transform(m, m + 16, factor.begin(), [](double v) { return static_cast<float>(v); });
  MultiplyCurrent(factor);
}

void QUENRIK_GLAPI Translatef(GLfloat x, GLfloat y, GLfloat z) {
  Matrix m = Identity;
  m[12] = x;
  m[13] = y;
  m[14] = z;
  MultiplyCurrent(m);
}

void QUENRIK_GLAPI Rotatef(GLfloat degrees, GLfloat x, GLfloat y, GLfloat z) {
  if (InsidePrimitive()) return;
  if (const std::optional<Matrix> m = Rotation(degrees, x, y, z)) MultiplyCurrent(*m);
}

void QUENRIK_GLAPI PushMatrix() {
  if (InsidePrimitive()) return;
  MatrixStack& stack = FixedGl.stacks[FixedGl.matrixMode];
  if (stack.top + 1 == MatrixStackDepth) return Raise(gl::GL_STACK_OVERFLOW);
  stack.levels[stack.top + 1] = stack.levels[stack.top];
  ++stack.top;
}

void QUENRIK_GLAPI PopMatrix() {
  if (InsidePrimitive()) return;
  MatrixStack& stack = FixedGl.stacks[FixedGl.matrixMode];
  if (stack.top == 0) return Raise(gl::GL_STACK_UNDERFLOW);
  --stack.top;
  FixedGl.transformChanged = true;
}

// GLU's perspective: built in double precision, multiplied as glMultMatrixd.
void QUENRIK_GLAPI Perspective(double fovy, double aspect, double zNear, double zFar) {
  constexpr double Pi = 3.14159265358979323846;
  const double radians = fovy / 2 * Pi / 180;
  const double deltaZ = zFar - zNear;
  const double sine = std::sin(radians);
  if (deltaZ == 0 || sine == 0 || aspect == 0) return;  // GLU leaves the matrix alone
  const double cotangent = std::cos(radians) / sine;
  double m[16] = {};
  m[0] = cotangent / aspect;
  m[5] = cotangent;
  m[10] = -(zFar + zNear) / deltaZ;
  m[11] = -1;
  m[14] = -2 * zNear * zFar / deltaZ;
  MultMatrixd(m);
}

void QUENRIK_GLAPI GetFloatv(GLenum name, GLfloat* values) {
  if (InsidePrimitive()) return;
  const int stack = name == gl::GL_MODELVIEW_MATRIX ? 0 : name == gl::GL_PROJECTION_MATRIX ? 1 : -1;
  if (stack < 0) return glGetFloatv(name, values);
  const MatrixStack& s = FixedGl.stacks[stack];
  std::copy(s.levels[s.top].begin(), s.levels[s.top].end(), values);
}

// --- Textures ---------------------------------------------------------------

bool PowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

bool UsesMipmaps(GLint minFilter) { return minFilter != GL_NEAREST && minFilter != GL_LINEAR; }

// OpenGL draws with a texture only when it is complete: level 0 defined and,
// for a mipmap filter, every smaller level down to 1 x 1 (which WebGL 1
// samples only for power-of-two sides).
bool Complete(const TextureRecord& t) {
  int width = t.levels[0].width, height = t.levels[0].height;
  if (width == 0) return false;
  if (!UsesMipmaps(t.minFilter)) return true;
  if (!PowerOfTwo(width) || !PowerOfTwo(height)) return false;
  for (int level = 1; width > 1 || height > 1; ++level) {
    width = std::max(1, width / 2);
    height = std::max(1, height / 2);
    if (level >= MaxTextureLevels || t.levels[level].width != width || t.levels[level].height != height) return false;
  }
  return true;
}

// The wrap mode GLES2 gets: GL_CLAMP has no counterpart, and WebGL 1 repeats
// only power-of-two textures.
GLint AppliedWrap(const TextureRecord& t, GLint wrap) {
  const bool powerOfTwo = PowerOfTwo(t.levels[0].width) && PowerOfTwo(t.levels[0].height);
  if (wrap == gl::GL_CLAMP || (wrap != GL_CLAMP_TO_EDGE && !powerOfTwo)) return GL_CLAMP_TO_EDGE;
  return wrap;
}

void ApplyWraps(const TextureRecord& t) {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, AppliedWrap(t, t.wrapS));
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, AppliedWrap(t, t.wrapT));
}

TextureRecord& BoundTexture() { return FixedGl.textures[FixedGl.boundTexture]; }

void QUENRIK_GLAPI BindTexture(GLenum target, GLuint texture) {
  if (InsidePrimitive()) return;
  glBindTexture(target, texture);
  if (target == GL_TEXTURE_2D) FixedGl.boundTexture = texture;
}

void QUENRIK_GLAPI DeleteTextures(GLsizei count, const GLuint* textures) {
  if (InsidePrimitive()) return;
  for (GLsizei i = 0; i < count && textures; ++i) {
    if (textures[i] == 0) continue;  // the default texture is never deleted
    FixedGl.textures.erase(textures[i]);
    if (textures[i] == FixedGl.boundTexture) FixedGl.boundTexture = 0;
  }
  glDeleteTextures(count, textures);
}

void QUENRIK_GLAPI TexParameteri(GLenum target, GLenum name, GLint value) {
  if (InsidePrimitive()) return;
  const bool wrap = name == GL_TEXTURE_WRAP_S || name == GL_TEXTURE_WRAP_T;
  if (target != GL_TEXTURE_2D || !wrap) {
    glTexParameteri(target, name, value);
    const std::array<GLint, 6> minFilters = {GL_NEAREST, GL_LINEAR, GL_NEAREST_MIPMAP_NEAREST,
                                             GL_LINEAR_MIPMAP_NEAREST, GL_NEAREST_MIPMAP_LINEAR,
                                             GL_LINEAR_MIPMAP_LINEAR};
    const bool validMin = std::find(minFilters.begin(), minFilters.end(), value) != minFilters.end();
    if (target == GL_TEXTURE_2D && name == GL_TEXTURE_MIN_FILTER && validMin) BoundTexture().minFilter = value;
    return;
  }
  const std::array<GLint, 4> wraps = {GL_REPEAT, gl::GL_CLAMP, GL_CLAMP_TO_EDGE, GL_MIRRORED_REPEAT};
  if (std::find(wraps.begin(), wraps.end(), value) == wraps.end()) return Raise(GL_INVALID_ENUM);
  TextureRecord& t = BoundTexture();
  (name == GL_TEXTURE_WRAP_S ? t.wrapS : t.wrapT) = value;
  ApplyWraps(t);
}

// Where each stored channel (red, green, blue, alpha) sits in a source pixel;
// -1: not in the source (alpha reads as opaque).
struct SourceLayout {
  GLenum format;
  int bytesPerPixel;
  std::array<int, 4> channelOffsets;
};
constexpr std::array<SourceLayout, 3> SourceLayouts = {{
    {gl::GL_BGRA_EXT, 4, {2, 1, 0, 3}},
    {GL_RGBA, 4, {0, 1, 2, 3}},
    {GL_RGB, 3, {0, 1, 2, -1}},
}};

// OpenGL 1.1's internal formats and what GLES2 stores for them.
struct StoredFormat {
  GLint internalFormat;
  GLenum format;
  int channels;
};
constexpr std::array<StoredFormat, 4> StoredFormats = {{
    {3, GL_RGB, 3},
    {GL_RGB, GL_RGB, 3},
    {4, GL_RGBA, 4},
    {GL_RGBA, GL_RGBA, 4},
}};

template <typename Table, typename Key>
auto Find(const Table& table, Key key, Key Table::value_type::*field) {
  return std::find_if(table.begin(), table.end(), [&](const auto& row) { return row.*field == key; });
}

void QUENRIK_GLAPI TexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                              GLint border, GLenum format, GLenum type, const void* pixels) {
  if (InsidePrimitive()) return;
  const auto source = Find(SourceLayouts, format, &SourceLayout::format);
  const auto stored = Find(StoredFormats, internalFormat, &StoredFormat::internalFormat);
  if (target != GL_TEXTURE_2D || type != GL_UNSIGNED_BYTE || source == SourceLayouts.end() ||
      stored == StoredFormats.end())
    return RaiseUnsupported(GL_INVALID_ENUM, "glTexImage2D of this target, type or format");
  if (border != 0) return RaiseUnsupported(GL_INVALID_VALUE, "glTexImage2D with a border");
  if (level < 0 || level >= MaxTextureLevels || width < 0 || height < 0 || width > FixedGl.maxTextureSize ||
      height > FixedGl.maxTextureSize)
    return Raise(GL_INVALID_VALUE);

  std::vector<std::uint8_t> converted;
  if (pixels) {
    const std::size_t alignment = static_cast<std::size_t>(FixedGl.unpackAlignment);
    const std::size_t rowBytes = (std::size_t(width) * source->bytesPerPixel + alignment - 1) / alignment * alignment;
    converted.resize(std::size_t(width) * height * stored->channels);
    std::uint8_t* to = converted.data();
    for (GLsizei row = 0; row < height; ++row) {
      const std::uint8_t* from = static_cast<const std::uint8_t*>(pixels) + row * rowBytes;
      for (GLsizei column = 0; column < width; ++column, from += source->bytesPerPixel) {
        for (int channel = 0; channel < stored->channels; ++channel) {
          const int offset = source->channelOffsets[channel];
          *to++ = offset < 0 ? 0xFF : from[offset];
        }
      }
    }
  }
  glTexImage2D(GL_TEXTURE_2D, level, static_cast<GLint>(stored->format), width, height, 0, stored->format,
               GL_UNSIGNED_BYTE, pixels ? converted.data() : nullptr);
  TextureRecord& t = BoundTexture();
  t.levels[level] = {width, height};
  if (level == 0) ApplyWraps(t);
}

void QUENRIK_GLAPI TexEnvi(GLenum target, GLenum name, GLint value) {
  if (InsidePrimitive()) return;
  if (target != gl::GL_TEXTURE_ENV || name != gl::GL_TEXTURE_ENV_MODE) return Raise(GL_INVALID_ENUM);
  if (value != static_cast<GLint>(gl::GL_MODULATE))
    RaiseUnsupported(GL_INVALID_ENUM, WithValue("glTexEnvi(GL_TEXTURE_ENV_MODE)", static_cast<unsigned>(value)));
}

void QUENRIK_GLAPI TexEnvf(GLenum target, GLenum name, GLfloat value) {
  TexEnvi(target, name, static_cast<GLint>(value));
}

void QUENRIK_GLAPI PixelStorei(GLenum name, GLint value) {
  if (InsidePrimitive()) return;
  if (name != GL_UNPACK_ALIGNMENT) return glPixelStorei(name, value);
  if (value != 1 && value != 2 && value != 4 && value != 8) return Raise(GL_INVALID_VALUE);
  FixedGl.unpackAlignment = value;  // the layer's own uploads are always tightly packed
}

// --- Capabilities and other state -------------------------------------------------

// GL_TEXTURE_2D is the layer's own; GLES2 judges every other capability.
void SetCapability(GLenum capability, bool on) {
  if (InsidePrimitive()) return;
  if (capability == GL_TEXTURE_2D) {
    FixedGl.texturing = on;
  } else {
    (on ? glEnable : glDisable)(capability);
  }
}

void QUENRIK_GLAPI Enable(GLenum capability) { SetCapability(capability, true); }
void QUENRIK_GLAPI Disable(GLenum capability) { SetCapability(capability, false); }

GLboolean QUENRIK_GLAPI IsEnabled(GLenum capability) {
  if (InsidePrimitive()) return GL_FALSE;
  if (capability == GL_TEXTURE_2D) return FixedGl.texturing ? GL_TRUE : GL_FALSE;
  return glIsEnabled(capability);
}

void QUENRIK_GLAPI ShadeModel(GLenum model) {
  if (InsidePrimitive()) return;
  if (model != gl::GL_SMOOTH && model != gl::GL_FLAT) return Raise(GL_INVALID_ENUM);
  FixedGl.shadeModel = model;
}

void QUENRIK_GLAPI Hint(GLenum target, GLenum mode) {
  if (InsidePrimitive()) return;
  if (target != gl::GL_PERSPECTIVE_CORRECTION_HINT) return glHint(target, mode);
  if (mode != GL_FASTEST && mode != GL_NICEST && mode != GL_DONT_CARE) Raise(GL_INVALID_ENUM);
}

void QUENRIK_GLAPI ClearDepth(double depth) {
  if (InsidePrimitive()) return;
  glClearDepthf(static_cast<GLfloat>(depth));
}

GLenum QUENRIK_GLAPI GetError() {
  const GLenum error = FixedGl.error;
  FixedGl.error = GL_NO_ERROR;
  return error != GL_NO_ERROR ? error : glGetError();
}

// --- Immediate mode ------------------------------------------------------------------

// How glBegin's primitives become independent triangles: groups of vertices
// (a partial group at the end is dropped), each split into the triangles of
// `corners`. The group's last vertex gives the colour under GL_FLAT.
struct PrimitiveKind {
  GLenum mode;
  int groupSize;
  int cornerCount;
  std::array<int, 6> corners;
};
constexpr std::array<PrimitiveKind, 2> PrimitiveKinds = {{
    {GL_TRIANGLES, 3, 3, {0, 1, 2}},
    {gl::GL_QUADS, 4, 6, {0, 1, 2, 0, 2, 3}},  // split as Mesa splits them
}};

void QUENRIK_GLAPI Begin(GLenum mode) {
  if (InsidePrimitive()) return;
  const auto kind = Find(PrimitiveKinds, mode, &PrimitiveKind::mode);
  if (kind == PrimitiveKinds.end()) return RaiseUnsupported(GL_INVALID_ENUM, WithValue("glBegin", mode));
  FixedGl.primitive = &*kind;
  FixedGl.vertices.clear();
}

void QUENRIK_GLAPI Color4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
  FixedGl.colour[0] = red;
  FixedGl.colour[1] = green;
  FixedGl.colour[2] = blue;
  FixedGl.colour[3] = alpha;
}

void QUENRIK_GLAPI Color3f(GLfloat red, GLfloat green, GLfloat blue) { Color4f(red, green, blue, 1.0f); }

void QUENRIK_GLAPI TexCoord2f(GLfloat s, GLfloat t) {
  FixedGl.texCoord[0] = s;
  FixedGl.texCoord[1] = t;
}

void QUENRIK_GLAPI Normal3f(GLfloat, GLfloat, GLfloat) {}  // no lighting

void QUENRIK_GLAPI Vertex3f(GLfloat x, GLfloat y, GLfloat z) {
  if (!FixedGl.primitive) return;  // outside glBegin/glEnd: OpenGL leaves it undefined
  if (FixedGl.vertices.size() == MaxPrimitiveVertices) return Raise(GL_OUT_OF_MEMORY);
  Vertex v{{x, y, z}, {FixedGl.texCoord[0], FixedGl.texCoord[1]}, {}};
  // The colour is clamped after the (absent) lighting stage.
  for (int i = 0; i < 4; ++i) v.colour[i] = std::clamp(FixedGl.colour[i], 0.0f, 1.0f);
  FixedGl.vertices.push_back(v);
}

void QUENRIK_GLAPI Vertex2f(GLfloat x, GLfloat y) { Vertex3f(x, y, 0.0f); }

void Draw(const std::vector<Vertex>& triangles) {
  FixedGlState& s = FixedGl;
  if (s.transformChanged) {
    const Matrix transform = Multiply(s.stacks[1].levels[s.stacks[1].top], s.stacks[0].levels[s.stacks[0].top]);
    glUniformMatrix4fv(s.transformLocation, 1, GL_FALSE, transform.data());
    s.transformChanged = false;
  }
  const auto bound = s.textures.find(s.boundTexture);
  const int texturing = s.texturing && bound != s.textures.end() && Complete(bound->second);
  if (texturing != s.texturingSent) {
    glUniform1i(s.texturingLocation, texturing);
    s.texturingSent = texturing;
  }
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(triangles.size() * sizeof(Vertex)), triangles.data(),
               GL_STREAM_DRAW);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangles.size()));
}

void QUENRIK_GLAPI End() {
  FixedGlState& s = FixedGl;
  if (!s.primitive) return Raise(GL_INVALID_OPERATION);
  const PrimitiveKind& kind = *s.primitive;
  s.primitive = nullptr;
  s.triangles.clear();
  for (std::size_t first = 0; first + kind.groupSize <= s.vertices.size(); first += kind.groupSize) {
    const Vertex& provoking = s.vertices[first + kind.groupSize - 1];
    for (int i = 0; i < kind.cornerCount; ++i) {
      Vertex v = s.vertices[first + kind.corners[i]];
      if (s.shadeModel == gl::GL_FLAT) std::copy(provoking.colour, provoking.colour + 4, v.colour);
      s.triangles.push_back(v);
    }
  }
  s.vertices.clear();
  if (s.triangles.empty()) return;
  if (!s.program) return Raise(GL_INVALID_OPERATION);  // never set up
  Draw(s.triangles);
}

// --- Calls passed to GLES2 -----------------------------------------------------------

// GLES2's own function, refused between glBegin and glEnd as OpenGL does.
template <auto Function>
struct Passed;
template <typename Result, typename... Arguments, Result(GL_APIENTRY* Function)(Arguments...)>
struct Passed<Function> {
  static Result QUENRIK_GLAPI Call(Arguments... arguments) {
    if (InsidePrimitive()) return Result();
    return Function(arguments...);
  }
};

// --- The shader program ---------------------------------------------------------------

constexpr const char* VertexShaderSource = R"(#version 100
attribute vec3 position;
attribute vec2 texCoord;
attribute vec4 colour;
uniform mat4 transform;  // projection x modelview
varying vec2 fragmentTexCoord;
varying vec4 fragmentColour;
void main() {
  fragmentTexCoord = texCoord;
  fragmentColour = colour;
  gl_Position = transform * vec4(position, 1.0);
}
)";

// The texture environment GL_MODULATE; RGB textures read alpha 1.
constexpr const char* FragmentShaderSource = R"(#version 100
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
uniform sampler2D picture;
uniform bool texturing;
varying vec2 fragmentTexCoord;
varying vec4 fragmentColour;
void main() {
  gl_FragColor = texturing ? fragmentColour * texture2D(picture, fragmentTexCoord) : fragmentColour;
}
)";

std::string ShaderLog(GLuint object, bool program) {
  GLint length = 0;
  (program ? glGetProgramiv : glGetShaderiv)(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
  (program ? glGetProgramInfoLog : glGetShaderInfoLog)(object, length, nullptr, log.data());
  log.resize(std::min(log.find('\0'), log.size()));
  return log.empty() ? "no log" : log;
}

GLuint CompileShader(GLenum kind, const char* source, const char* name, std::string& error) {
  const GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint compiled = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
  if (compiled) return shader;
  error = std::string("the ") + name + " shader does not compile: " + ShaderLog(shader, false);
  glDeleteShader(shader);
  return 0;
}

GLuint LinkProgram(std::string& error) {
  const GLuint vertex = CompileShader(GL_VERTEX_SHADER, VertexShaderSource, "vertex", error);
  if (!vertex) return 0;
  const GLuint fragment = CompileShader(GL_FRAGMENT_SHADER, FragmentShaderSource, "fragment", error);
  if (!fragment) {
    glDeleteShader(vertex);
    return 0;
  }
  const GLuint program = glCreateProgram();
  glAttachShader(program, vertex);
  glAttachShader(program, fragment);
  glBindAttribLocation(program, PositionAttribute, "position");
  glBindAttribLocation(program, TexCoordAttribute, "texCoord");
  glBindAttribLocation(program, ColourAttribute, "colour");
  glLinkProgram(program);
  glDeleteShader(vertex);  // freed with the program
  glDeleteShader(fragment);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked) return program;
  error = "the shader program does not link: " + ShaderLog(program, true);
  glDeleteProgram(program);
  return 0;
}

}  // namespace

// Stand-ins for every entry point the layer does not carry out.
namespace gl::unsupported {
template <typename... T>
void Ignore(const T&...) {}
template <typename Result>
Result Refuse(const char* name) {
  RaiseUnsupported(GL_INVALID_OPERATION, name);
  if constexpr (!std::is_void_v<Result>) return Result();
}
#define QUENRIK_GL(use, ret, name, params, args) \
  ret QUENRIK_GLAPI name params {                \
    Ignore args;                                 \
    return Refuse<ret>(#name);                   \
  }
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
}  // namespace gl::unsupported

bool SetUpFixedFunctionGl(std::string& error) {
  FixedGl = FixedGlState{};
  error.clear();
  const GLuint program = LinkProgram(error);
  if (!program) {
    error = "fixed-function GL: " + error;
    return false;
  }
  FixedGlState& s = FixedGl;
  s.program = program;
  glUseProgram(program);
  s.transformLocation = glGetUniformLocation(program, "transform");
  s.texturingLocation = glGetUniformLocation(program, "texturing");
  glUniform1i(glGetUniformLocation(program, "picture"), 0);

  glGenBuffers(1, &s.buffer);
  glBindBuffer(GL_ARRAY_BUFFER, s.buffer);
  struct Attribute {
    GLuint location;
    GLint size;
    std::size_t offset;
  };
  const Attribute attributes[] = {
      {PositionAttribute, 3, offsetof(Vertex, position)},
      {TexCoordAttribute, 2, offsetof(Vertex, texCoord)},
      {ColourAttribute, 4, offsetof(Vertex, colour)},
  };
  for (const Attribute& a : attributes) {
    glEnableVertexAttribArray(a.location);
    glVertexAttribPointer(a.location, a.size, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          reinterpret_cast<const void*>(a.offset));
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &s.maxTextureSize);
  if (const GLenum failure = glGetError(); failure != GL_NO_ERROR) {
    error = WithValue("fixed-function GL: set-up failed with GLES2 error", failure);
    return false;
  }
  return true;
}

void ReleaseFixedFunctionGl() {
  if (FixedGl.program) glDeleteProgram(FixedGl.program);
  if (FixedGl.buffer) glDeleteBuffers(1, &FixedGl.buffer);
  FixedGl.program = 0;
  FixedGl.buffer = 0;
}

const char* FirstUnsupportedGlCall() { return FixedGl.unsupported.empty() ? nullptr : FixedGl.unsupported.c_str(); }

void BindFixedFunctionGl() {
#define QUENRIK_GL(use, ret, name, params, args) gl::name = gl::unsupported::name;
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU

  // Matrices.
  gl::glMatrixMode = MatrixMode;
  gl::glLoadIdentity = LoadIdentity;
  gl::glLoadMatrixf = LoadMatrixf;
  gl::glMultMatrixf = MultMatrixf;
  gl::glMultMatrixd = MultMatrixd;
  gl::glTranslatef = Translatef;
  gl::glRotatef = Rotatef;
  gl::glPushMatrix = PushMatrix;
  gl::glPopMatrix = PopMatrix;
  gl::gluPerspective = Perspective;
  gl::glGetFloatv = GetFloatv;
  // Immediate mode.
  gl::glBegin = Begin;
  gl::glEnd = End;
  gl::glVertex3f = Vertex3f;
  gl::glVertex2f = Vertex2f;
  gl::glColor4f = Color4f;
  gl::glColor3f = Color3f;
  gl::glTexCoord2f = TexCoord2f;
  gl::glNormal3f = Normal3f;
  // Textures.
  gl::glBindTexture = BindTexture;
  gl::glDeleteTextures = DeleteTextures;
  gl::glTexImage2D = TexImage2D;
  gl::glTexParameteri = TexParameteri;
  gl::glTexEnvi = TexEnvi;
  gl::glTexEnvf = TexEnvf;
  gl::glPixelStorei = PixelStorei;
  // State.
  gl::glEnable = Enable;
  gl::glDisable = Disable;
  gl::glIsEnabled = IsEnabled;
  gl::glShadeModel = ShadeModel;
  gl::glHint = Hint;
  gl::glClearDepth = ClearDepth;
  gl::glGetError = GetError;
  // The same meaning in GLES2.
  gl::glBlendFunc = Passed<glBlendFunc>::Call;
  gl::glDepthFunc = Passed<glDepthFunc>::Call;
  gl::glDepthMask = Passed<glDepthMask>::Call;
  gl::glColorMask = Passed<glColorMask>::Call;
  gl::glClear = Passed<glClear>::Call;
  gl::glClearColor = Passed<glClearColor>::Call;
  gl::glClearStencil = Passed<glClearStencil>::Call;
  gl::glViewport = Passed<glViewport>::Call;
  gl::glScissor = Passed<glScissor>::Call;
  gl::glCullFace = Passed<glCullFace>::Call;
  gl::glFrontFace = Passed<glFrontFace>::Call;
  gl::glFinish = Passed<glFinish>::Call;
  gl::glFlush = Passed<glFlush>::Call;
  gl::glReadPixels = Passed<glReadPixels>::Call;
  gl::glGetIntegerv = Passed<glGetIntegerv>::Call;
  gl::glGetString = Passed<glGetString>::Call;
  gl::glGenTextures = Passed<glGenTextures>::Call;
  gl::glIsTexture = Passed<glIsTexture>::Call;
}
