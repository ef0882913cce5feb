// The compact form of a balloon: kBalloonValueCount little-endian f32 values
// in band, meridian, polar order, nothing else. The libraries embed these
// files as they are.
#pragma once

#include <string>

#include "tools/balloon/balloon_model.h"

namespace balloon {

// The file name of a balloon kind in the compact form: "QSA" -> "qsa.f32".
std::string balloonFileName(const std::string& kind);

// "1000 Hz, meridian 90, polar 45" for the first node that is NaN or
// infinite, or empty when every value is finite.
std::string nonFiniteNode(const Balloon& balloon);

// Both return an empty string on success, else why they failed. A balloon
// with a value that is not finite is not written.
std::string readBalloonFile(const std::string& path, Balloon& balloon);
std::string writeBalloonFile(const std::string& path, const Balloon& balloon);

}  // namespace balloon
