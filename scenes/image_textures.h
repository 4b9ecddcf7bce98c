// The show's pictures: their records, the files they come from, and how they
// are decoded and turned into OpenGL textures.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "hwl.h"

struct ImageTexture {
  std::vector<std::uint8_t> pixels;  // decoded pixels, kept for the whole run
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t texture = 0;  // name from glGenTextures
};

// The fourteen records, in this order.
enum class Picture : int {
  Logo,
  Loading,
  Text1, Text2, Text3, Text4, Text5, Text6, Text7, Text8, Text9,
  Text99, Text10, Text11,
  Count
};
extern std::array<ImageTexture, static_cast<int>(Picture::Count)> Pictures;
inline ImageTexture& PictureRecord(Picture picture) { return Pictures[static_cast<int>(picture)]; }

#ifdef _WIN32
#define QUENRIK_DATA_FILE(name) "data\\" name
#else
#define QUENRIK_DATA_FILE(name) "data/" name
#endif

struct PictureFile {
  Picture picture;
  const char* fileName;
};
// Load order of LoadImageTextures.
constexpr std::array<PictureFile, 13> ShowPictureFiles = {{
    {Picture::Logo, QUENRIK_DATA_FILE("zem_logo.hwl")},
    {Picture::Text1, QUENRIK_DATA_FILE("text_1.hwl")},
    {Picture::Text2, QUENRIK_DATA_FILE("text_2.hwl")},
    {Picture::Text3, QUENRIK_DATA_FILE("text_3.hwl")},
    {Picture::Text4, QUENRIK_DATA_FILE("text_4.hwl")},
    {Picture::Text5, QUENRIK_DATA_FILE("text_5.hwl")},
    {Picture::Text6, QUENRIK_DATA_FILE("text_6.hwl")},
    {Picture::Text7, QUENRIK_DATA_FILE("text_7.hwl")},
    {Picture::Text8, QUENRIK_DATA_FILE("text_8.hwl")},
    {Picture::Text9, QUENRIK_DATA_FILE("text_9.hwl")},
    {Picture::Text99, QUENRIK_DATA_FILE("text_99.hwl")},
    {Picture::Text10, QUENRIK_DATA_FILE("text_10.hwl")},
    {Picture::Text11, QUENRIK_DATA_FILE("text_11.hwl")},
}};
constexpr const char* LoadingPictureFile = QUENRIK_DATA_FILE("loading.hwl");

// The largest picture the show decodes: 4096 x 4096 pixels, eight times the
// side of its own 512 x 512 pictures and the largest texture that every GL
// implementation it runs on takes (common desktop drivers and Mesa take 8192
// to 16384, WebGL in practice 4096 and more). A decode that large needs at
// most 335 MB (HwlMaxBytesPerPixel); a larger picture is refused from its
// header (code 201) before anything of its size is read or allocated.
constexpr std::uint64_t ShowMaxPicturePixels = std::uint64_t{4096} * 4096;

// What bounds the loading of the pictures. The show core fills it in: the
// stop flag before the loading screen, the texture size once the context is
// current.
struct PictureLoadLimits {
  // Set (by a signal handler, say): reads and decodes give up at once with
  // HwlCancelled, a read waiting on a FIFO included.
  const std::atomic<bool>* stop = nullptr;
  // GL_MAX_TEXTURE_SIZE, the longest side a texture may have; 0 while not
  // known (no check).
  std::int32_t maxTextureSide = 0;
};
extern PictureLoadLimits PictureLimits;

// GL_MAX_TEXTURE_SIZE of the current context, or 0 when it answers nothing
// sensible (OpenGL promises at least 64).
std::int32_t QueryMaxTextureSide();

// Decode one file into the record's pixels, width and height. Only 24-bit
// colour pictures of at most ShowMaxPicturePixels are accepted: the upload
// reads four bytes per pixel.
HwlStatus DecodePicture(const char* fileName, ImageTexture& record);

// A decoded picture that the context cannot take as a texture (a side longer
// than PictureLimits.maxTextureSide) is an error naming the file and both
// sizes (code 201); OpenGL would only refuse the upload silently.
HwlStatus CheckTextureSize(const ImageTexture& record, const char* fileName);

// Upload a decoded record as a texture: glGenTextures, glBindTexture,
// glTexImage2D (level 0, internal format 3, BGRA bytes), linear filters and
// repeat wrapping. The name is stored in the record.
void MakeImageTexture(ImageTexture& record);

// Decoding runs ahead of the GL thread: StartDecodingPictures starts it on up
// to MaxDecodeThreads threads, the loading picture first, then the table's
// (the show core calls it right after the dialog, so the pictures decode while
// the window, the display mode and the context are made); the loading screen
// and LoadImageTextures take them in their order, and upload them on the
// calling thread, which holds the rendering context. Without a call the first
// take starts it. StopDecodingPictures abandons what is still running (reads
// and decodes give up within milliseconds) and waits for the threads.
constexpr unsigned MaxDecodeThreads = 2;  // the machines the show targets have two cores
void StartDecodingPictures();
void StopDecodingPictures();

// A build without threads (a web page) decodes on its one thread: each call
// decodes the next picture (starting the decoding when needed), for a host
// with idle time before its show starts; false when none was left, or when
// the pictures decode on threads. Without calls the pictures decode when
// they are taken.
bool DecodeNextPicture();

// Waits for the picture's decode (giving up at once, with HwlCancelled, when
// PictureLimits.stop is set), checks its size against the context
// (CheckTextureSize) and moves it into record. A failure abandons the rest.
HwlStatus TakeDecodedPicture(Picture picture, ImageTexture& record);

// Takes the logo and the twelve text images (ShowPictureFiles) in table
// order and makes their textures. On the first failure in table order the
// pictures before it are uploaded and its status is returned. Decoding is
// over when it returns.
HwlStatus LoadImageTextures();
