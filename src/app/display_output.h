// Saving the display text to a file and printing it.
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <string>

class QPrinter;

namespace kelvo {
class Console;
class EditLine;
}  // namespace kelvo

namespace kelvo::app {

enum class SaveOutcome { Saved, CannotOpen, WriteFailed };

// Writes the completed lines, each followed by a line feed alone.
SaveOutcome WriteDisplayText(const Console& console, const std::string& path);

// The printed page: characters of cw x ch dots, `rows` rows a page, margins.
struct PrintGeometry {
    int charWidth = 0;
    int charHeight = 0;
    int rows = 0;
    int left = 0;
    int top = 0;
};
// From the printer's dots per inch across and down and its printable area in
// dots: 140 characters across the printable width less an inch, each 1.8 times
// as high as wide, half-inch margins.
PrintGeometry ComputePrintGeometry(int dpiX, int dpiY, int width, int height);

// The image of one line of `count` characters in the print glyphs: 16 x count
// pixels wide, 16 high, black ink on white paper.
QImage LineImage(const char* text, int count);

enum class PrintOutcome { Printed, ActivationFailed };

// Prints the edit line (when it holds text) and the completed lines on the
// printer as document "CopperDoc"; `pump` runs after every line and at every page
// break.
PrintOutcome PrintDisplayText(QPrinter& printer, const Console& console, const EditLine& edit,
                              const std::function<void()>& pump);

}  // namespace kelvo::app
