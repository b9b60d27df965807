#pragma once
// What the operator did at the terminal, decoded from the keys and mouse reports of the screen.

namespace ui::term {

enum class Key {
    Char,       // a printable character in `ch`
    Tab,
    BackTab,    // Shift+Tab
    Enter,
    Escape,
    Space,
    Backspace,
    Delete,
    Up,
    Down,
    Left,
    Right,
    PageUp,
    PageDown,
    Home,
    End,
    Click,      // left mouse button at `col`, `row`
    Resize,     // the terminal changed its size
    Interrupt,  // Ctrl+C
};

struct InputEvent {
    Key key = Key::Char;
    wchar_t ch = 0;
    int col = 0, row = 0;
};

}  // namespace ui::term
