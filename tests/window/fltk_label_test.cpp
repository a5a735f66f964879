// What FLTK draws for the label the window module gives a control: the text
// its label drawing hands on, and the width it measures (a symbol drawn
// beside the text would add to it). Runs on a virtual display: FLTK
// measures text only with a display open.
#include <gtest/gtest.h>

#include <string>

// After googletest: FLTK's drawing header brings X11's macros (None), which
// googletest uses as names.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>

#include "fltk/FltkLabel.h"

namespace {

std::string drawn;

void Record(const char* text, int length, int, int) { drawn.append(text, length); }

TEST(FltkLabel, CaptionsShowAsWritten) {
  ASSERT_GT(Fl::screen_count(), 0);  // opens the display
  fl_font(FL_HELVETICA, 11);
  for (const char* caption :
       {" HotSync Action for Mail@Home ", "@Home", "Mail@", "a@@b", "x @-> y"}) {
    Fl_Button button(0, 0, 400, 20);
    button.copy_label(fernwick::formwindow::LiteralLabel(caption).c_str());
    drawn.clear();
    fl_draw(button.label(), 0, 0, 400, 20, FL_ALIGN_LEFT | FL_ALIGN_INSIDE, &Record, nullptr, 1);
    EXPECT_EQ(drawn, caption);
    int width = 1000, height = 0;
    fl_measure(button.label(), width, height, 1);
    EXPECT_EQ(width, static_cast<int>(fl_width(caption))) << caption;
  }
}

}  // namespace
