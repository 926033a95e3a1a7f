// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// A spin box refuses a keystroke that would take it out of its range, and
// silently: "99" typed into a 0..59 box stays "9". This says so instead, at
// the box, with its range ("99 is refused: from 0 to 59"), for every spin
// box under root. The refusal itself stays Qt's.
void sayRefusedKeys(QWidget *root);
