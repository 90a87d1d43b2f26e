#pragma once
// Text from discs, project files and file names on its way to a terminal:
// a control character in a name could move the cursor, retitle the window
// or hide the lines before it, so every one is shown as "\xNN".

#include <string>

// `text` with C0 controls, DEL and C1 controls (U+0080 to U+009F, and such
// bytes outside any UTF-8 character) written as "\xNN".
std::string ShownText(const std::string& text);
