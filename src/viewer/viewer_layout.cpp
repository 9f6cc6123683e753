#include "viewer/viewer_layout.h"

namespace lumora::viewer {
namespace {

int times(double factor, int value)
{
    return static_cast<int>(std::lround(factor * value));
}

} // namespace

ViewerLayout::ViewerLayout()
    : toolbarPanel{0, 0, 9180, 450}, list{0, 960, 9375, 1815}, subject{0, 2760, 4695, 375},
      sender{4680, 2760, 3015, 375}, date{7695, 2760, 1680, 375},
      // The body is moved from its design place (0, 3120) when the window loads.
      body{20, 3900, 9375, 3735}, copyButton{1920, 6960, 2895, 255}, copyField{5160, 6960, 3735,
                                                                               270}
{
}

void ViewerLayout::apply(int w, int h, int statusBarLeft, int statusBarTop, bool maximized)
{
    list.width = times(0.99, w);
    list.height = times(0.25, h);
    const int l = list.height;
    subject.top = sender.top = date.top = l + 940;
    toolbarPanel.width = w;
    body.width = times(0.99, w);
    body.top = l + 1300;
    subject.width = times(0.5, w);
    sender.width = times(0.3, w);
    date.width = times(0.2, w);
    subject.left = body.left - 15;
    sender.left = subject.left + subject.width;
    date.left = sender.left + sender.width;
    // The copy field follows the button's place before the button moves.
    copyField.left = copyButton.left + 3380;
    copyField.top = statusBarTop + 80;
    copyButton.left = statusBarLeft + 1880;
    copyButton.top = statusBarTop + 80;
    body.height = times(0.62, h - l);
    if (maximized) {
        copyField.top = h - 1000;
        copyButton.top = h - 980;
    }
}

} // namespace lumora::viewer
