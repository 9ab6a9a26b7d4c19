// Frames as the host hands them to the plug-in, and their conversion for pictures.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "video/frame_geometry.h"

namespace kvx {

// The built-in test pattern (colour bars, a grid and fine lines) in host memory order.
std::vector<uint8_t> MakeTestPattern(const FrameGeometry& g, int frameIndex);
// Draws the pattern's columns x0..x1-1 of rows y0..y1-1 (top-down) into `frame`; frame index -1
// draws it without its moving marker.
void DrawTestPattern(std::vector<uint8_t>& frame, const FrameGeometry& g, int frameIndex, int x0, int x1,
                     int y0, int y1);
// The area the moving marker of frame `frameIndex` covers (all else is the same in every frame).
void PatternMarkerArea(const FrameGeometry& g, int frameIndex, int& x0, int& x1, int& y0, int& y1);

// Raw bgr24 in pipes is top-down, the host's 24-bit format bottom-up: flips the rows.
void FlipRows(std::vector<uint8_t>& frame, const FrameGeometry& g);

// Bytes of a frame as 4:2:0 planes (Y, then U and V of half the width and height, rounded up).
size_t PlanarFrameBytes(const FrameGeometry& g);
// A frame in host memory order from 4:2:0 planes (limited-range BT.601, as decoders give).
std::vector<uint8_t> FromPlanar(const std::vector<uint8_t>& planes, const FrameGeometry& g);

// Top-down RGB, 3 bytes per pixel, from a frame in host memory order.
std::vector<uint8_t> ToRgb(const std::vector<uint8_t>& frame, const FrameGeometry& g);

// Writes images side by side (all of the same size) as one PNG; false on failure.
bool WriteSideBySidePng(const std::string& path, const std::vector<std::vector<uint8_t>>& rgbImages,
                        int32_t width, int32_t height);

}  // namespace kvx
