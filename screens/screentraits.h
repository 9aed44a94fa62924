#ifndef KORVELLO_SCREENTRAITS_H
#define KORVELLO_SCREENTRAITS_H

#include "scriptrunner.h"
#include "texts.h"

// What sets the three maintenance screens apart. The shared machinery (form,
// start, countdown, script runner) reads one row of this table; everything
// not in it is the same on every screen.
struct ScreenTraits
{
    const char *className;      // also the translation context
    const Texts::ScreenTexts &texts;
    const char *buttonName;
    int autoStartControl;       // control state that starts the job by itself
    const char *autoRunLog;     // extra item logged at the automatic start, or null
    const char *clickLogLead;   // first item of the click handler's line, or null
    const char *clickLogName;
    int loadDelayMs;            // click to slot_toLoadTimeOut
    ScriptRunner::Traits runner;
};

namespace Screens {
extern const ScreenTraits kBackup;
extern const ScreenTraits kRecover;
extern const ScreenTraits kUpgrade;

// Delays shared by every screen.
constexpr int kAutoStartDelayMs = 2000;
constexpr int kRebootTickMs = 1000;
constexpr int kRebootSeconds = 5;
} // namespace Screens

#endif
