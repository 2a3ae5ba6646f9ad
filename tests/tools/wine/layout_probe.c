/* layout_probe.exe: how a dialog or message box of a running program is laid out (test helper,
 * Windows console). The DPI tests under Wine use it to show that nothing is clipped.
 *
 *     layout_probe.exe TITLE dialog|box
 *
 * finds the visible top-level dialog window (class #32770) with exactly that title and prints:
 *
 *     window dpi=D client=W,H base=X,Y height=H source=SOURCE face=FACE
 *     control id=N class=C rect=L,T,R,B need=W,H visible=V text=TEXT
 *
 * dpi is the window's own DPI (GetDpiForWindow; 0 where the system lacks it). client is the
 * window's client area and rect each child's rectangle in it, in pixels. height and face are
 * the font the texts were measured with: the window's own (SOURCE "handle") when its handle can
 * be read from here, otherwise what the system gives such a window (SOURCE "dialog": the
 * template's font at the window's DPI; "box": the message font at that DPI). FACE and TEXT run
 * to the end of the line. base is that font's dialog base units, so a caller can
 * check that the window's size agrees with the font. need is the room a control's text takes:
 * one line for a button, the text wrapped at the control's width for a static; 0,0 without text
 * or for an icon. Exit 0 when the window was found, 1 when not, 2 on a usage error.
 *
 * The probe makes itself per-monitor DPI aware first, so that it reads pixels, not coordinates
 * scaled for a DPI-unaware program.
 */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

#define DIALOG_CLASS L"#32770"
#define TEXT_CAPACITY 2048 /* the usage box's text is longer than 512 characters */
#define CLASS_CAPACITY 64
#define TEMPLATE_FACE L"MS Shell Dlg"
#define TEMPLATE_POINTS 9
#define POINTS_PER_INCH 72
#define DEFAULT_DPI 96
#define ALPHABET L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
#define ALPHABET_LETTERS 52

static const int kExitOk = 0;
static const int kExitMissing = 1;
static const int kExitUsage = 2;

typedef BOOL(WINAPI* SetAwarenessContextFunction)(HANDLE);
typedef UINT(WINAPI* DpiForWindowFunction)(HWND);
typedef BOOL(WINAPI* ParametersForDpiFunction)(UINT, UINT, PVOID, UINT, UINT);

/* DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, which older SDK headers lack. */
static const HANDLE kPerMonitorAwareV2 = (HANDLE)(LONG_PTR)-4;

static FARPROC user32_function(const char* name) {
    return GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
}

static void become_dpi_aware(void) {
    SetAwarenessContextFunction set = (SetAwarenessContextFunction)(void (*)(void))user32_function(
        "SetProcessDpiAwarenessContext");
    if (set != NULL) {
        set(kPerMonitorAwareV2);
    }
}

static UINT window_dpi(HWND window) {
    DpiForWindowFunction get =
        (DpiForWindowFunction)(void (*)(void))user32_function("GetDpiForWindow");
    return get != NULL ? get(window) : 0;
}

typedef struct {
    const wchar_t* title;
    HWND found;
} Search;

static BOOL CALLBACK match_window(HWND window, LPARAM data) {
    Search* search = (Search*)data;
    wchar_t text[TEXT_CAPACITY];
    wchar_t class_name[CLASS_CAPACITY];
    if (!IsWindowVisible(window) || !GetClassNameW(window, class_name, CLASS_CAPACITY) ||
        wcscmp(class_name, DIALOG_CLASS) != 0) {
        return TRUE;
    }
    GetWindowTextW(window, text, TEXT_CAPACITY);
    if (wcscmp(text, search->title) != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

/* The font the window's texts are drawn with, and where it came from. */
static const char* window_font(HWND window, int is_box, UINT dpi, LOGFONTW* font) {
    HFONT handle = (HFONT)SendMessageW(window, WM_GETFONT, 0, 0);
    if (handle != NULL && GetObjectW(handle, sizeof *font, font) == sizeof *font) {
        return "handle";
    }
    ZeroMemory(font, sizeof *font);
    if (is_box) {
        NONCLIENTMETRICSW metrics;
        ParametersForDpiFunction for_dpi =
            (ParametersForDpiFunction)(void (*)(void))user32_function("SystemParametersInfoForDpi");
        metrics.cbSize = sizeof metrics;
        if ((for_dpi != NULL &&
             for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) ||
            SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            *font = metrics.lfMessageFont;
        }
        return "box";
    }
    font->lfHeight = -MulDiv(TEMPLATE_POINTS, (int)dpi, POINTS_PER_INCH);
    font->lfWeight = FW_NORMAL;
    wcscpy(font->lfFaceName, TEMPLATE_FACE);
    return "dialog";
}

/* The dialog base units of the font: average letter width and line height, in pixels. */
static void base_units(HDC dc, SIZE* base) {
    TEXTMETRICW metrics;
    SIZE letters;
    GetTextMetricsW(dc, &metrics);
    GetTextExtentPoint32W(dc, ALPHABET, ALPHABET_LETTERS, &letters);
    base->cx = (letters.cx / (ALPHABET_LETTERS / 2) + 1) / 2;
    base->cy = metrics.tmHeight;
}

static void print_wide(const wchar_t* text) {
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'\n') {
            fputs("\\n", stdout);
        } else if (*p == L'\r') {
            fputs("\\r", stdout);
        } else if (*p < 0x80) {
            putchar((char)*p);
        } else {
            putchar('?');
        }
    }
}

/* The room TEXT takes in a control of the given class and width. */
static SIZE text_need(HDC dc, const wchar_t* class_name, LONG style, const wchar_t* text,
                      int width) {
    SIZE need = {0, 0};
    RECT room = {0, 0, width, 0};
    if (text[0] == L'\0') {
        return need;
    }
    if (_wcsicmp(class_name, L"Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            return need;
        }
        DrawTextW(dc, text, -1, &room, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    } else {
        DrawTextW(dc, text, -1, &room, DT_CALCRECT | DT_SINGLELINE);
    }
    need.cx = room.right - room.left;
    need.cy = room.bottom - room.top;
    return need;
}

static void print_control(HWND window, HWND control, HDC dc) {
    wchar_t class_name[CLASS_CAPACITY];
    wchar_t text[TEXT_CAPACITY];
    RECT rect;
    GetClassNameW(control, class_name, CLASS_CAPACITY);
    GetWindowTextW(control, text, TEXT_CAPACITY);
    GetWindowRect(control, &rect);
    MapWindowPoints(NULL, window, (POINT*)&rect, 2);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const SIZE need = text_need(dc, class_name, style, text, rect.right - rect.left);
    printf("control id=%d class=", GetDlgCtrlID(control));
    print_wide(class_name);
    printf(" rect=%ld,%ld,%ld,%ld need=%ld,%ld visible=%d text=", rect.left, rect.top, rect.right,
           rect.bottom, need.cx, need.cy, IsWindowVisible(control) ? 1 : 0);
    print_wide(text);
    putchar('\n');
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || (wcscmp(argv[2], L"dialog") != 0 && wcscmp(argv[2], L"box") != 0)) {
        fputs("usage: layout_probe.exe TITLE dialog|box\n", stderr);
        return kExitUsage;
    }
    become_dpi_aware();
    Search search = {argv[1], NULL};
    EnumWindows(match_window, (LPARAM)&search);
    if (search.found == NULL) {
        puts("missing");
        return kExitMissing;
    }
    const UINT dpi = window_dpi(search.found);
    LOGFONTW logical;
    const char* source = window_font(search.found, wcscmp(argv[2], L"box") == 0,
                                     dpi != 0 ? dpi : DEFAULT_DPI, &logical);
    HDC dc = GetDC(NULL);
    HFONT font = CreateFontIndirectW(&logical);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE base;
    base_units(dc, &base);
    RECT client;
    GetClientRect(search.found, &client);
    printf("window dpi=%u client=%ld,%ld base=%ld,%ld height=%ld source=%s face=", dpi,
           client.right, client.bottom, base.cx, base.cy, logical.lfHeight, source);
    print_wide(logical.lfFaceName);
    putchar('\n');
    for (HWND control = GetWindow(search.found, GW_CHILD); control != NULL;
         control = GetWindow(control, GW_HWNDNEXT)) {
        print_control(search.found, control, dc);
    }
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(NULL, dc);
    fflush(stdout);
    return kExitOk;
}
