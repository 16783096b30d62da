// The whole frame read back and compared: with another frame, or with a
// picture the test keeps in the repository (tests/pictures/), so that what
// the program draws is checked against what it drew when the picture was
// looked at and taken, never against a second copy of the drawing code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Frame = std::vector<uint8_t>;  // RGBA rows, bottom row first

// The whole 640 x 480 back buffer.
Frame readFrame();
// Where two frames first differ ("x,y: got r g b / want r g b", window
// coordinates), or "" when their colours are equal.
std::string firstDifference(const Frame& got, const Frame& want);
// Covers the screen with a fixed pattern in which neighbouring pixels
// differ, so that any change of blend or any pixel too many or too few shows.
void paintBackground();

// A picture of 640 x 480 frames one below the other, kept as
// tests/pictures/NAME.png and compared frame by frame, in order, with what
// a test draws. To remake it after a deliberate change of the drawing, run
// the test with VELLORA_REMAKE_PICTURES=1 in the environment (Linux): the
// frames given are then written over the picture when the object goes, and
// every comparison passes; look at the picture before committing it.
class PictureFile {
 public:
  explicit PictureFile(std::string name);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  // "" when frame's colours are those of the picture's next frame, else
  // where they first differ (the frame drawn is then saved beside the
  // test's other artifacts as NAME-N.bmp).
  std::string next(const Frame& frame);

 private:
  std::string name_;
  bool remaking_ = false;
  std::vector<Frame> frames_;  // the picture's, or those to write
  size_t compared_ = 0;
  std::string problem_;  // why the picture could not be read
};

}  // namespace testsupport
