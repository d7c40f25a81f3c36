// The box's text and layout, and what its keys and pointer do (DialogSceneDraw.cpp draws it).
#include "KVZDebugLib/platform/dialog/DialogScene.h"

#include "KVZDebugLib/platform/dialog/ShownText.h"
#include "KVZDebugLib/text/TextConstants.h"

namespace kvz::platform {

namespace {

// How long a box waits for its turn at fontconfig (another box's first call may be
// reading the configuration) before it gives way to the next kind of box.
constexpr int kFontconfigWaitMs = 3000;

// The text as code points, a surrogate pair as one. With `lines`, line feeds are kept, a
// carriage return (alone or before a line feed) also ends a line and a tab is a space; other
// characters follow ShownCharacter, the rule the terminal prompt follows too.
int CodesOf(const KVZChar *text, size_t limit, bool lines, uint32_t *codes) {
    int count = 0;
    for (size_t i = 0; i < limit && text[i] != 0; ++i) {
        uint32_t code = static_cast<uint16_t>(text[i]);
        const uint32_t next = i + 1 < limit ? static_cast<uint16_t>(text[i + 1]) : 0;
        if (IsHighSurrogate(code) && IsLowSurrogate(next)) {
            ++i;
            code = CombineSurrogates(code, next);
        } else if (lines && code == '\r') {
            if (next == '\n') {
                continue;
            }
            code = '\n';
        } else if (lines && code == '\t') {
            code = ' ';
        } else {
            code = ShownCharacter(code);
        }
        codes[count++] = code;
    }
    return count;
}

int MeasureWith(void *text, uint32_t code) {
    return static_cast<CanvasText *>(text)->Width(code);
}

bool Inside(const Rect &box, int x, int y) {
    return x >= box.x && y >= box.y && x - box.x < box.width && y - box.y < box.height;
}

} // namespace

bool DialogScene::Prepare(const KVZChar *text, const KVZChar *caption, BoxButtons buttons,
                          const SceneSetup &setup) {
    static const KVZChar kEmpty[] = {0};
    dpi_ = setup.dpi;
    scale_ = setup.scale > 0 ? setup.scale : kScaleUnit;
    workArea_ = setup.workArea;
    ownsCaption_ = setup.ownsCaption;
    codeCount_ = CodesOf(text != nullptr ? text : kEmpty, kMaxTextUnits, true, codes_);
    captionCount_ =
        CodesOf(caption != nullptr ? caption : kEmpty, kMaxCaptionUnits, false, caption_);
    captionBase_ = ParagraphLevels(caption_, captionCount_, true, captionLevels_);
    buttonCount_ = 0;
    labels_[buttonCount_] = "OK";
    answers_[buttonCount_++] = kBoxOk;
    if (buttons == BoxOkCancel) {
        labels_[buttonCount_] = "Cancel";
        answers_[buttonCount_++] = kBoxCancel;
    }
    closedAnswer_ = buttons == BoxOkCancel ? kBoxCancel : kBoxOk;
    focused_ = 0;
    held_ = kNone;
    heldKey_ = 0;
    firstLine_ = 0;
    if (!OpenText()) {
        return false;
    }
    LayOut();
    return true;
}

bool DialogScene::Rescale(int scale) {
    if (scale <= 0) {
        return false;
    }
    scale_ = scale;
    held_ = kNone;
    if (!OpenText()) {
        return false;
    }
    LayOut();
    return true;
}

// The fonts at the scale. fontconfig's first use in the process reads its configuration,
// which boxes on other threads then share: they take turns for it.
bool DialogScene::OpenText() {
    if (!LockFontconfigWithin(kFontconfigWaitMs)) {
        return false;
    }
    const bool opened = text_.Open(TextPixelSize(dpi_, scale_));
    UnlockFontconfig();
    return opened;
}

// Each paragraph's embedding levels, and each line's paragraph's base level.
void DialogScene::ResolveLevels() {
    int line = 0;
    for (int start = 0; start <= codeCount_;) {
        int end = start;
        while (end < codeCount_ && codes_[end] != '\n') {
            ++end;
        }
        const uint8_t base = ParagraphLevels(codes_ + start, end - start, true, levels_ + start);
        while (line < lineCount_ && lines_[line].start <= end) {
            lineBase_[line++] = base;
        }
        start = end + 1;
    }
}

// The text wrapped to the font's widths, and the box and its buttons placed around it; a
// caption band, where the box draws its own, goes above all of it.
void DialogScene::LayOut() {
    const int fontHeight = text_.Ascent() + text_.Descent();
    space_ = SpacingFor(fontHeight);
    lineHeight_ = fontHeight + fontHeight / 5;
    captionHeight_ = ownsCaption_ ? 2 * fontHeight : 0;
    LayoutInput in = {};
    in.space = space_;
    in.fontHeight = fontHeight;
    in.lineHeight = lineHeight_;
    in.screenLeft = workArea_.x;
    in.screenTop = workArea_.y;
    in.screenWidth = workArea_.width;
    in.screenHeight = workArea_.height - captionHeight_;
    const Measure measure = {MeasureWith, &text_};
    WrapText(codes_, codeCount_, measure, WrapLimit(space_, text_.Width('0'), in.screenWidth),
             lines_, &lineCount_);
    in.lineCount = lineCount_;
    ResolveLevels();
    // Lines are as wide as they are drawn (shaped, or reordered), not as their characters
    // add up.
    in.textWidth = 0;
    for (int i = 0; i < lineCount_; ++i) {
        lineWidths_[i] = DrawCodes(nullptr, codes_, levels_, lines_[i].start, lines_[i].count,
                                   lineBase_[i], 0, 0);
        in.textWidth = lineWidths_[i] > in.textWidth ? lineWidths_[i] : in.textWidth;
    }
    for (int i = 0; i < buttonCount_; ++i) {
        for (const char *c = labels_[i]; *c != 0; ++c) {
            in.labelWidths[i] += text_.Width(static_cast<unsigned char>(*c));
        }
    }
    in.buttonCount = buttonCount_;
    body_ = PlaceDialog(in);
    geometry_ = body_;
    geometry_.window.height += captionHeight_;
    geometry_.bandTop += captionHeight_;
    for (int i = 0; i < buttonCount_; ++i) {
        geometry_.buttons[i].y += captionHeight_;
    }
    const int last = lineCount_ - geometry_.shownLines;
    firstLine_ = firstLine_ < last ? firstLine_ : last;
}

Rect DialogScene::CloseBox() const {
    if (captionHeight_ == 0) {
        return Rect{0, 0, 0, 0};
    }
    return Rect{geometry_.window.width - captionHeight_, 0, captionHeight_, captionHeight_};
}

Rect DialogScene::BodyBox() const {
    return Rect{0, captionHeight_, geometry_.window.width, geometry_.bandTop - captionHeight_};
}

Rect DialogScene::HeldBox(int held) const {
    return held == kClose ? CloseBox() : geometry_.buttons[held];
}

// The button or control at the point, or kNone.
int DialogScene::HitAt(int x, int y) const {
    for (int i = 0; i < buttonCount_; ++i) {
        if (Inside(geometry_.buttons[i], x, y)) {
            return i;
        }
    }
    return Inside(CloseBox(), x, y) ? kClose : kNone;
}

// Moves the focus, scrolls or asks for a copy.
SceneResponse DialogScene::Act(KeyAction action, bool wheel) {
    SceneResponse response = {};
    if (action == KeyAction::Copy) {
        response.copy = true;
        return response;
    }
    const int focused = FocusAfter(action, focused_, buttonCount_);
    if (focused != focused_) {
        const Rect before = geometry_.buttons[focused_], after = geometry_.buttons[focused];
        focused_ = focused;
        const int left = before.x < after.x ? before.x : after.x;
        const int right = before.x + before.width > after.x + after.width ? before.x + before.width
                                                                          : after.x + after.width;
        response.redraw = true;
        response.changed = Rect{left, before.y, right - left, before.height};
        return response;
    }
    const int first = FirstLineAfter(action, wheel, firstLine_, geometry_.shownLines, lineCount_);
    if (first != firstLine_) {
        firstLine_ = first;
        response.redraw = true;
        response.changed = BodyBox();
    }
    return response;
}

// A key held down when the box came up (Enter, say, still held from what the person was
// doing) answers nothing: only a press in the box counts. Moving and scrolling act as the
// key goes down, and repeat.
SceneResponse DialogScene::Key(const KeyInput &key) {
    const KeyAction action = ActionForKey(key.keysym, key.modifiers, Scrolls());
    SceneResponse response = {};
    if (key.press) {
        heldKey_ = key.keycode;
        return ActsOnRelease(action) ? response : Act(action, false);
    }
    if (key.keycode != heldKey_) {
        return response;
    }
    heldKey_ = 0;
    if (action == KeyAction::Press) {
        response.answer = answers_[focused_];
    } else if (action == KeyAction::Close) {
        response.answer = closedAnswer_;
    }
    return response;
}

// A button (or the close control) answers when the primary button is let go over it,
// having been pressed on it; dragging off a held button lets it up, coming back presses it
// again. A press elsewhere on the caption band moves the box.
SceneResponse DialogScene::Pointer(const PointerInput &pointer) {
    SceneResponse response = {};
    switch (pointer.kind) {
    case PointerKind::WheelUp:
    case PointerKind::WheelDown:
        return Scrolls() ? Act(pointer.kind == PointerKind::WheelUp ? KeyAction::LineUp
                                                                    : KeyAction::LineDown,
                               true)
                         : response;
    case PointerKind::Press:
        if (held_ == kNone) {
            held_ = HitAt(pointer.x, pointer.y);
            heldInside_ = held_ != kNone;
            response.move = held_ == kNone && pointer.y >= 0 && pointer.y < captionHeight_;
            response.redraw = held_ != kNone;
        }
        break;
    case PointerKind::Release:
        if (held_ != kNone) {
            const int released = held_;
            held_ = kNone;
            if (Inside(HeldBox(released), pointer.x, pointer.y)) {
                response.answer = released == kClose ? closedAnswer_ : answers_[released];
                return response;
            }
            response.redraw = true;
            response.changed = HeldBox(released);
            return response;
        }
        break;
    case PointerKind::Motion:
    case PointerKind::Leave:
        if (held_ != kNone) {
            const bool inside =
                pointer.kind == PointerKind::Motion && Inside(HeldBox(held_), pointer.x, pointer.y);
            response.redraw = inside != heldInside_;
            heldInside_ = inside;
        }
        break;
    }
    if (response.redraw) {
        response.changed = HeldBox(held_);
    }
    return response;
}

size_t DialogScene::CopyText(char *out, size_t capacity) const {
    const BoxContent box = {caption_, captionCount_, codes_, codeCount_, labels_, buttonCount_};
    return BoxAsText(box, out, capacity);
}

} // namespace kvz::platform
