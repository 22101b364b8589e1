// The artwork of the default theme: every picture of the table is drawn here as an SVG document
// in layout units, so one drawing serves both profiles.
#pragma once

#include <string>

#include "theme_table.h"

namespace lumo::theme {

// The SVG document of a picture for a profile, or an empty string when its art is unknown
// (procedural pictures such as the animated sample are not drawn as SVG).
std::string picture_svg(const Picture& p, const Profile& profile);

// True for pictures that are made by code rather than by rsvg-convert.
bool is_procedural(const Picture& p);

}  // namespace lumo::theme
