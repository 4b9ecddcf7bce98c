#include "render_state.h"

#include "gl.h"

using namespace gl;

void SetUpRenderState(std::int32_t screenWidth, std::int32_t screenHeight) {
  constexpr GLdouble FieldOfViewY = 45.0;  // degrees, whatever the window size
  constexpr GLdouble NearPlane = 0.1;
  constexpr GLdouble FarPlane = 100.0;

  glViewport(0, 0, screenWidth, screenHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(FieldOfViewY, static_cast<GLdouble>(screenWidth) / static_cast<GLdouble>(screenHeight),
                 NearPlane, FarPlane);
  // The modelview matrix stays current for the rest of the run.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_SMOOTH);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClearDepth(1.0);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
  // Every picture is added to the frame, weighted by the colour's alpha;
  // drawing order alone decides what covers what.
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
}
