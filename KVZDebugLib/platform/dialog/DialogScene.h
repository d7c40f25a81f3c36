// One box as every desktop shows it, without a window system: its text laid out, its
// state (focus, the button held down, the first line shown, the key held) and how it
// answers keys and the pointer, drawn whole into a canvas. A box's presenter (X11,
// Wayland) makes the window, puts the canvas's pixels in it and feeds the scene its input.
//
// Everything is in canvas pixels with the box's top left at 0,0. Nothing is allocated here
// beyond what the loaded libraries allocate; a scene is used by one thread.
#pragma once

#include "KVZDebugLib/platform/Platform.h"
#include "KVZDebugLib/platform/dialog/Canvas.h"
#include "KVZDebugLib/platform/dialog/CanvasText.h"
#include "KVZDebugLib/platform/dialog/DialogBidi.h"
#include "KVZDebugLib/platform/dialog/DialogCopy.h"
#include "KVZDebugLib/platform/dialog/DialogInput.h"
#include "KVZDebugLib/platform/dialog/DialogLayout.h"

#include <stddef.h>
#include <stdint.h>

namespace kvz::platform {

// The text a box shows is at most this many units; more is cut.
constexpr size_t kMaxTextUnits = 1023;
constexpr size_t kMaxCaptionUnits = 255;

// The box's colours.
constexpr uint32_t kBodyColour = Opaque(0xF2, 0xF2, 0xF2);
constexpr uint32_t kBandColour = Opaque(0xE0, 0xE0, 0xE0);
constexpr uint32_t kTextColour = Opaque(0x1A, 0x1A, 0x1A);
constexpr uint32_t kFaceColour = Opaque(0xFC, 0xFC, 0xFC);
constexpr uint32_t kPressedFaceColour = Opaque(0xC8, 0xD4, 0xE8);
constexpr uint32_t kBorderColour = Opaque(0x8C, 0x8C, 0x8C);
constexpr uint32_t kFocusColour = Opaque(0x26, 0x5E, 0xC0);

struct SceneSetup {
    int dpi;          // text size: 10 points at this resolution
    int scale;        // kScaleUnit units (120 = 1); every length scales with it
    Rect workArea;    // where the box may go, in canvas pixels
    bool ownsCaption; // a caption band at the top, with the caption and a close control
};

struct KeyInput {
    uint32_t keysym;    // as X and xkbcommon both number them, unshifted
    unsigned modifiers; // kShiftBit, kControlBit
    uint32_t keycode;   // pairs a release with its press
    bool press;
};

enum class PointerKind { Motion, Press, Release, WheelUp, WheelDown, Leave };

// Press and Release are the primary button's.
struct PointerInput {
    PointerKind kind;
    int x, y;
};

struct SceneResponse {
    int32_t answer; // kBoxOk, kBoxCancel, the closed answer, or 0 for none yet
    bool redraw;    // the pixels in `changed` are to be drawn and presented again
    Rect changed;
    bool copy; // Ctrl+C: the presenter puts CopyText() on its clipboard
    bool move; // a press on the caption band: the presenter starts a window move
};

class DialogScene {
  public:
    DialogScene() = default;
    DialogScene(const DialogScene &) = delete;
    DialogScene &operator=(const DialogScene &) = delete;

    // Fonts opened, text converted and laid out. False when the text cannot be drawn
    // (fontconfig or FreeType missing, no font): the presenter gives way to the next box.
    bool Prepare(const KVZChar *text, const KVZChar *caption, BoxButtons buttons,
                 const SceneSetup &setup);
    // Lays out again at a new scale, keeping the focus and the first line shown.
    bool Rescale(int scale);
    int Scale() const { return scale_; }
    // The box's size (and, within the work area, its place) in canvas pixels.
    const DialogGeometry &Geometry() const { return geometry_; }
    // The caption band's height, 0 without one.
    int CaptionHeight() const { return captionHeight_; }
    // The close control's box in the caption band (empty without one).
    Rect CloseBox() const;
    // Draws what of the box meets `area` (the whole box by default): each part that meets
    // it is drawn whole.
    void Draw(const Canvas &canvas) const;
    void Draw(const Canvas &target, const Rect &area) const;

    SceneResponse Key(const KeyInput &key);
    SceneResponse Pointer(const PointerInput &pointer);
    // The answer closing the box gives: Cancel where there is one, else OK.
    int32_t ClosedAnswer() const { return closedAnswer_; }
    // The box as Ctrl+C copies it (BoxAsText) into out[capacity]; returns its bytes.
    size_t CopyText(char *out, size_t capacity) const;

    int ButtonCount() const { return buttonCount_; }
    Rect ButtonBox(int i) const { return geometry_.buttons[i]; }
    const char *ButtonLabel(int i) const { return labels_[i]; }
    int32_t ButtonAnswer(int i) const { return answers_[i]; }
    int Focused() const { return focused_; }
    int FirstLine() const { return firstLine_; }
    int LineCount() const { return lineCount_; }

  private:
    // The button or control a pointer press holds: none, a button's index, or the close
    // control.
    static constexpr int kNone = -1;
    static constexpr int kClose = 2;

    bool OpenText();
    void LayOut();
    void ResolveLevels();
    bool Scrolls() const { return geometry_.shownLines < lineCount_; }
    SceneResponse Act(KeyAction action, bool wheel);
    int HitAt(int x, int y) const;
    Rect HeldBox(int held) const;
    Rect BodyBox() const;

    // DialogSceneDraw.cpp.
    int DrawCodes(Canvas *canvas, const uint32_t *codes, const uint8_t *levels, int start,
                  int count, uint8_t base, int x, int baseline) const;
    void DrawBody(Canvas &canvas) const;
    void DrawButton(Canvas &canvas, int index) const;
    void DrawCaption(Canvas &canvas) const;

    mutable CanvasText text_; // drawing loads glyphs, which changes nothing the box shows
    int dpi_ = 96;
    int scale_ = kScaleUnit;
    Rect workArea_ = {};
    bool ownsCaption_ = false;
    int32_t closedAnswer_ = kBoxOk;

    uint32_t codes_[kMaxTextUnits] = {};
    int codeCount_ = 0;
    uint8_t levels_[kMaxTextUnits] = {};       // the codes' embedding levels
    TextLine lines_[kMaxTextUnits + 1] = {};   // the text wrapped
    uint8_t lineBase_[kMaxTextUnits + 1] = {}; // each line's paragraph's base level
    int lineCount_ = 0;
    int lineHeight_ = 0;
    int lineWidths_[kMaxTextUnits + 1] = {};
    uint32_t caption_[kMaxCaptionUnits] = {};
    uint8_t captionLevels_[kMaxCaptionUnits] = {};
    uint8_t captionBase_ = 0;
    int captionCount_ = 0;
    // Scratch for putting a line in the order it is drawn.
    mutable LevelRun runs_[kMaxTextUnits] = {};
    mutable uint16_t order_[kMaxTextUnits] = {};
    mutable uint32_t shown_[kMaxTextUnits] = {};

    Spacing space_ = {};
    DialogGeometry body_ = {};     // as laid out, without the caption band
    DialogGeometry geometry_ = {}; // with it
    int captionHeight_ = 0;

    const char *labels_[2] = {};
    int32_t answers_[2] = {};
    int buttonCount_ = 0;
    int focused_ = 0;  // the button Enter answers: OK, or where the keys moved it
    int held_ = kNone; // what a pointer press holds
    bool heldInside_ = false;
    uint32_t heldKey_ = 0; // a key pressed in the box, answered on its release
    int firstLine_ = 0;    // the first line shown, of a text that scrolls
};

} // namespace kvz::platform
