// The frame magnified by the CPU for a window larger than it: plain code on
// 32-bit pixels, no GL. Nearest sampling at a whole scale only repeats each
// frame pixel, which a loop of copies does far more cheaply than a software
// rasteriser's texture path, sampling every window pixel on its own.
#pragma once

#include <cstdint>

namespace render {

// How the rows of a doubled picture are written. Streamed: with SSE2, where
// both picture rows start on 16 bytes, four frame pixels at a time stored
// past the processor's cache (the X server reads the picture, this process
// does not); Plain: pixel by pixel, as Streamed does elsewhere. Both give the
// same bytes.
enum class RowStores : uint8_t { Streamed, Plain };

// Writes the frame (width x height pixels, rows from the bottom, as GL reads
// them) scale times larger into the picture (rows from the top, stride
// pixels apart, stride >= width * scale): each frame pixel becomes a square
// of scale x scale. Only the width * scale x height * scale pixels at the
// picture's top-left are written.
void magnify(const uint32_t* frame, int width, int height, int scale, uint32_t* picture, int stride,
             RowStores stores = RowStores::Streamed);

}  // namespace render
