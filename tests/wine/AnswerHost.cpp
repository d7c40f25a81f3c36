// Finds a message box of another program by its caption and answers it, as a person at
// the screen would; used for the demo host, which has no automation of its own.
//
//   kvz_wine_answer <caption> find     wait for the box; print "left top width height"
//   kvz_wine_answer <caption> ok       wait for the box, print its text, press OK
#include "BoxWatcher.h"

#include <string.h>

int main(int argc, char **argv) {
    if (argc != 3 || (strcmp(argv[2], "find") != 0 && strcmp(argv[2], "ok") != 0)) {
        fprintf(stderr, "usage: %s <caption> find|ok\n", argv[0]);
        return 2;
    }
    wchar_t caption[256];
    MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, caption, 256);
    caption[255] = 0;

    const ULONGLONG deadline = GetTickCount64() + 30000;
    HWND box = nullptr;
    wine_test::SeenBox seen;
    while (GetTickCount64() < deadline) {
        box = FindWindowW(L"#32770", caption);
        if (box != nullptr && IsWindowVisible(box)) {
            seen = wine_test::ReadBox(box);
            if (!seen.text.empty() && !seen.buttons.empty()) {
                break;
            }
        }
        box = nullptr;
        Sleep(50);
    }
    if (box == nullptr) {
        fprintf(stderr, "no box captioned \"%s\" appeared\n", argv[1]);
        return 1;
    }
    if (strcmp(argv[2], "find") == 0) {
        Sleep(300); // let it finish drawing
        RECT rect;
        GetWindowRect(box, &rect);
        printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top);
        return 0;
    }
    printf("box \"%s\", buttons %s: \"%s\"\n", wine_test::Show(seen.caption).c_str(),
           wine_test::Show(seen.ButtonNames()).c_str(), wine_test::Show(seen.text).c_str());
    if (!wine_test::AnswerBox(box, wine_test::BoxAnswer::Ok)) {
        return 1;
    }
    while (GetTickCount64() < deadline) {
        if (!IsWindow(box) || !IsWindowVisible(box)) {
            return 0;
        }
        Sleep(20);
    }
    fprintf(stderr, "the box did not go away\n");
    return 1;
}
