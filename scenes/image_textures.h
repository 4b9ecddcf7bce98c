// Decoding the show's pictures and turning them into OpenGL textures.
#pragma once

#include "hwl.h"
#include "textures.h"

// Decode one file into the record's pixels, width and height. Only 24-bit
// colour pictures are accepted: the upload reads four bytes per pixel.
HwlStatus DecodePicture(const char* fileName, ImageTexture& record);

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
