// The text card shared by the overlay and closing layers: its placement in
// front of the camera and its square, drawn with one texture.
#pragma once

#include "image_textures.h"
#include "show_state.h"

constexpr double CardHalfSize = 10.0;      // text cards of the overlay layers
constexpr double SmallCardHalfSize = 7.0;  // the two cards of the closing page
constexpr float CardDistance = -40.0f;     // cards sit 40 units in front of the camera

// The CircleTable index of a frame counter: truncated toward zero. The show's
// pacing keeps every counter inside the table; the clamp only keeps other
// callers (runs with frames closer than the show's spacing) from reading past it.
int CircleIndex(double counter);

// glLoadIdentity, the card distance, then the card's centre (x, y) as one
// single-precision translation.
void PlaceCard(double x, double y);
// Texture on, bind, colour (1, 1, 1, alpha), one square of the given
// half-size in the plane z = 1 with the image upright, texture off.
void DrawCard(Picture picture, double halfSize, double alpha);
