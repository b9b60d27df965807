#include "platform/ui/terminal/chooser.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/ui/terminal/draw.h"

namespace fs = std::filesystem;

namespace ui::term {
namespace {

std::string folderPath(const fs::path& p) {
    std::string s = p.lexically_normal().string();
    if (s.size() > 1 && s.back() == '/') s.pop_back();
    return s.empty() ? "/" : s;
}

}  // namespace

bool wildcardMatch(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    auto same = [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], name[n])))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

FileFilter firstFilter(std::string_view f) {
    FileFilter filter;
    size_t bar = f.find('|');
    filter.name = std::string(f.substr(0, bar));
    if (bar != f.npos) {
        std::string_view pats = f.substr(bar + 1);
        pats = pats.substr(0, pats.find('|'));
        while (!pats.empty()) {
            size_t semi = pats.find(';');
            if (!pats.substr(0, semi).empty()) filter.patterns.emplace_back(pats.substr(0, semi));
            if (semi == pats.npos) break;
            pats.remove_prefix(semi + 1);
        }
    }
    if (filter.patterns.empty()) filter.patterns.push_back("*");
    return filter;
}

bool FileFilter::matches(std::string_view fileName) const {
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& p) { return wildcardMatch(p, fileName); });
}

std::string FileFilter::patternText() const {
    std::string text;
    for (const std::string& p : patterns) text += (text.empty() ? "" : ";") + p;
    return text;
}

std::vector<std::string> candidateFiles(const std::string& dir, const FileFilter& filter) {
    std::vector<std::pair<fs::file_time_type, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code e2;
        if (!name.empty() && name[0] != '.' && it->is_regular_file(e2) && filter.matches(name)) {
            found.emplace_back(it->last_write_time(e2), name);
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second > b.second;
    });
    std::vector<std::string> names;
    for (auto& f : found) names.push_back(std::move(f.second));
    return names;
}

FileChooser::FileChooser(ChooserOptions options) : options_(std::move(options)), filter_(firstFilter(options_.filter)) {
    std::error_code ec;
    std::string start = options_.initialDir.empty() ? fs::current_path(ec).string() : options_.initialDir;
    load(start);
}

void FileChooser::load(const std::string& dir) {
    std::error_code ec;
    fs::path abs = fs::absolute(dir, ec);
    std::vector<Entry> folders, files;
    fs::directory_iterator it(abs, fs::directory_options::skip_permission_denied, ec);
    if (ec) {
        status_ = "Cannot open folder " + abs.string();
        return;
    }
    dir_ = folderPath(abs);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code e2;
        if (it->is_directory(e2)) {
            folders.push_back({name, true});
        } else if (filter_.matches(name)) {
            files.push_back({name, false});
        }
    }
    auto byName = [](const Entry& a, const Entry& b) { return a.name < b.name; };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    entries_.clear();
    if (dir_ != "/") entries_.push_back({"..", true});
    entries_.insert(entries_.end(), folders.begin(), folders.end());
    entries_.insert(entries_.end(), files.begin(), files.end());
    selected_ = -1;
    scroll_ = 0;
    typed_.clear();
    status_.clear();
}

void FileChooser::select(int index) {
    if (entries_.empty()) return;
    selected_ = std::clamp(index, 0, int(entries_.size()) - 1);
    const Entry& e = entries_[size_t(selected_)];
    typed_ = e.folder ? e.name + "/" : e.name;
}

void FileChooser::open() {
    status_.clear();
    if (typed_.empty()) return;
    fs::path p = typed_[0] == '/' ? fs::path(typed_) : fs::path(dir_) / typed_;
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        load(p.string());
        return;
    }
    std::string ext = options_.defaultExt;
    if (!ext.empty() && ext[0] != '.') ext = "." + ext;
    if (!fs::exists(p, ec) && !p.has_extension() && !ext.empty()) p += ext;
    if (options_.mustExist && !fs::is_regular_file(p, ec)) {
        status_ = "File not found: " + p.filename().string();
        return;
    }
    result_ = p.lexically_normal().string();
    state_ = State::Chosen;
}

FileChooser::State FileChooser::handle(const InputEvent& e) {
    if (state_ != State::Open) return state_;
    int page = std::max(1, list_.rows - 1);
    switch (e.key) {
    case Key::Escape: state_ = State::Cancelled; break;
    case Key::Enter: open(); break;
    case Key::Up: select(selected_ < 0 ? 0 : selected_ - 1); break;
    case Key::Down: select(selected_ + 1); break;
    case Key::PageUp: select(selected_ - page); break;
    case Key::PageDown: select(selected_ + page); break;
    case Key::Home: select(0); break;
    case Key::End: select(int(entries_.size()) - 1); break;
    case Key::Backspace:
        if (!typed_.empty()) typed_.pop_back();
        selected_ = -1;
        break;
    case Key::Space: typed_ += ' '; break;
    case Key::Char:
        if (e.ch < 0x100) typed_ += char(e.ch);
        selected_ = -1;
        break;
    case Key::Click:
        if (openButton_.contains(e.col, e.row)) {
            open();
        } else if (cancelButton_.contains(e.col, e.row)) {
            state_ = State::Cancelled;
        } else if (list_.contains(e.col, e.row)) {
            int index = scroll_ + e.row - list_.row;
            if (index < int(entries_.size())) {
                if (index == selected_) {
                    open();  // a second click on the same entry opens it
                } else {
                    select(index);
                }
            }
        }
        break;
    default: break;
    }
    return state_;
}

void FileChooser::draw(Canvas& canvas) {
    // A margin of the wizard stays in sight around it, also at 80 x 24.
    int inner = std::min(canvas.cols() - 8, 90), rows = std::min(canvas.rows() - 6, 22);
    CellRect client{(canvas.cols() - inner) / 2, (canvas.rows() - rows) / 2, inner, rows};
    drawDialogFrame(canvas, client, options_.title);
    int x = client.col + 1, w = inner - 2;
    auto line = [&](int row, const std::string& text, Paint paint) { canvas.put(x, row, widen(text), paint, w); };
    std::string where = dir_;
    if (int(where.size()) + 9 > w) where = "..." + where.substr(where.size() - size_t(std::max(0, w - 12)));
    line(client.row, "Look in: " + where, Paint::Window);
    line(client.row + 1, "Files of type: " + filter_.name + " (" + filter_.patternText() + ")", Paint::Window);
    list_ = CellRect{x, client.row + 3, w, rows - 8};
    canvas.box(CellRect{x - 1, list_.row - 1, w + 2, list_.rows + 2}, Paint::Border);
    if (selected_ >= 0) {
        if (selected_ < scroll_) scroll_ = selected_;
        if (selected_ >= scroll_ + list_.rows) scroll_ = selected_ - list_.rows + 1;
    }
    for (int i = 0; i < list_.rows && scroll_ + i < int(entries_.size()); ++i) {
        const Entry& e = entries_[size_t(scroll_ + i)];
        std::wstring text = widen(e.folder ? e.name + "/" : e.name);
        Paint paint = scroll_ + i == selected_ ? Paint::Focus : Paint::Field;
        if (paint == Paint::Focus) canvas.fill(CellRect{x, list_.row + i, w, 1}, L' ', paint);
        canvas.put(x + 1, list_.row + i, text, paint, w - 1);
    }
    if (entries_.empty()) line(list_.row, " (no matching files here)", Paint::Disabled);
    int row = list_.bottom() + 1;
    line(row, "File name: " + typed_ + "_", Paint::Window);
    if (!status_.empty()) line(row + 1, status_, Paint::Failed);
    ControlView open, cancel;
    open.kind = cancel.kind = Kind::PushButton;
    open.text = "Open";
    open.style = BS_DEFPUSHBUTTON;
    cancel.text = "Cancel";
    openButton_ = open.cells = CellRect{client.right() - 26, client.bottom() - 1, 12, 1};
    cancelButton_ = cancel.cells = CellRect{client.right() - 13, client.bottom() - 1, 12, 1};
    drawControl(canvas, open);
    drawControl(canvas, cancel);
    canvas.put(x, client.bottom() - 1, L"Up/Down choose, or type a name", Paint::Disabled, w - 27);
}

}  // namespace ui::term
