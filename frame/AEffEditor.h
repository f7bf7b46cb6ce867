// The interface of an effect's editor window. The effect owns its editor and
// destroys it; the dispatchers call the operations below only when an editor
// is set. Every default does nothing and answers false.
#pragma once

#include "VstInterface.h"

class AEffEditor {
public:
    virtual ~AEffEditor() = default;
    virtual bool getRect(ERect** rect) { (void)rect; return false; }
    virtual bool open(void* parentWindow) { (void)parentWindow; return false; }
    virtual void close() {}
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode& keyCode) { (void)keyCode; return false; }
    virtual bool onKeyUp(VstKeyCode& keyCode) { (void)keyCode; return false; }
    virtual bool setKnobMode(VstInt32 mode) { (void)mode; return false; }
};
