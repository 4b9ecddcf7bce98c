// The show's OpenGL 1.1 drawing over OpenGL ES 2.0 (WebGL 1 in a browser): a
// small fixed-function layer of our own, for hosts that have no desktop GL.
//
// BindFixedFunctionGl points every entry point of the GL and GLU tables (gl.h)
// at the layer, so the scenes keep calling gl::glBegin, gl::glRotatef... The
// layer keeps what GLES2 lacks on the CPU, with OpenGL 1.1's semantics:
//
// - matrix stacks (modelview, projection; 32 deep, like Mesa's): glMatrixMode,
//   glLoadIdentity, glLoadMatrixf, glMultMatrixf/d, glTranslatef, glRotatef
//   (the axis normalised as OpenGL does; shorter than 1e-4: no rotation),
//   glPushMatrix, glPopMatrix, gluPerspective; glGetFloatv answers
//   GL_MODELVIEW_MATRIX and GL_PROJECTION_MATRIX. The arithmetic is Mesa's:
//   single precision, the same operations in the same order;
// - glBegin/glEnd with GL_QUADS or GL_TRIANGLES, glVertex2f/3f, glTexCoord2f,
//   glColor3f/4f (clamped to [0, 1] per vertex), glNormal3f (no lighting: no
//   effect), glShadeModel GL_SMOOTH or GL_FLAT (the last vertex's colour);
// - GL_TEXTURE_2D enable, the GL_MODULATE texture environment; a texture that
//   is not complete draws as if texturing were off (OpenGL 1.1's rule);
// - glTexImage2D from GL_BGRA_EXT, GL_RGBA or GL_RGB bytes (honouring
//   GL_UNPACK_ALIGNMENT) to internal format 3/GL_RGB or 4/GL_RGBA, converted
//   to what GLES2 takes; glTexParameteri. WebGL 1 repeats only textures whose
//   sides are powers of two: on any other texture GL_REPEAT (and GL_CLAMP,
//   always) is applied as GL_CLAMP_TO_EDGE, which differs only in the outer
//   half texel;
// - glHint(GL_PERSPECTIVE_CORRECTION_HINT) accepted (GLES2 is always
//   perspective-correct), glClearDepth as glClearDepthf;
// - passed to GLES2, where they mean the same: glEnable, glDisable and
//   glIsEnabled of anything but GL_TEXTURE_2D, glBlendFunc, glDepthFunc,
//   glDepthMask, glColorMask, glClear, glClearColor, glClearStencil,
//   glViewport, glScissor, glCullFace, glFrontFace, glFinish, glFlush,
//   glReadPixels, glPixelStorei but GL_UNPACK_ALIGNMENT, glGetIntegerv,
//   glGetFloatv but the matrices, glGetString, glGenTextures, glIsTexture,
//   glBindTexture and glDeleteTextures (the layer noting which is bound).
//
// glGetError reports the layer's own error first, then GLES2's. Calls that
// OpenGL forbids between glBegin and glEnd raise GL_INVALID_OPERATION there.
// Every other entry point raises GL_INVALID_OPERATION and does nothing; so do
// the GL 1.1 values the layer does not take, raising GL_INVALID_ENUM (another
// primitive, texture environment, matrix mode or pixel format) or
// GL_INVALID_VALUE (a texture border). FirstUnsupportedGlCall names the first.
//
// The layer owns the context's program, array buffer, vertex attributes and
// GL_UNPACK_ALIGNMENT: nothing else may change them. Standard C++ over
// <GLES2/gl2.h> only, so the same file builds natively (Mesa's GLESv2) and
// for the browser (Emscripten's WebGL, without its GL emulation).
#pragma once

#include <string>

// Starts the layer on the current GLES2 context: compiles and links its
// shader program, makes its vertex buffer, and sets the layer's state to
// OpenGL's initial values (identity matrices, colour (1, 1, 1, 1), texturing
// off, GL_MODULATE, smooth shading), forgetting any earlier context's
// objects. False with the reason in error (with the compiler's log).
bool SetUpFixedFunctionGl(std::string& error);

// Points every GL and GLU entry point at the layer; FirstMissingEntryPoint()
// then returns nullptr. Binding again (after a recorder, say) keeps the state.
void BindFixedFunctionGl();

// Deletes the layer's program and buffer; with the context current, before it goes.
void ReleaseFixedFunctionGl();

// The first call the layer could not carry out because it does not support
// it ("glLightfv", "glBegin(0x0001)"...), or nullptr. Kept until set-up.
const char* FirstUnsupportedGlCall();
