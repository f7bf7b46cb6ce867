// TapeMotor's editor window: the big button that stops the tape, a live
// picture of the tape, and every other parameter with its text.
#pragma once

#include "AEffEditor.h"

class TapeMotor;

// A new editor for the effect, or null where this build has no windows
// (TapeMotorNoEditor.cpp). Called once, at the end of the effect's
// constructor: the editor takes the parameter values then as their defaults.
AEffEditor* createTapeMotorEditor(TapeMotor& effect);
