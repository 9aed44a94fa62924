# The phase of a medium script that a console log shows at its end, from
# the tool's lines (the script's start, its exit code) and the guest's
# "device-vm: state" lines (device-vm/phases). Run with -v kind=backup,
# restoration or upgrade; prints the phase's name, or "none" when the
# script has not started.
#
#   settling   what an earlier cut left is still there, since the start
#   start      before the script's first write (its checks, its digest)
#   writing    the archive's .part file is written            (backup)
#   publishing its data synced, the side file and the archive renamed
#   unpacking  /data.new is written                      (restoration)
#   swapping   marked /data.ready, /data moved aside, the new data in
#              its place, /data.old removed
#   staging    the stage is written and checked              (upgrade)
#   placing    the stage marked complete, each new file beside its
#              target, the old one kept, the new ones renamed over
#   committing every target checked, the hook, the version, the kept
#              files and the stage removed
#   undoing    the kept files put back after a failure
#   finishing  nothing of its own left half done: the last syncs, the
#              history line
#   ended      the tool has read the script's exit code
# Each lasts long enough on the power-cut run's slow disks for a cut aimed
# at it to land in it.
function own(state,    words, n, i, out) {
    n = split(state, words, " ")
    out = ""
    for (i = 1; i <= n; i++)
        if (words[i] in marker)
            out = out " " words[i]
    return out == "" ? "idle" : substr(out, 2)
}
function has(state, word) {
    return index(" " state " ", " " word " ") > 0
}
function phase_of(state) {
    if (kind == "backup")
        return has(state, "side.part") || has(state, "side-alone") ? "publishing" : "writing"
    if (kind == "restoration")
        return has(state, "data.ready") || has(state, "data.old") ? "swapping" : "unpacking"
    if (version != start_version) return "committing"
    if (has(state, "beside")) { placed = 1; return "placing" }
    if (has(state, "stage.new")) return "staging"
    # Each target is kept before its new file goes beside it: kept files
    # without new ones are the placing until a new file has been seen,
    # then the committing; the stage alone after that is the undoing.
    if (has(state, "kept")) return placed ? "committing" : "placing"
    return placed ? "undoing" : "placing"
}
BEGIN {
    if (kind == "backup") split("archive.part side.part side-alone", words, " ")
    else if (kind == "restoration") split("data.new data.ready data.old", words, " ")
    else split("stage.new stage.ready beside kept", words, " ")
    for (i in words) marker[words[i]] = 1
    phase = "none"
    state = "idle"
}
{ sub(/\r$/, "") }
/device-vm: state / {
    line = $0
    sub(/.*device-vm: state /, "", line)
    version = line
    sub(/.* version=/, "", version)
    sub(/ ?version=.*/, "", line)
    state = own(line)
    if (phase == "none" || phase == "ended") next
    if (phase == "settling") {
        if (state == "idle") { phase = "start"; start_version = version }
        next
    }
    if (state == "idle") { phase = wrote ? "finishing" : "start"; next }
    wrote = 1
    next_phase = phase_of(state)
    phase = next_phase
    next
}
/=== +(runBackupSH|runCmdSH) / {
    phase = state == "idle" ? "start" : "settling"
    start_version = version
    wrote = 0
    placed = 0
    next
}
/^Exit Code:/ { if (phase != "none") phase = "ended" }
END { print phase }
