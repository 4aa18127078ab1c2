// Writing the main graph surface to a bitmap file: the current graph as it stands, or the fit picture
// (optionally recoloured for printing) together with a text table of the fitted curves beside it.
#pragma once

#include <array>
#include <span>
#include <string>

#include "analysis/workspace.h"
#include "core/port.h"
#include "graphics/canvas.h"

namespace orv {

// Recolours the whole surface for printing in black on white: black and the `papers` (the graph and
// text backgrounds) become white, everything drawn on them black, whatever its colour, so that texts
// on their coloured cells and white strokes stay readable.
void ReverseColors(ImageCanvas& canvas, std::span<const Rgb> papers = {});

// Name of the graph data file beside a bitmap: the text after the last "." of the file name replaced
// by "gph"; a name without "." gets "gph" appended. Dots in folder names do not count, and a bitmap
// that itself ends in ".gph" gets ".gph" appended so that the table never overwrites the picture.
std::string GraphDataFileName(const std::string& bmpName);

// One line per channel of the current fit interval (ws.fit): the channel (6 wide), its count, the
// fitted interval function, then background plus peak k for each fitted peak (8 wide, 0 decimals).
// False when the file cannot be written or the engine holds no parameters for the interval; `error`
// then tells why.
bool WriteGraphData(const Workspace& ws, const std::string& path, std::string* error = nullptr);

// "Spectrum -> BMP file": asks for a new file name (preset "sp.bmp") and saves the whole graph surface
// into the current working folder. Nothing happens without a graph. True when a file was written.
bool SaveSpectrumBitmap(Workspace& ws, UiPort& port, const ImageCanvas& canvas);

// "Fit -> BMP": asks for a new file name (preset "a.bmp") and whether to reverse the colours, saves
// the picture and writes the graph data file beside it. True when both files were written.
bool SaveFitBitmap(Workspace& ws, UiPort& port, ImageCanvas& canvas);

}  // namespace orv
