#ifndef KORVELLO_SCRIPTSTATE_H
#define KORVELLO_SCRIPTSTATE_H

// What can be said of a maintenance script on the medium before it runs.
enum class ScriptState {
    Runnable,
    Missing,
    NotExecutable,
    // Executable, but the kernel cannot start it: no "#!" line and not a
    // program, or a "#!" line saved with a carriage return, as an editor
    // on another system leaves it.
    Unstartable,
};

#endif
