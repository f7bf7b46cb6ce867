/// @file
/// AEffEditor: the interface of an effect's editor window.
#pragma once

#include "VstInterface.h"

/// The interface of an effect's editor window. The effect owns its editor and
/// destroys it; the dispatchers call the operations below only when an editor
/// is set (without one, the opcodes answer 0). Every default does nothing and
/// answers false.
class AEffEditor {
public:
    /// Called by the effect's destructor after effClose (1); any thread; releases nothing of its own.
    virtual ~AEffEditor() = default;
    /// effEditGetRect (13); the host's UI thread; answers false.
    virtual bool getRect(ERect** rect) { (void)rect; return false; }
    /// effEditOpen (14) with the host's parent window; the host's UI thread; answers false.
    virtual bool open(void* parentWindow) { (void)parentWindow; return false; }
    /// effEditClose (15); the host's UI thread; does nothing.
    virtual void close() {}
    /// effEditIdle (19); the host's UI thread; does nothing.
    virtual void idle() {}
    /// effEditKeyDown (59); the host's UI thread; answers false (key not used).
    virtual bool onKeyDown(VstKeyCode& keyCode) { (void)keyCode; return false; }
    /// effEditKeyUp (60); the host's UI thread; answers false (key not used).
    virtual bool onKeyUp(VstKeyCode& keyCode) { (void)keyCode; return false; }
    /// effSetEditKnobMode (61); the host's UI thread; answers false.
    virtual bool setKnobMode(VstInt32 mode) { (void)mode; return false; }
};
