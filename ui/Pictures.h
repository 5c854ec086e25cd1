// The two pictures of the main window, drawn by the program itself.
#pragma once

#include <QImage>

namespace ui {

// The axis title in lambda mode: a black lower-case lambda with grey anti-aliased edges on a plain
// light grey (187, 187, 187) background, 23 x 30 pixels, 16 colours.
QImage LambdaBitmap();
// The maker's logo for the top right corner, drawn at the given size.
QImage LogoPicture(int width, int height);
// The program's icon: a lambda over a sweep of the trace.
QImage ProgramIcon(int size);

}  // namespace ui
