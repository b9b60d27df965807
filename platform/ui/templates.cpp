#include <deque>
#include <mutex>

#include "platform/ui/model.h"

namespace ui {
namespace {

using enum Kind;

std::deque<DialogTemplate> builtIn() {
    return {
#define KORAL_DIALOG(id, caption, cx, cy, style, face, points) {id, caption, cx, cy, DWORD(style), face, points, {
#define KORAL_CONTROL(id, kind, text, x, y, cx, cy, style, image) {id, kind, text, x, y, cx, cy, DWORD(style), image},
#define KORAL_END() }},
#include "res/dialogs/dialogs.def"
#undef KORAL_DIALOG
#undef KORAL_CONTROL
#undef KORAL_END
    };
}

std::mutex& mutex() {
    static std::mutex m;
    return m;
}

std::deque<DialogTemplate>& table() {
    static std::deque<DialogTemplate> t = builtIn();
    return t;
}

}  // namespace

const DialogTemplate* findDialogTemplate(int id) {
    std::lock_guard lock(mutex());
    for (const DialogTemplate& t : table()) {
        if (t.id == id) return &t;
    }
    return nullptr;
}

void registerDialogTemplate(DialogTemplate tmpl) {
    std::lock_guard lock(mutex());
    for (DialogTemplate& t : table()) {
        if (t.id == tmpl.id) {
            t = std::move(tmpl);
            return;
        }
    }
    table().push_back(std::move(tmpl));
}

}  // namespace ui
