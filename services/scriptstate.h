#ifndef KORVELLO_SCRIPTSTATE_H
#define KORVELLO_SCRIPTSTATE_H

// What can be said of a maintenance script on the medium before it runs.
enum class ScriptState {
    Runnable,
    Missing,
    NotExecutable,
    // Executable, but the kernel cannot start it: not a regular file, no
    // "#!" line and no program for this machine, or a "#!" line whose
    // interpreter cannot run (missing, not executable, or saved with a
    // carriage return, as an editor on another system leaves it).
    Unstartable,
};

#endif
