// The desktop dialog's cost, each beside its baseline:
//   scene/{prepare,draw}/<scale>   a box of the sample text laid out (fonts opened, text
//                                  wrapped and measured) and drawn whole into a canvas, at
//                                  scale 1 and 2; baseline: scene/fill/<scale>, one colour
//                                  filled over the same canvas
//   x11/call_to_drawn/{baseline,canvas}
//                                  from the call of _WarnFinal to the box on the X server
//                                  with its text and focus ring drawn (read back from the
//                                  server), then closed as its window manager would; the
//                                  module given by KVZ_BENCH_BASELINE_MODULE (an earlier
//                                  build) against this build's. Run only with DISPLAY set
//                                  (an Xvfb of its own, say) and the baseline named.
#include "KVZDebugLib/KVZDebugLib.h"
#include "KVZDebugLib/platform/dialog/DialogScene.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <dlfcn.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <vector>

namespace {

using kvz::platform::Canvas;
using kvz::platform::DialogScene;
using kvz::platform::kScaleUnit;

const char16_t kSample[] =
    u"render/Mesh.cpp, line 217 : Vertex buffer overflow: 65,536 vertices requested, 49,152 "
    u"available.\nMesh \u201CD\u00FCrer fa\u00E7ade\u201D \u2014 \u03A9\u03BC\u03AD\u03B3\u03B1, "
    u"\u041F\u0440\u0438\u0432\u0435\u0442, 5 \u00D7 10\u207B\u00B3 m\u00B2.\nThe renderer keeps "
    u"drawing, but the mesh is cut short and parts of it will be missing from the scene until "
    u"it is reloaded with a smaller level of detail.\n Press OK to continue or CANCEL to report "
    u"this error.";

const KVZChar *Text(const char16_t *text) {
    return reinterpret_cast<const KVZChar *>(text);
}

bool PrepareSample(DialogScene &scene, int scale) {
    const kvz::platform::SceneSetup setup = {96, scale, {0, 0, 1920 * 4, 1080 * 4}, false};
    return scene.Prepare(Text(kSample), Text(u"Assertion Failure"), kvz::platform::BoxOkCancel,
                         setup);
}

void ScenePrepare(benchmark::State &state) {
    const int scale = static_cast<int>(state.range(0));
    DialogScene scene;
    for (auto _ : state) {
        if (!PrepareSample(scene, scale)) {
            state.SkipWithError("no fonts");
            return;
        }
        benchmark::DoNotOptimize(scene.Geometry());
    }
}

// The canvas of the sample box at the scale, and the pixels under it.
struct SampleCanvas {
    DialogScene scene;
    std::vector<uint32_t> pixels;
    Canvas canvas{};
    explicit SampleCanvas(int scale) {
        if (PrepareSample(scene, scale)) {
            const auto &box = scene.Geometry().window;
            pixels.assign(static_cast<size_t>(box.width) * box.height, 0);
            canvas = Canvas{pixels.data(), box.width, box.height, box.width, scale};
        }
    }
};

void SceneDraw(benchmark::State &state) {
    SampleCanvas sample(static_cast<int>(state.range(0)));
    if (sample.pixels.empty()) {
        state.SkipWithError("no fonts");
        return;
    }
    for (auto _ : state) {
        sample.scene.Draw(sample.canvas);
        benchmark::DoNotOptimize(sample.pixels.data());
    }
}

void SceneFill(benchmark::State &state) {
    SampleCanvas sample(static_cast<int>(state.range(0)));
    Canvas &canvas = sample.canvas;
    for (auto _ : state) {
        kvz::platform::FillRect(canvas, 0, 0, canvas.width, canvas.height, 0xFFF2F2F2);
        benchmark::DoNotOptimize(sample.pixels.data());
    }
}

BENCHMARK(ScenePrepare)->Name("scene/prepare")->Arg(kScaleUnit)->Arg(2 * kScaleUnit);
BENCHMARK(SceneDraw)->Name("scene/draw")->Arg(kScaleUnit)->Arg(2 * kScaleUnit);
BENCHMARK(SceneFill)->Name("scene/fill")->Arg(kScaleUnit)->Arg(2 * kScaleUnit);

// --- On an X server ---

using WarnFinal = int32_t(KVZ_CDECL *)(const KVZChar *, ...);

struct Watcher {
    Display *display = nullptr;
    Atom protocols = 0, deleteWindow = 0;
};

void *CallPrompt(void *function) {
    reinterpret_cast<WarnFinal>(function)(Text(u"Vertex buffer overflow: 65,536 vertices "
                                               u"requested, 49,152 available."));
    return nullptr;
}

// The box's top window once mapped (its MapNotify on the root), or 0 after 10 s.
Window MappedBox(Watcher &watch) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(watch.display) > 0) {
            XEvent event;
            XNextEvent(watch.display, &event);
            if (event.type == MapNotify && event.xmap.event == DefaultRootWindow(watch.display)) {
                return event.xmap.window;
            }
        }
        usleep(200);
    }
    return 0;
}

// Whether the box shows its text (a near-black pixel) and the focus ring (#265EC0).
bool Drawn(Display *display, Window box) {
    XWindowAttributes at = {};
    if (XGetWindowAttributes(display, box, &at) == 0 || at.map_state != IsViewable) {
        return false;
    }
    XImage *image = XGetImage(display, box, 0, 0, static_cast<unsigned>(at.width),
                              static_cast<unsigned>(at.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    bool text = false, ring = false;
    for (int y = 0; y < at.height && !(text && ring); ++y) {
        for (int x = 0; x < at.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
            text = text || ((pixel >> 16) < 0x40 && ((pixel >> 8) & 0xFF) < 0x40);
            ring = ring || pixel == 0x265EC0;
        }
    }
    XDestroyImage(image);
    return text && ring;
}

void CloseBox(Watcher &watch, Window box) {
    XEvent message = {};
    message.xclient.type = ClientMessage;
    message.xclient.window = box;
    message.xclient.message_type = watch.protocols;
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(watch.deleteWindow);
    XSendEvent(watch.display, box, False, NoEventMask, &message);
    XFlush(watch.display);
}

// Calls the prompt on a thread, waits for the box to be drawn, closes it and waits for the
// call to return. Returns the seconds from the call to the box drawn, or -1 for no box.
double ShowOnce(Watcher &watch, void *function) {
    const auto start = std::chrono::steady_clock::now();
    pthread_t thread;
    pthread_create(&thread, nullptr, CallPrompt, function);
    const Window box = MappedBox(watch);
    const auto deadline = start + std::chrono::seconds(10);
    while (box != 0 && !Drawn(watch.display, box) && std::chrono::steady_clock::now() < deadline) {
        usleep(200);
    }
    const auto drawn = std::chrono::steady_clock::now();
    if (box != 0) {
        CloseBox(watch, box);
    }
    pthread_join(thread, nullptr);
    return box != 0 && drawn < deadline ? std::chrono::duration<double>(drawn - start).count() : -1;
}

void CallToDrawn(benchmark::State &state, const char *variable) {
    const char *module = getenv(variable);
    if (getenv("DISPLAY") == nullptr || module == nullptr || module[0] == 0) {
        state.SkipWithError("needs DISPLAY and KVZ_BENCH_BASELINE_MODULE");
        return;
    }
    void *library = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    void *function = library != nullptr ? dlsym(library, "_WarnFinal") : nullptr;
    Watcher watch;
    watch.display = function != nullptr ? XOpenDisplay(nullptr) : nullptr;
    if (watch.display == nullptr) {
        state.SkipWithError("cannot load the module or open the display");
        return;
    }
    watch.protocols = XInternAtom(watch.display, "WM_PROTOCOLS", False);
    watch.deleteWindow = XInternAtom(watch.display, "WM_DELETE_WINDOW", False);
    XSelectInput(watch.display, DefaultRootWindow(watch.display), SubstructureNotifyMask);
    XSync(watch.display, False);
    // Once untimed: the first box in the process loads the libraries and fontconfig's
    // configuration, which every later one shares.
    if (ShowOnce(watch, function) < 0) {
        state.SkipWithError("no box came up");
    }
    for (auto _ : state) {
        const double seconds = ShowOnce(watch, function);
        if (seconds < 0) {
            state.SkipWithError("no box came up");
            break;
        }
        state.SetIterationTime(seconds);
    }
    XCloseDisplay(watch.display);
}

void CallToDrawnBaseline(benchmark::State &state) {
    CallToDrawn(state, "KVZ_BENCH_BASELINE_MODULE");
}

void CallToDrawnCanvas(benchmark::State &state) {
    setenv("KVZ_BENCH_MODULE", KVZ_BENCH_MODULE, 0);
    CallToDrawn(state, "KVZ_BENCH_MODULE");
}

BENCHMARK(CallToDrawnBaseline)
    ->Name("x11/call_to_drawn/baseline")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CallToDrawnCanvas)
    ->Name("x11/call_to_drawn/canvas")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
