#pragma once
// Resource identifiers shared by corvane.rc and the code.
#define CORVANE_TOOLBOX_BITMAP 1  // 16 x 15, 24-bit: the form designer's toolbox
#define CORVANE_PICTURE_BITMAP 2  // 28 x 28, 24-bit: what the control shows
