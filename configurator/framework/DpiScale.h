// The program's own pixel figures (the main window's buttons and the band that holds them, the
// smallest sizes of resizable windows, list columns, hand-placed controls) are designed for a screen
// of 96 dots per inch. The program declares itself aware of the system's DPI in its manifest, so
// Windows draws it unstretched at 125 % or 150 % and its fonts and dialog templates grow with the
// screen: every such figure goes through ScalePixels, which leaves it exactly as designed at 96 DPI.
#pragma once

// The screen's dots per inch as the program's fonts see them (LOGPIXELSY of the screen; 96 at
// 100 %, 120 at 125 %, 144 at 150 %). Fixed for the process's life, as Windows fixes the system DPI.
int ScreenDpi();

// A figure of 96-DPI pixels at the screen's DPI, rounded to the nearest pixel.
int ScalePixels(int pixels);

// A figure that frames dialog templates (the smallest size of a window that holds them). Templates
// are laid out in dialog units of their font (Segoe UI, 9 points), which the font's measurements at
// the screen's DPI make into pixels: rounded to whole pixels, they may grow a few percent more than
// the DPI does. The figure grows by the larger of the two, across or down.
int ScaleForTemplates(int pixels, bool vertical);
