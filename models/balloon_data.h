// The directivity balloons built into the libraries from models/data/, one
// symbol per balloon, each kBalloonValueCount f32 values in band, meridian,
// polar order. A deliverable links only the balloons of its own model.
#pragma once

extern "C" {
extern const float models_balloon_ktr[];
extern const float models_balloon_qsa[];
extern const float models_balloon_qsb[];
extern const float models_balloon_qsc[];
}
