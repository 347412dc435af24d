#pragma once
// The desktop's message boxes, through SDL2. They work without an open console; where no display is available
// they report that instead of showing anything.

namespace zorbrix {

enum class MessageIcon { None, Question, Information, Error };

enum class Answer { Yes, No, Unavailable };

// A Yes/No question. Return answers Yes, Escape answers No, closing the box counts as No. Unavailable when no box
// could be shown (no display).
Answer ask_yes_no(const char* caption, const char* text, MessageIcon icon = MessageIcon::Question);

// A box with an OK button. Returns false when no box could be shown; then, with print_if_unavailable set, the text
// goes to standard output instead so it is not lost.
bool show_message_box(const char* caption, const char* text, MessageIcon icon = MessageIcon::None,
                      bool print_if_unavailable = true);

}  // namespace zorbrix
