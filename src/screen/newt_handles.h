// RAII owners for the widget library's resources, so that every dialog
// destroys its form and removes its window on every way out.
#pragma once

#include <newt.h>

#include <cstdlib>
#include <memory>
#include <string>

// A form and, once opened, the window around it. Destroys the form (with all
// its widgets) and then pops the window.
class ScreenForm {
public:
    explicit ScreenForm(newtComponent form = nullptr) : form_(form) {}
    ScreenForm(const ScreenForm &) = delete;
    ScreenForm &operator=(const ScreenForm &) = delete;
    ~ScreenForm() { close(); }

    newtComponent get() const { return form_; }
    void window_opened() { window_ = true; }

    // Puts every widget of `grid` on the form, opens a centred window fitted
    // to the grid with `title`, and releases the grid (not its widgets).
    void open(newtGrid grid, const char *title)
    {
        std::string title_text = title != nullptr ? title : "";
        newtGridAddComponentsToForm(grid, form_, 1);
        newtGridWrappedWindow(grid, title_text.data());
        window_opened();
        newtGridFree(grid, 1);
    }
    void close()
    {
        if (form_ != nullptr)
            newtFormDestroy(form_);
        form_ = nullptr;
        if (window_)
            newtPopWindow();
        window_ = false;
    }

private:
    newtComponent form_;
    bool window_ = false;
};

// Text reflowed by the widget library; `text` and the size of the block.
struct Reflowed {
    std::string text;
    int width = 0;
    int height = 0;
};

inline Reflowed reflow_text(const std::string &text, int width, int flex_down, int flex_up)
{
    std::string copy = text;
    Reflowed result;
    char *flowed = newtReflowText(copy.data(), width, flex_down, flex_up, &result.width, &result.height);
    if (flowed != nullptr) {
        result.text = flowed;
        std::free(flowed);
    }
    return result;
}

// A wrapping text box as large as `text` reflowed at 60 columns, 5 either
// way; it never scrolls.
inline newtComponent wrapped_text_box(const std::string &text)
{
    Reflowed flowed = reflow_text(text, 60, 5, 5);
    newtComponent box = newtTextbox(-1, -1, flowed.width, flowed.height, NEWT_FLAG_WRAP);
    newtTextboxSetText(box, flowed.text.c_str());
    return box;
}

// A wrapping text box for `text` reflowed at `target` columns, 5 either way,
// at most 6 rows high with a scroll bar beyond that, plus `extra_rows`.
inline newtComponent scrolling_text_box(const std::string &text, int target, int extra_rows = 0)
{
    Reflowed flowed = reflow_text(text, target, 5, 5);
    int flags = NEWT_FLAG_WRAP;
    int height = flowed.height;
    if (height > 6) {
        height = 6;
        flags |= NEWT_FLAG_SCROLL;
    }
    newtComponent box = newtTextbox(-1, -1, flowed.width, height + extra_rows, flags);
    newtTextboxSetText(box, flowed.text.c_str());
    return box;
}
