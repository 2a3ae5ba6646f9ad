/* window_driver.exe: finds the windows of a running program and works them as a user would (test
 * helper, Windows console). The window tests under Wine drive NorvaneFwUpdater.exe with it.
 *
 *     window_driver.exe COMMAND [ARGUMENTS...]  one command; its result line on standard output
 *     window_driver.exe serve                   commands from standard input, one per line
 *
 * Every command prints exactly one line, "ok ..." when it did what was asked, otherwise
 * "timeout ...", "missing ..." or "error ...". A single command returns 0 for "ok" and 1 for
 * anything else; "serve" answers each input line as it comes and returns 0 at the end of its
 * input. Arguments are separated by blanks; double quotes group words ("Norvane FW Updater").
 *
 * Windows are top-level, visible dialog windows (class #32770: message boxes and dialogs) with
 * exactly the given title. TIMEOUT is in milliseconds (default 10000).
 *
 *     list                          the visible top-level windows: "ok N: "title" class; ..."
 *     wait-window TITLE [TIMEOUT]   until such a window exists: "ok HWND"
 *     wait-gone TITLE [TIMEOUT]     until none exists: "ok"
 *     wait-text TITLE TEXT [TIMEOUT] until one shows TEXT as its static text: "ok"
 *     text TITLE                    its first non-empty static text: "ok TEXT"
 *     click TITLE BUTTON            BM_CLICK to the button with this id (6 is IDYES) or text
 *     close TITLE                   WM_CLOSE, as the close box sends it
 *     key TITLE escape|enter|alt-f4 the key pressed and released in the window
 *     sysclose TITLE                WM_SYSCOMMAND SC_CLOSE, as the system menu's Close sends it
 *     ping TITLE                    WM_NULL sent with SMTO_ABORTIFHUNG and a 100 ms limit, what
 *                                   Windows does to see whether a window responds: "ok" when
 *                                   the window answered in time, "busy" when it did not
 *     enabled TITLE ID              whether the control is enabled: "ok 1" or "ok 0"
 *     progress TITLE [ID]           the progress bar's position and upper limit: "ok POS/MAX"
 *                                   (ID defaults to 1001); "busy" when its thread does not answer
 *     rect TITLE                    the window's rectangle on the screen: "ok LEFT TOP RIGHT
 * BOTTOM"
 *     end-session TITLE             WM_ENDSESSION(TRUE) posted, as any program can post it, to
 *                                   every top-level window with this title, hidden ones and
 *                                   windows of any class too: "ok N", N windows
 *
 * In texts, a line feed is written as \n, a carriage return as \r and a backslash as \\.
 * Messages are posted, never sent and waited for: a button whose handler runs a modal loop (a
 * message box) must not keep the driver waiting.
 */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#define DEFAULT_TIMEOUT_MS 10000
#define POLL_INTERVAL_MS 50
#define ANSWER_TIMEOUT_MS 2000
#define PING_TIMEOUT_MS 100
#define ALT_DOWN_KEY_DATA 0x20000001 /* repeat count 1, context code: Alt held */
#define DEFAULT_PROGRESS_ID 1001
#define MAX_WORDS 8
#define LINE_CAPACITY 1024
#define TEXT_CAPACITY 1024
#define OUTPUT_CAPACITY 8192
#define CLASS_CAPACITY 64
#define DIALOG_CLASS L"#32770"
#define STATIC_CLASS L"Static"

static const int kExitOk = 0;
static const int kExitFailed = 1;
static const int kExitUsage = 2;

/* ---- output -------------------------------------------------------------------------------- */

static char g_output[OUTPUT_CAPACITY];

static void append_output(const char* text) {
    strncat(g_output, text, OUTPUT_CAPACITY - strlen(g_output) - 1);
}

/* Appends a wide text as UTF-8 with line feeds, carriage returns and backslashes escaped. */
static void append_escaped(const wchar_t* text) {
    char utf8[8];
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p == L'\n' || *p == L'\r' || *p == L'\\') {
            append_output(*p == L'\n' ? "\\n" : *p == L'\r' ? "\\r" : "\\\\");
            continue;
        }
        int length = WideCharToMultiByte(CP_UTF8, 0, p, 1, utf8, sizeof utf8 - 1, NULL, NULL);
        utf8[length > 0 ? length : 0] = '\0';
        append_output(utf8);
    }
}

static int finish(int ok, const char* word) {
    char line[OUTPUT_CAPACITY + 16];
    snprintf(line, sizeof line, "%s%s%s\n", word, g_output[0] ? " " : "", g_output);
    fputs(line, stdout);
    fflush(stdout);
    g_output[0] = '\0';
    return ok ? kExitOk : kExitFailed;
}

static int answer_ok(void) {
    return finish(1, "ok");
}

static int answer_failed(const char* word, const char* detail) {
    append_output(detail);
    return finish(0, word);
}

/* ---- windows ------------------------------------------------------------------------------- */

struct WindowSearch {
    const wchar_t* title;
    HWND found;
};

static int has_class(HWND window, const wchar_t* name) {
    wchar_t class_name[CLASS_CAPACITY] = L"";
    GetClassNameW(window, class_name, CLASS_CAPACITY);
    return _wcsicmp(class_name, name) == 0;
}

static BOOL CALLBACK match_window(HWND window, LPARAM data) {
    struct WindowSearch* search = (struct WindowSearch*)data;
    wchar_t title[TEXT_CAPACITY] = L"";
    if (!IsWindowVisible(window) || !has_class(window, DIALOG_CLASS)) {
        return TRUE;
    }
    GetWindowTextW(window, title, TEXT_CAPACITY);
    if (wcscmp(title, search->title) != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

static HWND find_window(const wchar_t* title) {
    struct WindowSearch search = {title, NULL};
    EnumWindows(match_window, (LPARAM)&search);
    return search.found;
}

struct TextSearch {
    wchar_t text[TEXT_CAPACITY];
};

static BOOL CALLBACK match_static(HWND child, LPARAM data) {
    struct TextSearch* search = (struct TextSearch*)data;
    if (!has_class(child, STATIC_CLASS)) {
        return TRUE;
    }
    GetWindowTextW(child, search->text, TEXT_CAPACITY);
    return search->text[0] == L'\0';
}

/* The first static control with a text: the message of a box, the notice of a dialog. */
static void box_text(HWND window, wchar_t* text) {
    struct TextSearch search;
    search.text[0] = L'\0';
    EnumChildWindows(window, match_static, (LPARAM)&search);
    wcscpy(text, search.text);
}

struct ButtonSearch {
    const wchar_t* text;
    HWND found;
};

static BOOL CALLBACK match_button(HWND child, LPARAM data) {
    struct ButtonSearch* search = (struct ButtonSearch*)data;
    wchar_t text[TEXT_CAPACITY] = L"";
    GetWindowTextW(child, text, TEXT_CAPACITY);
    if (!has_class(child, L"Button") || wcscmp(text, search->text) != 0) {
        return TRUE;
    }
    search->found = child;
    return FALSE;
}

/* A child by its id (all digits) or, for buttons, by its text. */
static HWND find_control(HWND window, const wchar_t* name) {
    wchar_t* end = NULL;
    long id = wcstol(name, &end, 10);
    if (name[0] != L'\0' && *end == L'\0') {
        return GetDlgItem(window, (int)id);
    }
    struct ButtonSearch search = {name, NULL};
    EnumChildWindows(window, match_button, (LPARAM)&search);
    return search.found;
}

static int parse_timeout(int count, wchar_t** words, int index) {
    return count > index ? _wtoi(words[index]) : DEFAULT_TIMEOUT_MS;
}

/* The window with the title, waited for up to TIMEOUT ms; NULL when it did not come. */
static HWND await_window(const wchar_t* title, int timeout) {
    DWORD started = GetTickCount();
    for (;;) {
        HWND window = find_window(title);
        if (window != NULL || (int)(GetTickCount() - started) >= timeout) {
            return window;
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

/* ---- commands ------------------------------------------------------------------------------ */

static BOOL CALLBACK list_window(HWND window, LPARAM data) {
    int* count = (int*)data;
    wchar_t title[TEXT_CAPACITY] = L"";
    wchar_t class_name[CLASS_CAPACITY] = L"";
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    GetWindowTextW(window, title, TEXT_CAPACITY);
    GetClassNameW(window, class_name, CLASS_CAPACITY);
    append_output(*count == 0 ? "" : "; ");
    append_output("\"");
    append_escaped(title);
    append_output("\" ");
    append_escaped(class_name);
    ++*count;
    return TRUE;
}

static int command_list(int word_count, wchar_t** words) {
    (void)word_count;
    (void)words;
    int count = 0;
    char head[32];
    EnumWindows(list_window, (LPARAM)&count);
    char rest[OUTPUT_CAPACITY];
    strcpy(rest, g_output);
    // EnumWindows counted through the pointer.
    // cppcheck-suppress knownConditionTrueFalse
    snprintf(head, sizeof head, "%d%s", count, count ? ": " : "");
    g_output[0] = '\0';
    append_output(head);
    append_output(rest);
    return answer_ok();
}

static int command_wait_window(int count, wchar_t** words) {
    HWND window = await_window(words[1], parse_timeout(count, words, 2));
    if (window == NULL) {
        return answer_failed("timeout", "no such window");
    }
    char handle[32];
    snprintf(handle, sizeof handle, "%p", (void*)window);
    append_output(handle);
    return answer_ok();
}

static int command_wait_gone(int count, wchar_t** words) {
    int timeout = parse_timeout(count, words, 2);
    DWORD started = GetTickCount();
    while (find_window(words[1]) != NULL) {
        if ((int)(GetTickCount() - started) >= timeout) {
            return answer_failed("timeout", "the window is still there");
        }
        Sleep(POLL_INTERVAL_MS);
    }
    return answer_ok();
}

static int command_wait_text(int count, wchar_t** words) {
    int timeout = parse_timeout(count, words, 3);
    DWORD started = GetTickCount();
    wchar_t text[TEXT_CAPACITY] = L"";
    for (;;) {
        HWND window = find_window(words[1]);
        text[0] = L'\0';
        if (window != NULL) {
            box_text(window, text);
            if (wcscmp(text, words[2]) == 0) {
                return answer_ok();
            }
        }
        if ((int)(GetTickCount() - started) >= timeout) {
            append_escaped(window == NULL ? L"no such window" : text);
            return finish(0, "timeout");
        }
        Sleep(POLL_INTERVAL_MS);
    }
}

static int command_text(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    wchar_t text[TEXT_CAPACITY] = L"";
    if (window == NULL) {
        return answer_failed("missing", "no such window");
    }
    box_text(window, text);
    append_escaped(text);
    return answer_ok();
}

static int command_click(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    HWND button = window == NULL ? NULL : find_control(window, words[2]);
    if (button == NULL) {
        return answer_failed("missing", window == NULL ? "no such window" : "no such button");
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    return answer_ok();
}

static int command_close(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    if (window == NULL) {
        return answer_failed("missing", "no such window");
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    return answer_ok();
}

static int command_key(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    WPARAM key = _wcsicmp(words[2], L"escape") == 0  ? VK_ESCAPE
                 : _wcsicmp(words[2], L"enter") == 0 ? VK_RETURN
                                                     : 0;
    if (key == 0 && _wcsicmp(words[2], L"alt-f4") != 0) {
        return answer_failed("error", "unknown key");
    }
    if (window == NULL) {
        return answer_failed("missing", "no such window");
    }
    if (key == 0) {
        /* Alt+F4: the window's default handling turns it into the system's Close. */
        PostMessageW(window, WM_SYSKEYDOWN, VK_F4, ALT_DOWN_KEY_DATA);
        PostMessageW(window, WM_SYSKEYUP, VK_F4, (LPARAM)0xE0000001);
        return answer_ok();
    }
    /* Posted to the dialog itself: its modal loop hands keys to IsDialogMessage, as it would
     * with the keyboard focus on any of its controls. */
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, (LPARAM)0xC0000001);
    return answer_ok();
}

static int command_sysclose(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    if (window == NULL) {
        return answer_failed("missing", "no such window");
    }
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return answer_ok();
}

static int command_ping(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    DWORD_PTR result = 0;
    if (window == NULL) {
        return answer_failed("missing", "no such window");
    }
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, PING_TIMEOUT_MS, &result)) {
        return answer_failed("busy", "no answer within 100 ms");
    }
    return answer_ok();
}

static int command_enabled(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    HWND control = window == NULL ? NULL : find_control(window, words[2]);
    if (control == NULL) {
        return answer_failed("missing", window == NULL ? "no such window" : "no such control");
    }
    append_output(IsWindowEnabled(control) ? "1" : "0");
    return answer_ok();
}

static int command_progress(int count, wchar_t** words) {
    HWND window = find_window(words[1]);
    int id = count > 2 ? _wtoi(words[2]) : DEFAULT_PROGRESS_ID;
    HWND bar = window == NULL ? NULL : GetDlgItem(window, id);
    DWORD_PTR position = 0;
    DWORD_PTR maximum = 0;
    if (bar == NULL) {
        return answer_failed("missing", window == NULL ? "no such window" : "no progress bar");
    }
    /* Sent with a time limit: the window's thread answers only while it handles messages. */
    if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, ANSWER_TIMEOUT_MS,
                             &position) ||
        !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, ANSWER_TIMEOUT_MS,
                             &maximum)) {
        return answer_failed("busy", "the window's thread does not answer");
    }
    char text[48];
    snprintf(text, sizeof text, "%d/%d", (int)position, (int)maximum);
    append_output(text);
    return answer_ok();
}

static int command_rect(int count, wchar_t** words) {
    (void)count;
    HWND window = find_window(words[1]);
    RECT rect;
    if (window == NULL || !GetWindowRect(window, &rect)) {
        return answer_failed("missing", "no such window");
    }
    char text[64];
    snprintf(text, sizeof text, "%ld %ld %ld %ld", rect.left, rect.top, rect.right, rect.bottom);
    append_output(text);
    return answer_ok();
}

struct PostSearch {
    const wchar_t* title;
    int posted;
};

static BOOL CALLBACK post_end_session(HWND window, LPARAM data) {
    struct PostSearch* search = (struct PostSearch*)data;
    wchar_t title[TEXT_CAPACITY] = L"";
    GetWindowTextW(window, title, TEXT_CAPACITY);
    if (wcscmp(title, search->title) == 0 && PostMessageW(window, WM_ENDSESSION, TRUE, 0)) {
        ++search->posted;
    }
    return TRUE;
}

static int command_end_session(int count, wchar_t** words) {
    (void)count;
    struct PostSearch search = {words[1], 0};
    EnumWindows(post_end_session, (LPARAM)&search);
    if (search.posted == 0) {
        return answer_failed("missing", "no such window");
    }
    char text[32];
    snprintf(text, sizeof text, "%d", search.posted);
    append_output(text);
    return answer_ok();
}

typedef int (*CommandFunction)(int count, wchar_t** words);

struct Command {
    const wchar_t* name;
    int min_words; /* the command's name included */
    CommandFunction run;
};

static const struct Command kCommands[] = {
    {L"list", 1, command_list},           {L"wait-window", 2, command_wait_window},
    {L"wait-gone", 2, command_wait_gone}, {L"wait-text", 3, command_wait_text},
    {L"text", 2, command_text},           {L"click", 3, command_click},
    {L"close", 2, command_close},         {L"key", 3, command_key},
    {L"enabled", 3, command_enabled},     {L"progress", 2, command_progress},
    {L"sysclose", 2, command_sysclose},   {L"ping", 2, command_ping},
    {L"rect", 2, command_rect},           {L"end-session", 2, command_end_session},
};

static int dispatch(int count, wchar_t** words) {
    size_t known = sizeof kCommands / sizeof kCommands[0];
    for (size_t i = 0; i < known; ++i) {
        if (wcscmp(kCommands[i].name, words[0]) != 0) {
            continue;
        }
        if (count < kCommands[i].min_words) {
            return answer_failed("error", "missing arguments");
        }
        return kCommands[i].run(count, words);
    }
    return answer_failed("error", "unknown command");
}

/* ---- input --------------------------------------------------------------------------------- */

/* Splits a line into words in place: blanks separate, double quotes group. */
static int split_words(wchar_t* line, wchar_t** words) {
    int count = 0;
    wchar_t* p = line;
    while (count < MAX_WORDS) {
        while (*p == L' ' || *p == L'\t') {
            ++p;
        }
        if (*p == L'\0') {
            break;
        }
        int quoted = *p == L'"';
        p += quoted;
        words[count++] = p;
        while (*p != L'\0' && (quoted ? *p != L'"' : (*p != L' ' && *p != L'\t'))) {
            ++p;
        }
        if (*p == L'\0') {
            break;
        }
        *p++ = L'\0';
    }
    return count;
}

static int run_line(wchar_t* line) {
    wchar_t* words[MAX_WORDS];
    int count = split_words(line, words);
    if (count == 0) {
        return answer_failed("error", "empty command");
    }
    return dispatch(count, words);
}

static void strip_line_end(char* line) {
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        line[--length] = '\0';
    }
}

static int serve(void) {
    char line[LINE_CAPACITY];
    wchar_t wide[LINE_CAPACITY];
    while (fgets(line, sizeof line, stdin) != NULL) {
        strip_line_end(line);
        if (MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, LINE_CAPACITY) == 0) {
            answer_failed("error", "the line is not UTF-8");
            continue;
        }
        run_line(wide);
    }
    return kExitOk;
}

/* The command line after our own name, as one line of words. */
static wchar_t* arguments(void) {
    wchar_t* p = GetCommandLineW();
    int quoted = 0;
    while (*p != L'\0' && (quoted || (*p != L' ' && *p != L'\t'))) {
        quoted ^= *p == L'"';
        ++p;
    }
    return p;
}

int wmain(void) {
    static wchar_t line[LINE_CAPACITY];
    wcsncpy(line, arguments(), LINE_CAPACITY - 1);
    wchar_t* words[MAX_WORDS];
    int count = split_words(line, words);
    if (count == 0) {
        fputs("usage: window_driver.exe COMMAND [ARGUMENTS...] | window_driver.exe serve\n",
              stderr);
        return kExitUsage;
    }
    if (wcscmp(words[0], L"serve") == 0) {
        return serve();
    }
    return dispatch(count, words);
}
