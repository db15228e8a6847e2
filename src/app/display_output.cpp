#include "app/display_output.h"

#include <QPainter>
#include <QPrinter>

#include <cstdio>

#include "app/print_glyphs.h"
#include "console/console.h"
#include "console/edit_line.h"
#include "console/host.h"

namespace kelvo::app {
namespace {

// The constants held in single precision, as the page geometry has always used
// them: k1 a little above 1/140, k2 a little below 1.8.
constexpr float kWidthFactor = 0.007142857f;
constexpr float kHeightFactor = 1.8f;

int Truncate(long long dots, float factor) {
    return static_cast<int>(static_cast<long double>(dots) * static_cast<long double>(factor));
}

}  // namespace

SaveOutcome WriteDisplayText(const Console& console, const std::string& path) {
    FileHandle owner = OpenPlainFile(path, FileAccess::Replace);
    if (owner == nullptr) return SaveOutcome::CannotOpen;
    std::FILE* const file = owner.get();
    SaveOutcome outcome = SaveOutcome::Saved;
    for (int i = 0; i < console.CurrentLine(); ++i) {
        const DisplayLine& line = console.Line(i);
        const std::size_t length = std::min<std::size_t>(line.length, kLineTextSize - 1);
        if (std::fwrite(line.text, 1, length, file) != length || std::fputc('\n', file) == EOF ||
            std::fflush(file) != 0) {
            outcome = SaveOutcome::WriteFailed;
            break;
        }
    }
    if (std::fclose(owner.release()) != 0 && outcome == SaveOutcome::Saved) outcome = SaveOutcome::WriteFailed;
    return outcome;
}

PrintGeometry ComputePrintGeometry(int dpiX, int dpiY, int width, int height) {
    PrintGeometry g;
    g.charWidth = Truncate(static_cast<long long>(width) - dpiX, kWidthFactor);
    g.charHeight = Truncate(g.charWidth, kHeightFactor);
    // A page too small for a character still prints, one dot a character.
    g.charWidth = std::max(1, g.charWidth);
    g.charHeight = std::max(1, g.charHeight);
    g.rows = std::max(1, (height - dpiY) / g.charHeight);
    g.left = dpiX / 2;
    g.top = dpiY / 2;
    return g;
}

QImage LineImage(const char* text, int count) {
    QImage image(16 * count, 16, QImage::Format_Mono);
    image.setColorCount(2);
    image.setColor(0, qRgb(0, 0, 0));        // ink
    image.setColor(1, qRgb(255, 255, 255));  // paper
    image.fill(1);
    for (int i = 0; i < count; ++i) {
        const std::uint16_t* glyph = PrintGlyphs[GlyphIndex(static_cast<unsigned char>(text[i]))];
        for (int row = 0; row < 16; ++row) {
            const std::uint16_t bits = glyph[row];
            uchar* scan = image.scanLine(15 - row);  // the glyph's first row is its bottom one
            scan[2 * i] = static_cast<uchar>(bits & 0xFF);
            scan[2 * i + 1] = static_cast<uchar>(bits >> 8);
        }
    }
    return image;
}

PrintOutcome PrintDisplayText(QPrinter& printer, const Console& console, const EditLine& edit,
                              const std::function<void()>& pump) {
    printer.setDocName(QStringLiteral("CopperDoc"));
    QPainter painter;
    if (!painter.begin(&printer)) return PrintOutcome::ActivationFailed;
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const PrintGeometry g = ComputePrintGeometry(printer.logicalDpiX(), printer.logicalDpiY(), area.width(),
                                                 area.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);

    int row = 0;
    auto printLine = [&](const char* text, int count) {
        if (count > 0) {
            const QRect target(g.left, g.top + row * g.charHeight, g.charWidth * count, g.charHeight);
            painter.drawImage(target, LineImage(text, count));
        }
    };
    if (edit.EditEnd() > 1) {
        printLine(edit.Row(), edit.EditEnd());
        row = 1;
    }
    for (int i = 0; i < console.CurrentLine(); ++i) {
        const DisplayLine& line = console.Line(i);
        printLine(line.text, std::min<int>(line.length, kLineTextSize - 1));
        ++row;
        if (row >= g.rows) {
            printer.newPage();
            if (pump) pump();
            row = 0;
        }
        if (pump) pump();
    }
    painter.end();
    return PrintOutcome::Printed;
}

}  // namespace kelvo::app
