// The box drawn into a canvas: the lines in view on the body, a scroll thumb for a text
// that scrolls, the band along the bottom with the buttons, and the caption band where the
// box draws its own.
#include "KVZDebugLib/platform/dialog/DialogScene.h"

namespace kvz::platform {

namespace {

bool Meets(const Rect &a, const Rect &b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.x < b.x + b.width &&
           b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// A border line's thickness for text of the height: 1 at 13 pixels, and in proportion.
int LineThickness(int fontHeight) {
    const int thickness = (fontHeight + 6) / 13;
    return thickness > 0 ? thickness : 1;
}

} // namespace

// Text of one paragraph, [start, start + count) of codes, in the order its levels give,
// from x (its left edge) on the baseline; with no canvas only measured. Returns its width.
// Shaped, each run of one level is shaped in its direction (HarfBuzz mirrors what a
// right-to-left run needs); else the characters are put in order, one at an odd level
// mirrored.
int DialogScene::DrawCodes(Canvas *canvas, const uint32_t *codes, const uint8_t *levels, int start,
                           int count, uint8_t base, int x, int baseline) const {
    if (count <= 0) {
        return 0;
    }
    if (text_.Shapes()) {
        int width = 0;
        const int runCount = LineRuns(codes, levels, start, count, base, runs_);
        for (int r = 0; r < runCount; ++r) {
            width += text_.Run(canvas, x + width, baseline, codes + runs_[r].start, runs_[r].count,
                               (runs_[r].level & 1) != 0, kTextColour);
        }
        return width;
    }
    LineOrder(codes, levels, start, count, base, runs_, order_);
    for (int i = 0; i < count; ++i) {
        const uint32_t code = codes[order_[i]];
        shown_[i] = (levels[order_[i]] & 1) != 0 ? MirroredCharacter(code) : code;
    }
    return text_.Run(canvas, x, baseline, shown_, count, false, kTextColour);
}

// The lines in view, a line of a right-to-left paragraph against the right margin, and for
// a text that scrolls, a thumb in the right margin showing where.
void DialogScene::DrawBody(Canvas &canvas) const {
    const Rect body = BodyBox();
    FillRect(canvas, body.x, body.y, body.width, body.height, kBodyColour);
    const int right = geometry_.window.width - space_.margin;
    for (int i = 0; i < geometry_.shownLines && firstLine_ + i < lineCount_; ++i) {
        const int line = firstLine_ + i, width = lineWidths_[line];
        const int x =
            lineBase_[line] != 0 && right - width > space_.margin ? right - width : space_.margin;
        const int baseline = captionHeight_ + space_.margin + i * lineHeight_ + text_.Ascent();
        DrawCodes(&canvas, codes_, levels_, lines_[line].start, lines_[line].count, lineBase_[line],
                  x, baseline);
    }
    const Rect thumb = ScrollThumb(body_, space_, firstLine_, lineCount_);
    FillRect(canvas, thumb.x, thumb.y + captionHeight_, thumb.width, thumb.height, kBorderColour);
}

// A face with a grey border; the button Enter answers has the focus ring instead. A held
// button's face is the pressed one, its label a pixel lower.
void DialogScene::DrawButton(Canvas &canvas, int index) const {
    const Rect &box = geometry_.buttons[index];
    const bool down = held_ == index && heldInside_;
    FillRect(canvas, box.x, box.y, box.width, box.height, down ? kPressedFaceColour : kFaceColour);
    if (index == focused_) {
        DrawFocusRing(canvas, box.x, box.y, box.width, box.height, kFocusColour);
    } else {
        DrawFrame(canvas, box.x, box.y, box.width, box.height, Scaled(canvas, 1), kBorderColour);
    }
    uint32_t label[8];
    int count = 0, labelWidth = 0;
    for (; count < 8 && labels_[index][count] != 0; ++count) {
        label[count] = static_cast<unsigned char>(labels_[index][count]);
        labelWidth += text_.Width(label[count]);
    }
    const int fontHeight = text_.Ascent() + text_.Descent();
    const int baseline =
        box.y + (box.height - fontHeight) / 2 + text_.Ascent() + (down ? Scaled(canvas, 1) : 0);
    // A character at a time, by the advances the layout measured.
    int x = box.x + (box.width - labelWidth) / 2;
    for (int i = 0; i < count; ++i) {
        text_.Run(&canvas, x, baseline, label + i, 1, false, kTextColour);
        x += text_.Width(label[i]);
    }
}

// The caption at the left of a band across the top, a close control (a cross) at its right.
void DialogScene::DrawCaption(Canvas &canvas) const {
    const int width = geometry_.window.width, fontHeight = text_.Ascent() + text_.Descent();
    const int thickness = LineThickness(fontHeight);
    FillRect(canvas, 0, 0, width, captionHeight_, kBandColour);
    FillRect(canvas, 0, captionHeight_ - thickness, width, thickness, kBorderColour);
    const int baseline = (captionHeight_ - fontHeight) / 2 + text_.Ascent();
    DrawCodes(&canvas, caption_, captionLevels_, 0, captionCount_, captionBase_, space_.margin,
              baseline);
    // The control covers a caption too long for the band.
    const Rect close = CloseBox();
    const bool down = held_ == kClose && heldInside_;
    FillRect(canvas, close.x, close.y, close.width, close.height - thickness,
             down ? kPressedFaceColour : kBandColour);
    const int size = fontHeight * 2 / 3;
    const int left = close.x + (close.width - size) / 2, top = close.y + (close.height - size) / 2;
    for (int i = 0; i + thickness <= size; ++i) {
        FillRect(canvas, left + i, top + i, thickness, thickness, kTextColour);
        FillRect(canvas, left + size - thickness - i, top + i, thickness, thickness, kTextColour);
    }
}

void DialogScene::Draw(const Canvas &canvas) const {
    Draw(canvas, Rect{0, 0, geometry_.window.width, geometry_.window.height});
}

void DialogScene::Draw(const Canvas &target, const Rect &area) const {
    Canvas canvas = target;
    canvas.scale = scale_; // lengths follow the scale the box was laid out at
    if (captionHeight_ > 0 && Meets(area, Rect{0, 0, geometry_.window.width, captionHeight_})) {
        DrawCaption(canvas);
    }
    if (Meets(area, BodyBox())) {
        DrawBody(canvas);
    }
    const Rect band = {0, geometry_.bandTop, geometry_.window.width,
                       geometry_.window.height - geometry_.bandTop};
    if (Meets(area, band)) {
        FillRect(canvas, band.x, band.y, band.width, band.height, kBandColour);
        for (int i = 0; i < buttonCount_; ++i) {
            DrawButton(canvas, i);
        }
    }
}

} // namespace kvz::platform
