#pragma once

#include <QWidget>

namespace plumora::test {

// The control the Tab key moves to from w: the next one in the focus chain
// that takes focus by Tab (labels and the window itself are passed over).
inline QWidget* nextTabStop(QWidget* w)
{
    for (QWidget* next = w->nextInFocusChain(); next && next != w; next = next->nextInFocusChain())
        if (next->focusPolicy() & Qt::TabFocus)
            return next;
    return nullptr;
}

}  // namespace plumora::test
