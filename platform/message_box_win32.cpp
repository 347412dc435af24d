#include "platform/message_box.h"

#include <windows.h>

#include <cstdio>
#include <string>

// Windows' own message boxes. Texts arrive as UTF-8 and are shown through the wide-character calls.
namespace zorbrix {
namespace {

std::wstring widen(const char* text) {
    if (text == nullptr || *text == '\0') return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));  // drop the terminator the conversion counted
    return wide;
}

UINT icon_flags(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Question: return MB_ICONQUESTION;
    case MessageIcon::Information: return MB_ICONINFORMATION;
    case MessageIcon::Error: return MB_ICONERROR;
    case MessageIcon::None: break;
    }
    return 0;
}

// A Yes/No box ignores Escape on Windows (it has no Cancel button). The intro answers Escape with No everywhere, so
// while the question is up a message filter on this thread turns Escape into No.
LRESULT CALLBACK escape_answers_no(int code, WPARAM wparam, LPARAM lparam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lparam);
    if (code == MSGF_DIALOGBOX && msg != nullptr && msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        if (HWND box = GetAncestor(msg->hwnd, GA_ROOT)) {
            EndDialog(box, IDNO);
            return TRUE;
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

Answer ask_yes_no(const char* caption, const char* text, MessageIcon icon) {
    HHOOK hook = SetWindowsHookExW(WH_MSGFILTER, escape_answers_no, nullptr, GetCurrentThreadId());
    const int pressed = MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(),
                                    MB_YESNO | icon_flags(icon) | MB_SETFOREGROUND | MB_TASKMODAL);
    if (hook) UnhookWindowsHookEx(hook);
    if (pressed == 0) return Answer::Unavailable;
    return pressed == IDYES ? Answer::Yes : Answer::No;
}

bool show_message_box(const char* caption, const char* text, MessageIcon icon, bool print_if_unavailable) {
    const int pressed = MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(),
                                    MB_OK | icon_flags(icon) | MB_SETFOREGROUND | MB_TASKMODAL);
    if (pressed != 0) return true;
    if (print_if_unavailable) {
        std::printf("%s\n", text);
        std::fflush(stdout);
    }
    return false;
}

}  // namespace zorbrix
