#pragma once
// The open-file dialog of the terminal: a folder's subfolders and the files its filter lets
// through, a file name line the operator can type a name or path into, Open and Cancel. It only
// reacts to input and draws itself; the backend runs it as a modal box.
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/terminal/canvas.h"
#include "platform/ui/terminal/input.h"

namespace ui::term {

struct ChooserOptions {
    std::string title;
    std::string filter;      // "Name|pattern;pattern|...||" as the open-file dialog takes it
    std::string initialDir;  // empty: the current directory
    std::string defaultExt;  // added to a typed name that has no extension ("TXT" or ".TXT")
    bool mustExist = true;
};

// Case-insensitive match with "*" and "?", as the Windows file dialog filters names.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// The first entry of an open-file dialog's filter: its name and its patterns ("*" when none).
struct FileFilter {
    std::string name;
    std::vector<std::string> patterns;
    bool matches(std::string_view fileName) const;
    std::string patternText() const;  // "a;b"
};
FileFilter firstFilter(std::string_view filter);

// The regular files of `dir` the filter lets through, newest first (by modification time).
std::vector<std::string> candidateFiles(const std::string& dir, const FileFilter& filter);

class FileChooser {
public:
    enum class State { Open, Chosen, Cancelled };
    struct Entry {
        std::string name;
        bool folder = false;
    };

    explicit FileChooser(ChooserOptions options);

    State handle(const InputEvent& event);
    State state() const { return state_; }
    // The chosen file's full path once state() is Chosen.
    const std::string& result() const { return result_; }

    void draw(Canvas& canvas);

    const std::string& directory() const { return dir_; }
    const std::vector<Entry>& entries() const { return entries_; }
    const std::string& typed() const { return typed_; }

private:
    void load(const std::string& dir);
    void select(int index);
    void open();

    ChooserOptions options_;
    FileFilter filter_;
    std::string dir_;
    std::vector<Entry> entries_;
    int selected_ = -1;
    int scroll_ = 0;
    std::string typed_;
    std::string status_;
    std::string result_;
    State state_ = State::Open;
    // Where the last draw put things, for mouse clicks.
    CellRect list_, openButton_, cancelButton_;
};

}  // namespace ui::term
