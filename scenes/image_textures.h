// The show's pictures: their records, the files they come from, and how they
// are decoded and turned into OpenGL textures.
#pragma once

#include <array>
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

// Decode one file into the record's pixels, width and height. Only 24-bit
// colour pictures are accepted: the upload reads four bytes per pixel.
HwlStatus DecodePicture(const char* fileName, ImageTexture& record);

// Decoding ahead, for a host with idle time before its show starts and no
// thread to decode on meanwhile (a web page while its dialog is open): each
// call decodes the next picture not yet decoded (the loading picture, then
// ShowPictureFiles in order) and keeps the result; false when none was left.
// DecodePicture then hands out a kept result once instead of decoding the
// file, errors included, so a failure is still reported where the show meets
// it. Call it only while nothing else decodes.
bool DecodeNextPictureAhead();

// Upload a decoded record as a texture: glGenTextures, glBindTexture,
// glTexImage2D (level 0, internal format 3, BGRA bytes), linear filters and
// repeat wrapping. The name is stored in the record.
void MakeImageTexture(ImageTexture& record);

// Decode the logo and the twelve text images (ShowPictureFiles) and make
// their textures. Decoding runs on up to MaxDecodeThreads threads; uploads
// happen on the calling thread, which holds the rendering context, in table
// order. On the first failure in table order the pictures before it are
// uploaded and its status is returned.
constexpr unsigned MaxDecodeThreads = 2;  // the machines the show targets have two cores
HwlStatus LoadImageTextures();
