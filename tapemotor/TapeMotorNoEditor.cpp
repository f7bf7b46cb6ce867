// A build without Tarvo::Editor: TapeMotor shows the host's own controls.
#include "TapeMotorEditor.h"

AEffEditor* createTapeMotorEditor(TapeMotor&) { return nullptr; }
