/* Kestrel Clock, the example product's program: one window of class "KestrelClock" titled
   "Kestrel Clock" that shows the time and the date, repainted every second. The setup's
   WINDOW command and the uninstaller close it by that class and title. */
#include <windows.h>

#include <stdio.h>

#define CLOCK_CLASS "KestrelClock"
#define CLOCK_TITLE "Kestrel Clock"
#define TICK_TIMER 1

static struct {
    HFONT timeFont;
    HFONT dateFont;
} S;

static void PaintClock(HWND window, HDC dc) {
    RECT area, timeArea, dateArea;
    SYSTEMTIME now;
    char timeText[16], dateText[32];
    GetClientRect(window, &area);
    FillRect(dc, &area, (HBRUSH)GetStockObject(BLACK_BRUSH));
    GetLocalTime(&now);
    snprintf(timeText, sizeof timeText, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    snprintf(dateText, sizeof dateText, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
    timeArea = area;
    timeArea.bottom = area.top + (area.bottom - area.top) * 2 / 3;
    dateArea = area;
    dateArea.top = timeArea.bottom;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 196, 64));
    SelectObject(dc, S.timeFont);
    DrawTextA(dc, timeText, -1, &timeArea, DT_CENTER | DT_BOTTOM | DT_SINGLELINE);
    SetTextColor(dc, RGB(160, 160, 160));
    SelectObject(dc, S.dateFont);
    DrawTextA(dc, dateText, -1, &dateArea, DT_CENTER | DT_TOP | DT_SINGLELINE);
}

static LRESULT CALLBACK ClockProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    PAINTSTRUCT paint;
    switch (message) {
    case WM_CREATE:
        SetTimer(window, TICK_TIMER, 1000, NULL);
        return 0;
    case WM_TIMER:
        InvalidateRect(window, NULL, FALSE);
        return 0;
    case WM_PAINT:
        PaintClock(window, BeginPaint(window, &paint));
        EndPaint(window, &paint);
        return 0;
    case WM_DESTROY:
        KillTimer(window, TICK_TIMER);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    WNDCLASSA windowClass;
    HWND window;
    MSG message;
    (void)previous;
    (void)commandLine;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = ClockProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.lpszClassName = CLOCK_CLASS;
    if (!RegisterClassA(&windowClass)) return 1;
    S.timeFont = CreateFontA(-56, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             ANTIALIASED_QUALITY, 0, "Arial");
    S.dateFont = CreateFontA(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                             ANTIALIASED_QUALITY, 0, "Arial");
    window = CreateWindowExA(0, CLOCK_CLASS, CLOCK_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, 360, 180, NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    DeleteObject(S.timeFont);
    DeleteObject(S.dateFont);
    return (int)message.wParam;
}
