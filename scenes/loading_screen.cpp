#include "loading_screen.h"

#include "gl.h"
#include "image_textures.h"

using namespace gl;

void (*SwapBuffersHook)() = nullptr;

namespace {

constexpr GLfloat LoadingDistance = 40.0f;  // units in front of the camera
constexpr GLfloat HalfSide = 10.0f;         // the square is 20 units wide: ~60 % of the view's height

// Corners in drawing order; t = 0 is the picture's first row, drawn at the top.
struct Corner {
  GLfloat s, t, x, y;
};
constexpr Corner LoadingSquare[] = {
    {0.0f, 1.0f, -HalfSide, -HalfSide},
    {1.0f, 1.0f, HalfSide, -HalfSide},
    {1.0f, 0.0f, HalfSide, HalfSide},
    {0.0f, 0.0f, -HalfSide, HalfSide},
};

}  // namespace

HwlStatus ShowLoadingScreen() {
  ImageTexture& loading = PictureRecord(Picture::Loading);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  HwlStatus status = TakeDecodedPicture(Picture::Loading, loading);
  if (!status) return status;
  MakeImageTexture(loading);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -LoadingDistance);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, loading.texture);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glNormal3f(0.0f, 0.0f, 1.0f);
  for (const Corner& corner : LoadingSquare) {
    glTexCoord2f(corner.s, corner.t);
    glVertex3f(corner.x, corner.y, 0.0f);
  }
  glEnd();
  glDisable(GL_TEXTURE_2D);
  if (SwapBuffersHook) SwapBuffersHook();
  return status;
}
