#pragma once
// The desktop's message boxes, through SDL2. They work without an open console; where no display is available
// they report that instead of showing anything.
//
// While a box is up, SIGINT, SIGTERM and SIGHUP take it down and the call reports the interruption (the program then
// ends as when its window is closed). The box lives in a process group of its own that dies with the program, even
// when the program is killed outright, so no box outlives it.

namespace zorbrix {

enum class MessageIcon {
    None,
    Question,
    Information,
    Error
};

enum class Answer {
    Yes,
    No,
    Unavailable,
    Interrupted
};

// A Yes/No question. Return answers Yes, Escape answers No, closing the box counts as No. Unavailable when no box
// could be shown (no display), Interrupted when a signal took the box down.
Answer ask_yes_no(const char* caption, const char* text, MessageIcon icon = MessageIcon::Question);

// A box with an OK button. Returns false when no box could be shown; then, with print_if_unavailable set, the text
// goes to standard output instead so it is not lost. A box taken down by a signal returns false and prints nothing
// (see message_box_interrupted()).
bool show_message_box(const char* caption, const char* text, MessageIcon icon = MessageIcon::None,
                      bool print_if_unavailable = true);

// True once a signal has taken a box down; the program is to end as when its window is closed.
bool message_box_interrupted();

}  // namespace zorbrix
