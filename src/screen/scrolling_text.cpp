// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "screen/scrolling_text.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/text.h"
#include "core/text_file.h"

#include "screen/terminal_guard.h"
#include "screen/text_layout.h"
#include "screen/window_stack.h"

namespace {

// Columns the scroll bar takes from the text: a blank and the bar.
constexpr int kBarColumns = 2;

const int kScrollKeys[] = {NEWT_KEY_PGUP, NEWT_KEY_PGDN, NEWT_KEY_HOME, NEWT_KEY_END};

// How often a running form looks at the terminal's size.
constexpr int kSizeCheckMs = 200;

struct ScrollingText {
    newtComponent box = nullptr;
    newtComponent bar = nullptr;  // made when its form first runs
    bool arrows_only = false;     // a box too low for the library's bar
    newtComponent form = nullptr; // the form that first ran after it was made
    std::vector<std::string> lines;    // the text's rows, or
    std::shared_ptr<WrappedFile> file; // a file's, read as they are shown
    int width = 0;
    int height = 0;
    int top = 0;

    int total() const { return file ? file->rows() : static_cast<int>(lines.size()); }
};

// Every scrolling box alive; each goes when newt destroys its box.
std::vector<std::unique_ptr<ScrollingText>> live;

extern "C" void forget_box(newtComponent box, void *)
{
    std::erase_if(live, [box](const auto &text) { return text->box == box; });
}

// The forms whose widgets (a list) take the scroll keys themselves.
std::vector<newtComponent> listing_forms;

extern "C" void forget_listing_form(newtComponent form, void *)
{
    std::erase(listing_forms, form);
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void show_from(ScrollingText &text, int top)
{
    const int last_top = std::max(0, text.total() - text.height);
    text.top = std::clamp(top, 0, last_top);
    std::string shown;
    const std::vector<std::string> rows =
        text.file ? text.file->rows_from(text.top, text.height)
                  : std::vector<std::string>(text.lines.begin() + text.top,
                                             text.lines.begin() + std::min(text.top + text.height, text.total()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        shown += (i > 0 ? "\n" : "") + rows[i];
    newtTextboxSetText(text.box, shown.c_str());
    if (text.bar != nullptr && !text.arrows_only)
        newtScrollbarSet(text.bar, text.top, last_top);
}

// A box for `text` (its rows or its file already in it), `width` wide and
// its height high plus `extra_rows`, showing from the row `top`.
newtComponent scrolling_box(std::unique_ptr<ScrollingText> text, int width, int rows, int extra_rows, int top)
{
    // Its window, drawn again, places the scroll bar anew.
    on_window_drawn(place_scroll_bars);
    text->width = width;
    text->height = rows;
    text->box = newtTextbox(-1, -1, width, rows + extra_rows, 0);
    newtComponentAddDestroyCallback(text->box, forget_box, nullptr);
    show_from(*text, top);
    newtComponent box = text->box;
    live.push_back(std::move(text));
    return box;
}

newtComponent scrolling_box(std::vector<std::string> lines, int width, int rows, int extra_rows)
{
    auto text = std::make_unique<ScrollingText>();
    text->lines = std::move(lines);
    return scrolling_box(std::move(text), width, rows, extra_rows, 0);
}

// The form's scrolling boxes get their scroll bars, in the box's last
// column, once the form has placed them.
ScrollingText *bind_to(newtComponent form)
{
    ScrollingText *first = nullptr;
    for (auto &text : live) {
        if (text->form == nullptr)
            text->form = form;
        if (text->form != form)
            continue;
        if (text->bar == nullptr) {
            int left = 0;
            int top = 0;
            newtComponentGetPosition(text->box, &left, &top);
            if (text->height >= 3) {
                text->bar = newtVerticalScrollbar(left + text->width - 1, top, text->height, NEWT_COLORSET_WINDOW,
                                                  NEWT_COLORSET_ACTCHECKBOX);
            } else {
                // The library's bar needs three rows for both its arrows
                // (its thumb takes the lower one of two): a lower box shows
                // just the arrows, so that it still says the text scrolls.
                text->arrows_only = true;
                text->bar = newtTextbox(left + text->width - 1, top, 1, text->height, 0);
                newtTextboxSetColors(text->bar, NEWT_COLORSET_WINDOW, NEWT_COLORSET_WINDOW);
                newtTextboxSetText(text->bar, text->height == 2 ? "\xe2\x86\x91\n\xe2\x86\x93" : "\xe2\x86\x95");
            }
            newtFormAddComponent(form, text->bar);
            for (int key : kScrollKeys)
                newtFormAddHotKey(form, key);
            show_from(*text, text->top);
        }
        if (first == nullptr)
            first = text.get();
    }
    return first;
}

} // namespace

void place_scroll_bars(newtComponent form)
{
    for (auto &text : live) {
        if (text->form != form || text->bar == nullptr)
            continue;
        int left = 0;
        int top = 0;
        newtComponentGetPosition(text->box, &left, &top);
        // The library places a single widget through a grid of one field.
        newtGrid one = newtCreateGrid(1, 1);
        newtGridSetField(one, 0, 0, NEWT_GRID_COMPONENT, text->bar, 0, 0, 0, 0, 0, 0);
        newtGridPlace(one, left + text->width - 1, top);
        newtGridFree(one, 0);
    }
}

newtComponent scrolled_text_box(const std::string &text, int width, int rows, int extra_rows)
{
    // Narrower by the bar's columns; the box keeps `width`, so that the
    // dialog keeps its size.
    std::vector<std::string> narrow = split_lines(reflow_text(text, std::max(1, width - kBarColumns), 0, 0).text);
    return scrolling_box(std::move(narrow), width, std::max(1, rows), extra_rows);
}

namespace {

// One paragraph of a file as the box shows it: safe to show, wrapped at
// `width`; an empty line is one empty row.
std::vector<std::string> wrapped_paragraph(const std::string &raw, int width)
{
    std::string text = screen_text(unix_line_ends(raw));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::vector<std::string> rows = text.empty() ? std::vector<std::string>() : split_lines(reflow_text(text, width, 0, 0).text);
    if (rows.empty())
        rows.emplace_back();
    return rows;
}

// Rows between two marks of a wrapped file: a mark is kept at the first
// paragraph that starts this many rows after the last one.
constexpr int kMarkRows = 64;

// While a form runs: where the library moves its focus, a move made while
// the terminal is too small for the windows is taken back.
class FocusKept {
public:
    explicit FocusKept(newtComponent form) : form_(form), focus_(newtFormGetCurrent(form))
    {
        newtComponentAddCallback(form_, moved, this);
    }
    ~FocusKept() { newtComponentAddCallback(form_, nullptr, nullptr); }
    FocusKept(const FocusKept &) = delete;
    FocusKept &operator=(const FocusKept &) = delete;

private:
    static void moved(newtComponent form, void *data)
    {
        auto *kept = static_cast<FocusKept *>(data);
        if (kept->taking_back_)
            return;
        if (!terminal_too_small_for_windows() || kept->focus_ == nullptr) {
            kept->focus_ = newtFormGetCurrent(form);
            return;
        }
        kept->taking_back_ = true;
        newtFormSetCurrent(form, kept->focus_);
        kept->taking_back_ = false;
    }
    newtComponent form_;
    newtComponent focus_;
    bool taking_back_ = false;
};

} // namespace

WrappedFile::WrappedFile(int fd) : fd_(fd) {}

WrappedFile::~WrappedFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void WrappedFile::wrap(int width)
{
    width = std::max(1, width);
    if (width == width_)
        return;
    width_ = width;
    marks_.assign(1, Mark{});
    rows_ = 0;
    Paragraphs paragraphs(fd_, 0);
    std::string paragraph;
    off_t at = 0;
    while (paragraphs.next(paragraph, at)) {
        if (rows_ >= marks_.back().row + kMarkRows)
            marks_.push_back(Mark{at, rows_});
        rows_ += static_cast<int>(wrapped_paragraph(paragraph, width_).size());
    }
}

// Calls `each(at, first_row, rows)` for every paragraph from the last mark
// at or before `row` (or, with `row` -1, before the offset `offset`), until
// it returns false.
template <typename Each> void WrappedFile::walk(int row, off_t offset, Each each) const
{
    auto mark = std::find_if(marks_.rbegin(), marks_.rend(),
                             [&](const Mark &m) { return row >= 0 ? m.row <= row : m.at <= offset; });
    const Mark from = mark == marks_.rend() ? Mark{} : *mark;
    Paragraphs paragraphs(fd_, from.at);
    std::string paragraph;
    off_t at = 0;
    int first = from.row;
    while (paragraphs.next(paragraph, at)) {
        const std::vector<std::string> rows = wrapped_paragraph(paragraph, width_);
        if (!each(at, first, rows))
            return;
        first += static_cast<int>(rows.size());
    }
}

std::vector<std::string> WrappedFile::rows_from(int top, int count) const
{
    std::vector<std::string> shown;
    walk(top, 0, [&](off_t, int first, const std::vector<std::string> &rows) {
        for (std::size_t i = 0; i < rows.size() && static_cast<int>(shown.size()) < count; ++i) {
            if (first + static_cast<int>(i) >= top)
                shown.push_back(rows[i]);
        }
        return static_cast<int>(shown.size()) < count;
    });
    return shown;
}

off_t WrappedFile::paragraph_of(int row) const
{
    off_t found = 0;
    walk(row, 0, [&](off_t at, int first, const std::vector<std::string> &rows) {
        found = at;
        return first + static_cast<int>(rows.size()) <= row;
    });
    return found;
}

int WrappedFile::row_of(off_t offset) const
{
    int found = 0;
    walk(-1, offset, [&](off_t at, int first, const std::vector<std::string> &) {
        if (at > offset)
            return false;
        found = first;
        return true;
    });
    return found;
}

newtComponent file_text_box(const std::shared_ptr<WrappedFile> &file, int wrap_width, int rows, int top)
{
    file->wrap(wrap_width);
    if (file->rows() <= rows) {
        std::string whole;
        const std::vector<std::string> lines = file->rows_from(0, rows);
        for (std::size_t i = 0; i < lines.size(); ++i)
            whole += (i > 0 ? "\n" : "") + lines[i];
        newtComponent box = newtTextbox(0, 0, wrap_width + kBarColumns, rows, NEWT_FLAG_WRAP);
        newtTextboxSetText(box, whole.c_str());
        return box;
    }
    auto text = std::make_unique<ScrollingText>();
    text->file = file;
    return scrolling_box(std::move(text), wrap_width + kBarColumns, rows, 0, top);
}

int text_box_top(newtComponent box)
{
    for (const auto &text : live) {
        if (text->box == box)
            return text->top;
    }
    return 0;
}

newtComponent fixed_text_box(const std::string &text, int wrap_width, int rows)
{
    const std::string whole = reflow_text(text, wrap_width, 0, 0).text;
    std::vector<std::string> lines = split_lines(whole);
    if (static_cast<int>(lines.size()) <= rows) {
        newtComponent box = newtTextbox(0, 0, wrap_width + kBarColumns, rows, NEWT_FLAG_WRAP);
        newtTextboxSetText(box, whole.c_str());
        return box;
    }
    return scrolling_box(std::move(lines), wrap_width + kBarColumns, rows, 0);
}

void scroll_keys_go_to_its_list(newtComponent form)
{
    listing_forms.push_back(form);
    newtComponentAddDestroyCallback(form, forget_listing_form, nullptr);
}

newtComponent run_form(newtComponent form, bool *remake)
{
    if (remake != nullptr) {
        *remake = made_for_another_size(form);
        if (*remake)
            return nullptr;
    }
    ScrollingText *text = bind_to(form);
    // A look at the terminal's size now and then, and Ctrl-L: the windows
    // are laid out and drawn again (or the screen asks for a larger
    // terminal) whenever the size changed, or on request.
    newtFormSetTimer(form, kSizeCheckMs);
    newtFormAddHotKey(form, kRedrawKey);
    // Where nothing takes the scroll keys, they do nothing: the library
    // would move the focus to the first or last button.
    const bool lists = std::find(listing_forms.begin(), listing_forms.end(), form) != listing_forms.end();
    if (text == nullptr && !lists) {
        for (int key : kScrollKeys)
            newtFormAddHotKey(form, key);
    }
    // A key that came in the same instant as a shrink below what the
    // windows need goes nowhere, as keys do while the size notice stands:
    // the screen did not show what it would answer. The library moves the
    // focus itself (Tab, the arrows): such a move is taken back.
    FocusKept kept(form);
    while (true) {
        newtExitStruct ended{};
        newtFormRun(form, &ended);
        const bool key_with_shrink =
            ended.reason != newtExitStruct::NEWT_EXIT_TIMER && terminal_too_small_for_windows();
        if (key_with_shrink || (ended.reason == newtExitStruct::NEWT_EXIT_TIMER && terminal_size_changed()) ||
            (ended.reason == newtExitStruct::NEWT_EXIT_HOTKEY && ended.u.key == kRedrawKey)) {
            redraw_windows();
            if (remake != nullptr && made_for_another_size(form)) {
                *remake = true;
                return nullptr;
            }
            continue;
        }
        if (ended.reason == newtExitStruct::NEWT_EXIT_TIMER)
            continue;
        if (ended.reason == newtExitStruct::NEWT_EXIT_HOTKEY) {
            const int key = ended.u.key;
            const bool scroll_key = std::find(std::begin(kScrollKeys), std::end(kScrollKeys), key) != std::end(kScrollKeys);
            if (scroll_key && text == nullptr)
                continue;
            if (scroll_key) {
                const int page = std::max(1, text->height);
                const int last = text->total();
                show_from(*text, key == NEWT_KEY_PGUP   ? text->top - page
                                 : key == NEWT_KEY_PGDN ? text->top + page
                                 : key == NEWT_KEY_HOME ? 0
                                                        : last);
                newtDrawForm(form);
                newtRefresh();
                continue;
            }
            // As newtRunForm: F12 ends the form as the form itself, any
            // other hot key with no component.
            return key == NEWT_KEY_F12 ? form : nullptr;
        }
        if (ended.reason == newtExitStruct::NEWT_EXIT_COMPONENT)
            return ended.u.co;
        return nullptr;
    }
}
