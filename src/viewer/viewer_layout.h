#pragma once

#include <cmath>

// Where the viewer puts its controls when its size changes, in twips. The
// window reads its outer size, asks for the layout and places the controls;
// the arithmetic lives here so that it can be checked without a display.
namespace lumora::viewer {

struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const TwipsRect&) const = default;
};

class ViewerLayout {
public:
    // The design positions.
    ViewerLayout();

    // Lays the controls out for a window of outer width w and height h, with
    // the status bar's top and left as they are now.
    void apply(int w, int h, int statusBarLeft, int statusBarTop, bool maximized);

    TwipsRect toolbarPanel; // Picture1(1)
    TwipsRect list;         // MailListView
    TwipsRect subject;      // Text7
    TwipsRect sender;       // Text8
    TwipsRect date;         // Text9
    TwipsRect body;         // rtfEd
    TwipsRect copyButton;   // Command1
    TwipsRect copyField;    // Text6
};

} // namespace lumora::viewer
