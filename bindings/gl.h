// OpenGL 1.1 (+ four 1.2 names) and GLU 1.2, bound at run time by name.
//
// The program never links the system's GL or GLU. LoadGL / LoadGLU open the
// libraries and fill one pointer per entry point (in the order of
// gl_functions.inc / glu_functions.inc). All drawing code calls through these
// pointers under the standard names, inside namespace gl; tests may point any
// of them at a recorder. This header must not be mixed with the system's
// <GL/gl.h> in one translation unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32) && !defined(_WIN64)
#define QUENRIK_GLAPI __stdcall
#else
#define QUENRIK_GLAPI
#endif

namespace gl {

using GLenum = unsigned int;
using GLboolean = unsigned char;
using GLbitfield = unsigned int;
using GLvoid = void;
using GLbyte = signed char;
using GLshort = short;
using GLint = int;
using GLubyte = unsigned char;
using GLushort = unsigned short;
using GLuint = unsigned int;
using GLsizei = int;
using GLfloat = float;
using GLclampf = float;
using GLdouble = double;
using GLclampd = double;

struct GLUquadric;
struct GLUnurbs;
struct GLUtesselator;
using _GLUfuncptr = void(QUENRIK_GLAPI *)();

// The constants the show uses (values from the OpenGL 1.1 and EXT_bgra specifications).
constexpr GLenum GL_FALSE = 0;
constexpr GLenum GL_TRUE = 1;
constexpr GLenum GL_QUADS = 0x0007;
constexpr GLbitfield GL_DEPTH_BUFFER_BIT = 0x00000100;
constexpr GLbitfield GL_COLOR_BUFFER_BIT = 0x00004000;
constexpr GLenum GL_LEQUAL = 0x0203;
constexpr GLenum GL_SRC_ALPHA = 0x0302;
constexpr GLenum GL_ONE = 1;
constexpr GLenum GL_DEPTH_TEST = 0x0B71;
constexpr GLenum GL_BLEND = 0x0BE2;
constexpr GLenum GL_TEXTURE_2D = 0x0DE1;
constexpr GLenum GL_PERSPECTIVE_CORRECTION_HINT = 0x0C50;
constexpr GLenum GL_NICEST = 0x1102;
constexpr GLenum GL_SMOOTH = 0x1D01;
constexpr GLenum GL_MODELVIEW = 0x1700;
constexpr GLenum GL_PROJECTION = 0x1701;
constexpr GLenum GL_UNSIGNED_BYTE = 0x1401;
constexpr GLenum GL_RGB = 0x1907;
constexpr GLenum GL_RGBA = 0x1908;
constexpr GLenum GL_BGRA_EXT = 0x80E1;
constexpr GLenum GL_TEXTURE_ENV = 0x2300;
constexpr GLenum GL_MAX_TEXTURE_SIZE = 0x0D33;
constexpr GLenum GL_TEXTURE_ENV_MODE = 0x2200;
constexpr GLenum GL_MODULATE = 0x2100;
constexpr GLenum GL_TEXTURE_MAG_FILTER = 0x2800;
constexpr GLenum GL_TEXTURE_MIN_FILTER = 0x2801;
constexpr GLenum GL_TEXTURE_WRAP_S = 0x2802;
constexpr GLenum GL_TEXTURE_WRAP_T = 0x2803;
constexpr GLenum GL_LINEAR = 0x2601;
constexpr GLenum GL_REPEAT = 0x2901;
constexpr GLenum GL_VENDOR = 0x1F00;
constexpr GLenum GL_RENDERER = 0x1F01;
constexpr GLenum GL_VERSION = 0x1F02;
constexpr GLenum GL_NO_ERROR = 0;
constexpr GLenum GL_PACK_ALIGNMENT = 0x0D05;
constexpr GLenum GL_UNPACK_ALIGNMENT = 0x0CF5;
constexpr GLenum GL_VIEWPORT = 0x0BA2;
constexpr GLenum GL_MODELVIEW_MATRIX = 0x0BA6;
constexpr GLenum GL_PROJECTION_MATRIX = 0x0BA7;
// Used by the fixed-function layer (gl_fixed.h) and its tests.
constexpr GLenum GL_TRIANGLES = 0x0004;
constexpr GLenum GL_FLAT = 0x1D00;
constexpr GLenum GL_NEAREST = 0x2600;
constexpr GLenum GL_CLAMP = 0x2900;
constexpr GLenum GL_INVALID_ENUM = 0x0500;
constexpr GLenum GL_INVALID_VALUE = 0x0501;
constexpr GLenum GL_INVALID_OPERATION = 0x0502;
constexpr GLenum GL_STACK_OVERFLOW = 0x0503;
constexpr GLenum GL_STACK_UNDERFLOW = 0x0504;

// One pointer per entry point, null until resolved.
#define QUENRIK_GL(use, ret, name, params, args) extern ret(QUENRIK_GLAPI *name) params;
#define QUENRIK_GLU(use, ret, name, params, args) extern ret(QUENRIK_GLAPI *name) params;
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU

}  // namespace gl

// The system libraries' names on this platform.
extern const char* const GlLibraryName;   // "libGL.so.1" or "opengl32.dll"
extern const char* const GluLibraryName;  // "libGLU.so.1" or "glu32.dll"

// Load the named library and resolve the whole list. True when the library
// was loaded, whether or not every name was found; a missing name leaves a
// null pointer. Loading again replaces the handle and resolves anew.
bool LoadGL(const char* libraryName);
bool LoadGLU(const char* libraryName);
// Free the libraries at program end, GLU first (each once).
void FreeGL();
void FreeGLU();

// The entry points the show calls (marked Called in the lists). Returns the
// first one that is null, in binding order, or nullptr when all are bound. A
// null call would crash, so the shell checks this before drawing and reports
// the missing name.
const char* FirstMissingEntryPoint();
