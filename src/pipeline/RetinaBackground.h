// Background pictures for screens of two densities: NAME.png with NAME@2x.png beside it become
// NAME.tiff, one file holding both, from which the Finder picks the one that suits the screen.
#pragma once

#include <string>

// The picture the view's alias is to name, relative to the container folder: NAME.tiff when
// `background` is NAME.png, NAME@2x.png lies beside it at exactly twice its size, and the TIFF
// was made; otherwise `background` itself. A double picture of another size draws a warning and is
// not used. False (with an error printed) when making the TIFF failed; the picture given is then
// `background`.
bool ChooseBackgroundPicture(std::string const& background, char const* containerPath, std::string* picture);
